// State-preserving host calls.
//
// Some host routines do not keep the registers that the C calling convention
// promises to keep. Around them the caller's general registers and flags are
// saved just before the call and restored just after it, so that nothing the
// compiler keeps in a register survives only by luck.
//
// Each sequence expects the routine's address in EAX and its operands in EDX
// and ECX (pinned by the wrappers below); PUSHAL saves them with the rest and
// POPAL restores them, so the sequence as a whole changes no register and no
// flag. The receiver of a member call is moved into ECX after the save.
// The sequences are strings so that the tests can run the very same bytes with
// every register preloaded and compare afterwards.
#pragma once

#include <cstdint>

// receiver in EDX; thiscall, no argument.
#define QV_PRESERVED_MEMBER0                                                                       \
    "pushal\n\t"                                                                                   \
    "pushfl\n\t"                                                                                   \
    "movl %%edx, %%ecx\n\t"                                                                        \
    "call *%%eax\n\t"                                                                              \
    "popfl\n\t"                                                                                    \
    "popal\n\t"

// receiver in EDX, argument in ECX; thiscall, the callee pops its argument.
#define QV_PRESERVED_MEMBER1                                                                       \
    "pushal\n\t"                                                                                   \
    "pushfl\n\t"                                                                                   \
    "pushl %%ecx\n\t"                                                                              \
    "movl %%edx, %%ecx\n\t"                                                                        \
    "call *%%eax\n\t"                                                                              \
    "popfl\n\t"                                                                                    \
    "popal\n\t"

// argument in EDX; cdecl, the caller pops.
#define QV_PRESERVED_PLAIN1                                                                        \
    "pushal\n\t"                                                                                   \
    "pushfl\n\t"                                                                                   \
    "pushl %%edx\n\t"                                                                              \
    "call *%%eax\n\t"                                                                              \
    "addl $4, %%esp\n\t"                                                                           \
    "popfl\n\t"                                                                                    \
    "popal\n\t"

// first argument in EDX, second in ECX; cdecl, the caller pops.
#define QV_PRESERVED_PLAIN2                                                                        \
    "pushal\n\t"                                                                                   \
    "pushfl\n\t"                                                                                   \
    "pushl %%ecx\n\t"                                                                              \
    "pushl %%edx\n\t"                                                                              \
    "call *%%eax\n\t"                                                                              \
    "addl $8, %%esp\n\t"                                                                           \
    "popfl\n\t"                                                                                    \
    "popal\n\t"

// two routines without arguments in one block: the first in EAX, the second
// in EDX (kept on the stack across the first call, which may change EDX).
#define QV_PRESERVED_PLAIN0_PAIR                                                                   \
    "pushal\n\t"                                                                                   \
    "pushfl\n\t"                                                                                   \
    "pushl %%edx\n\t"                                                                              \
    "call *%%eax\n\t"                                                                              \
    "popl %%edx\n\t"                                                                               \
    "call *%%edx\n\t"                                                                              \
    "popfl\n\t"                                                                                    \
    "popal\n\t"

namespace quorvane::host {

[[gnu::always_inline]] inline void PreservedMemberCall(std::uintptr_t routine, void* receiver) {
    asm volatile(QV_PRESERVED_MEMBER0 : : "a"(routine), "d"(receiver) : "memory");
}

[[gnu::always_inline]] inline void PreservedMemberCall(std::uintptr_t routine, void* receiver,
                                                       std::uint32_t argument) {
    asm volatile(QV_PRESERVED_MEMBER1 : : "a"(routine), "d"(receiver), "c"(argument) : "memory");
}

[[gnu::always_inline]] inline void PreservedPlainCall(std::uintptr_t routine,
                                                      std::uint32_t argument) {
    asm volatile(QV_PRESERVED_PLAIN1 : : "a"(routine), "d"(argument) : "memory");
}

[[gnu::always_inline]] inline void PreservedPlainCall(std::uintptr_t routine, std::uint32_t first,
                                                      std::uint32_t second) {
    asm volatile(QV_PRESERVED_PLAIN2 : : "a"(routine), "d"(first), "c"(second) : "memory");
}

[[gnu::always_inline]] inline void PreservedPlainCallPair(std::uintptr_t first,
                                                          std::uintptr_t second) {
    asm volatile(QV_PRESERVED_PLAIN0_PAIR : : "a"(first), "d"(second) : "memory");
}

} // namespace quorvane::host
