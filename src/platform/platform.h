// The operating-system calls the plugin makes, behind one small interface.
// The DLL implements it with the Win32 API and the C runtime (windows.cpp);
// the 32-bit Linux test build gets it from the test host, which keeps time,
// sleeps, threads, files and allocation under the tests' control.
#pragma once

#include "host/abi.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

namespace quorvane::platform {

// The system's thread-start signature.
using ThreadRoutine = unsigned long(QV_STDCALL*)(void* parameter);

// Starts routine on a new thread (default attributes and stack, null
// parameter, running at once). False when the system gives no thread. The
// thread's handle is not kept.
bool StartThread(ThreadRoutine routine);

// Sleeps; 0 gives up the rest of the time slice.
void Sleep(std::uint32_t milliseconds);

// Open a file in binary mode with a share mode that denies nothing to other
// processes; null when the open fails. Closed with std::fclose.
std::FILE* OpenForReading(const char* name);
std::FILE* OpenForAppending(const char* name);

// The current calendar time as local time; false when it cannot be computed.
bool CurrentLocalTime(std::tm* out);

// The plugin's own heap, for records the host uses for one call only.
void* AllocateZeroed(std::size_t size);
void Free(void* block);

} // namespace quorvane::platform
