// Which Quorvane.dll the end-to-end programs run: the one the build made,
// unless QUORVANE_DLL names another file (a copy under test, a broken build).
#pragma once

#include <cstdlib>
#include <string>

namespace e2e {

inline std::string ShippedDllPath() {
    const char* chosen = std::getenv("QUORVANE_DLL");
    return chosen != nullptr && *chosen != '\0' ? chosen : QUORVANE_DLL_PATH;
}

} // namespace e2e
