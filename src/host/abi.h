// Calling conventions of the host (MSVC, 32-bit x86) spelled for GCC.
//
// Member functions of the host are thiscall: the receiver in ECX, the
// arguments on the stack, popped by the callee. GCC makes member functions
// cdecl on Linux and thiscall on MinGW, so every host-facing member function
// and member-call pointer carries the attribute explicitly: the 32-bit Linux
// test build then runs exactly the convention of the DLL.
#pragma once

#if defined(__i386__)
#define QV_THISCALL __attribute__((thiscall))
#define QV_STDCALL __attribute__((stdcall))
#define QV_CDECL __attribute__((cdecl))
#else
// x86-64 has one convention; the native sanitizer and fuzz builds of the
// layout-free sources see these headers too.
#define QV_THISCALL
#define QV_STDCALL
#define QV_CDECL
#endif

#if defined(_WIN32)
#define QV_EXPORT extern "C" __declspec(dllexport)
#else
#define QV_EXPORT extern "C" __attribute__((visibility("default")))
#endif
