#pragma once

#include <string>

namespace testhost {

// Makes a new empty directory the current one; Leave goes back and removes it.
void EnterScratchDirectory();
void LeaveScratchDirectory();

// The whole content of a file, or "<missing>".
std::string ReadFile(const char* name);
bool FileExists(const char* name);

} // namespace testhost
