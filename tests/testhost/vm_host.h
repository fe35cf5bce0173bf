// Puts the script VM's side (vm_side.h) into the game's address range.
#pragma once

#include "vm_side.h"

namespace testhost {

// Installs every host routine that the VM side implements at its entry of
// the table, and sets HandlePolicyGlobal to the VM's handle policy. Call it
// after the per-test reset of the address range.
void InstallVmHost();

} // namespace testhost
