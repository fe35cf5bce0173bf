// Shared by the two shim libraries.
#pragma once

#include "windows_shims.h"

// KERNEL32 functions are stdcall: the callee pops exactly its arguments.
// The DLL keeps the stack 4-byte aligned while our C library may expect 16,
// so every shim realigns it on entry.
#define QV_WINAPI __attribute__((stdcall, force_align_arg_pointer))
#define QV_CRTAPI __attribute__((cdecl, force_align_arg_pointer))

namespace e2e {

// For shims of functions that the DLL imports but should never call: the
// process stops with a message that names the function.
[[noreturn]] void ReportUnimplemented(const char* library, const char* name);

extern const ShimLibrary Kernel32Library;
extern const ShimLibrary MsvcrtLibrary;

// CreateThread and _beginthreadex: a thread as the test's ThreadCreation
// says. Null when no thread is given.
void* StartDllThread(void* routine, void* parameter, std::uint32_t flags, std::uint32_t* threadId);

// The calling thread's last-error value (SetLastError), for both libraries.
void SetThreadError(std::uint32_t error);

} // namespace e2e
