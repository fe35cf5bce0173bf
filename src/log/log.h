// The log file: the plugin's only trace of its failures. Logging is on while
// "Quorvane.txt" exists in the current directory; the plugin never creates it.
#pragma once

namespace quorvane {

inline constexpr const char* LogFileName = "Quorvane.txt";

// Appends one line: a local-time stamp, the message formatted printf-style
// (cut at 511 characters), CR LF. Silent in every failure.
void WriteLog(const char* format, ...) noexcept __attribute__((format(printf, 1, 2)));

} // namespace quorvane
