// The game's address range in the test process. Every host routine and global
// of the plugin lies between 0x400000 and 0x1C00000; the test host maps that
// range so the code under test calls and reads exactly the addresses it uses
// in the game, and tests put their fakes there.
#pragma once

#include "host/entry_points.h"

#include <cstdint>

namespace testhost {

inline constexpr std::uintptr_t HostRangeBegin = 0x400000;
inline constexpr std::uintptr_t HostRangeEnd = 0x1C00000;

// Maps the range (once per process) and resets it: every byte zero, every
// routine of the entry table a trap that names it when the plugin calls a
// routine that the test did not provide.
void ResetHostRange();

// Sends calls of the host routine at address to target (a 5-byte jmp rel32).
void InstallRoutine(std::uintptr_t address, const void* target);

template <typename Fn> void Install(quorvane::host::Routine<Fn> routine, Fn target) {
    InstallRoutine(routine.address, reinterpret_cast<const void*>(target));
}
template <quorvane::host::PreservedShape Shape>
void Install(quorvane::host::PreservedRoutine<Shape> routine, const void* target) {
    InstallRoutine(routine.address, target);
}

template <typename T> void Set(quorvane::host::Global<T> global, T value) {
    *global.Pointer() = value;
}

// The name of the entry-table routine at address, or null.
const char* RoutineName(std::uintptr_t address);

} // namespace testhost
