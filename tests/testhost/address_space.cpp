#include "address_space.h"

#include <sys/mman.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ucontext.h>
#include <unistd.h>

namespace testhost {
namespace host = quorvane::host;

namespace {

struct NamedRoutine {
    const char* name;
    std::uintptr_t address;
};

#define QV_ROUTINE(entry)                                                                          \
    NamedRoutine {                                                                                 \
#entry, host::entry.address                                                                \
    }
#define QV_ADDRESS(entry)                                                                          \
    NamedRoutine {                                                                                 \
#entry, host::entry                                                                        \
    }
const NamedRoutine Routines[] = {
    QV_ROUTINE(HostHeapAllocate),        QV_ROUTINE(HostHeapFree),
    QV_ROUTINE(InitStringCacheRef),      QV_ROUTINE(SetStringCacheRef),
    QV_ROUTINE(InitNativeFunctionBase),  QV_ROUTINE(DestroyNativeFunctionBase),
    QV_ADDRESS(NativeFunctionBaseOp6),   QV_ADDRESS(NativeFunctionBaseOp15),
    QV_ADDRESS(NativeFunctionBaseOp16),  QV_ADDRESS(NativeFunctionBaseOp18),
    QV_ROUTINE(ReleaseValueData),        QV_ROUTINE(AssignValue),
    QV_ROUTINE(GetFirstArgumentOffset),  QV_ROUTINE(GetArgument),
    QV_ROUTINE(DestroyClassInfo),        QV_ROUTINE(DestroyScriptObject),
    QV_ROUTINE(BindScriptObject),        QV_ROUTINE(HashStringKey),
    QV_ROUTINE(MenuAddReference),        QV_ROUTINE(MenuReleaseReference),
    QV_ROUTINE(RunConsoleCommand),       QV_ROUTINE(ConsoleManagerPrint),
    QV_ROUTINE(GetReferenceHandle),      QV_ROUTINE(SelectConsoleReference),
    QV_ROUTINE(SetConsoleMenuReference), QV_ROUTINE(LookUpReferenceByHandle),
    QV_ROUTINE(ReleaseReferencePointer), QV_ROUTINE(InitializeConsoleStep1),
    QV_ROUTINE(InitializeConsoleStep2),
};
#undef QV_ROUTINE
#undef QV_ADDRESS

bool mapped = false;

void ReportTrap(int signal, siginfo_t*, void* context) {
    auto* uc = static_cast<ucontext_t*>(context);
    // int3 leaves EIP one past the trap.
    std::uintptr_t eip = static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_EIP]);
    const char* name = signal == SIGTRAP ? RoutineName(eip - 1) : nullptr;
    char line[160];
    int length =
        name != nullptr
            ? std::snprintf(line, sizeof line,
                            "test host: the plugin called %s, which this test does not provide\n",
                            name)
            : std::snprintf(line, sizeof line, "test host: signal %d at eip 0x%lx\n", signal,
                            static_cast<unsigned long>(eip));
    if (length > 0) {
        (void)!write(2, line, static_cast<std::size_t>(length));
    }
    std::_Exit(128 + signal);
}

void MapOnce() {
    if (mapped) {
        return;
    }
    void* base = mmap(reinterpret_cast<void*>(HostRangeBegin), HostRangeEnd - HostRangeBegin,
                      PROT_READ | PROT_WRITE | PROT_EXEC,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (base != reinterpret_cast<void*>(HostRangeBegin)) {
        std::fprintf(stderr, "test host: cannot map the game's address range\n");
        std::abort();
    }
    struct sigaction action {};
    action.sa_sigaction = ReportTrap;
    action.sa_flags = SA_SIGINFO;
    sigaction(SIGTRAP, &action, nullptr);
    sigaction(SIGSEGV, &action, nullptr);
    sigaction(SIGILL, &action, nullptr);
    mapped = true;
}

} // namespace

void ResetHostRange() {
    MapOnce();
    std::memset(reinterpret_cast<void*>(HostRangeBegin), 0, HostRangeEnd - HostRangeBegin);
    for (const NamedRoutine& routine : Routines) {
        *reinterpret_cast<std::uint8_t*>(routine.address) = 0xCC; // int3
    }
}

void InstallRoutine(std::uintptr_t address, const void* target) {
    MapOnce();
    auto* code = reinterpret_cast<std::uint8_t*>(address);
    auto displacement =
        static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(target) - (address + 5));
    code[0] = 0xE9; // jmp rel32
    std::memcpy(code + 1, &displacement, sizeof displacement);
}

const char* RoutineName(std::uintptr_t address) {
    for (const NamedRoutine& routine : Routines) {
        if (routine.address == address) {
            return routine.name;
        }
    }
    return nullptr;
}

} // namespace testhost
