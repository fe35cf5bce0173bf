#include "console/initialize_thread.h"

#include "host/entry_points.h"
#include "log/log.h"
#include "platform/platform.h"

#include <cstdint>

namespace quorvane {
namespace {

constexpr std::uint32_t PollPeriod = 50;    // milliseconds between two polls
constexpr unsigned RequiredHits = 5;        // polls that must find the console up
constexpr std::uint32_t WaitBudget = 60000; // milliseconds of requested sleeps

bool ConsoleIsUp() {
    return host::ConsoleReadinessGlobal1.Read() != nullptr &&
           host::ConsoleReadinessGlobal2.Read() != nullptr &&
           host::ConsoleReadinessGlobal3.Read() != nullptr;
}

} // namespace

// Hits are counted, not required in a row: the globals may flicker while the
// game starts. The function-try-block keeps any exception from ending the
// game: our unwinder cannot pass the system's thread-start frame.
unsigned long QV_STDCALL ConsoleInitializeThread(void*) try {
    unsigned hits = 0;
    std::uint32_t elapsed = 0;
    for (;;) {
        if (ConsoleIsUp()) {
            ++hits;
        }
        if (hits >= RequiredHits) {
            break;
        }
        platform::Sleep(PollPeriod);
        elapsed += PollPeriod;
        if (elapsed >= WaitBudget) {
            WriteLog("Console initialize timed out.");
            return 0;
        }
    }
    host::CallInOneBlock(host::InitializeConsoleStep1, host::InitializeConsoleStep2);
    return 0;
} catch (...) {
    return 0;
}

} // namespace quorvane
