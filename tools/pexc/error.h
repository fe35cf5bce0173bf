#pragma once

#include <stdexcept>
#include <string>

namespace pexc {

// An error in a script source: the line (1-based) and what was expected there. The message
// starts with "expected"; format_error() puts the file and line in front.
class CompileError : public std::runtime_error {
public:
    CompileError(int line, std::string message)
        : std::runtime_error(std::move(message)), line_(line) {}
    int line() const { return line_; }

private:
    int line_;
};

// "FILE:LINE: expected ..."
inline std::string format_error(const std::string& file, const CompileError& error) {
    return file + ":" + std::to_string(error.line()) + ": " + error.what();
}

// Any other failure of the tool (unreadable input, unwritable output, a bad SOURCE_DATE_EPOCH),
// with its complete message.
class ToolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace pexc
