#pragma once

#include <ctime>
#include <string>

namespace testhost {

// Makes a new empty directory the current one; Leave goes back and removes it.
void EnterScratchDirectory();
void LeaveScratchDirectory();

// The whole content of a file, or "<missing>".
std::string ReadFile(const char* name);
bool FileExists(const char* name);

// Switches logging on: "Quorvane.txt" in the current directory, holding content.
void CreateLogFile(const std::string& content = "");

// A fixed moment for clocks: 9 December 2026, 17:06:05 UTC. A log line
// stamped with it starts "09 Dec 17:06:05 ".
std::time_t NinthOfDecember2026();

} // namespace testhost
