#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace pexc {

// Source text in, compiled file out: parse_script() then write_pex(). source_file_name goes into
// the header and must match the script name. Throws CompileError.
std::vector<std::uint8_t> compile_source(std::string_view source, std::string_view source_file_name,
                                         std::uint64_t compilation_time);

// The compilation time: SOURCE_DATE_EPOCH when it is set (pass getenv's result; an empty value
// counts as unset), else the source file's modification time (0 for a time before 1970).
// Throws ToolError for a value that is not a whole number of seconds in 0..2^64-1.
std::uint64_t compilation_time(const char* source_date_epoch, const std::filesystem::path& source);

// Reads input, compiles it and writes output through a temporary file beside it that is renamed
// into place only on success: on any error, no output and no temporary file is left, and an
// output file that was already there is left as it was. Throws CompileError for the source (the
// caller adds the file name with format_error) and ToolError for anything else.
void compile_file(const std::filesystem::path& input, const std::filesystem::path& output,
                  const char* source_date_epoch);

// The command line: pexc INPUT.psc OUTPUT.pex. Returns the exit code (0 success, 1 error,
// 2 usage) and writes any error to err.
int run(const std::vector<std::string>& args, const char* source_date_epoch, std::ostream& err);

} // namespace pexc
