#pragma once

#include "host/abi.h"

namespace quorvane {

// Waits for the game's console to come up, then runs its initialisation.
unsigned long QV_STDCALL ConsoleInitializeThread(void* parameter);

} // namespace quorvane
