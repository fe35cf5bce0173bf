// The one plugin lock: console output and console commands never interleave.
#pragma once

#include <mutex>

namespace quorvane {

// Recursive: a host routine called under it may lead back into the console
// functions on the same thread. Created by its static initialiser when the
// library loads, before the extender can call either entry point.
extern std::recursive_mutex ConsoleLock;

// The only way to hold ConsoleLock: released on every way out, an exception
// included.
using ConsoleLockHolder = std::lock_guard<std::recursive_mutex>;

} // namespace quorvane
