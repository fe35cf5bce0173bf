#pragma once

#include <stdexcept>
#include <string>

namespace pexc {

// An error in a script source: the line (1-based) and what was expected there. The message
// starts with "expected"; format_error() puts the file and line in front.
struct CompileError : std::runtime_error {
    CompileError(int line, const std::string& message) : std::runtime_error(message), line(line) {}
    int line;
};

// "FILE:LINE: expected ..."
inline std::string format_error(const std::string& file, const CompileError& error) {
    return file + ":" + std::to_string(error.line) + ": " + error.what();
}

// Any other failure of the tool (unreadable input, unwritable output, a bad SOURCE_DATE_EPOCH),
// with its complete message.
struct ToolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

} // namespace pexc
