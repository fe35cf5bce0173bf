#include "console/initialize_thread.h"

namespace quorvane {

// Polls nothing yet: the console's readiness check comes with the console
// operations.
unsigned long QV_STDCALL ConsoleInitializeThread(void*) {
    return 0;
}

} // namespace quorvane
