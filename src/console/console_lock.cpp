#include "console/console_lock.h"

namespace quorvane {

std::recursive_mutex ConsoleLock;

} // namespace quorvane
