#pragma once

#include <cstdint>

enum HostConvention : std::int32_t { HostCdecl = 0, HostStdcall = 1, HostThiscall = 2 };

// See host_call.S. Returns the stack imbalance in bytes (0: balanced).
extern "C" std::int32_t HostCall(const void* routine, std::int32_t convention, const void* receiver,
                                 const std::uint32_t* arguments, std::int32_t count,
                                 std::uint32_t* eaxEdx);
