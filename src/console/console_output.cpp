#include "console/console_functions.h"
#include "console/console_lock.h"
#include "console/console_text.h"
#include "host/entry_points.h"

#include <cstdint>
#include <string>
#include <utility>

namespace quorvane {

// The function-try-block keeps every exception out of the VM's frames, which
// our unwinder cannot pass: the script just gets nothing printed.
void PrintMessage(host::StaticFunctionTag*, host::StringCacheRef text) try {
    if (text.text == nullptr || text.text[0] == '\0') {
        return;
    }
    std::string copy(text.text);
    std::string escaped = EscapeForConsole(std::move(copy));

    ConsoleLockHolder lock(ConsoleLock);
    // The chunks hold no conversion, so the console reads nothing through the
    // argument list; should it read anyway, it finds zeros rather than null.
    std::uint32_t noArguments[4] = {};
    ForEachChunk(escaped, [&noArguments](const char* chunk) {
        // The console may come and go between chunks; without one the chunk
        // is dropped.
        host::ConsoleManager* console = host::ConsoleManagerGlobal.Read();
        if (console != nullptr) {
            (*host::ConsoleManagerPrint)(console, chunk, noArguments);
        }
    });
} catch (...) {
}

} // namespace quorvane
