#pragma once

#include "script.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pexc {

// The fixed user and machine names written into every compiled file's header, so that the
// output never depends on who built it or where.
inline constexpr const char* kUserName = "quorvane";
inline constexpr const char* kMachineName = "pexc";

struct WriteOptions {
    std::string source_file_name;       // as written in the header, e.g. "Ulvaric.psc"
    std::uint64_t compilation_time = 0; // seconds since 1970
};

// The compiled file (.pex) for a script. Throws CompileError, at the line of the declaration
// concerned, when a string is longer than 65535 bytes or the script needs more than 65535
// distinct strings.
std::vector<std::uint8_t> write_pex(const Script& script, const WriteOptions& options);

} // namespace pexc
