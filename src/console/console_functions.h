// The plugin functions behind the console script functions. Each is called by
// the run operation of its native function object on a script VM thread.
#pragma once

#include "host/records.h"

namespace quorvane {

// Shows text in the console, exactly as the script gave it.
void PrintMessage(host::StaticFunctionTag* tag, host::StringCacheRef text);

// Runs text as a console command.
void ExecuteCommand(host::StaticFunctionTag* tag, host::StringCacheRef text);

// Selects reference in the console; null clears the selection.
void SetSelectedReference(host::StaticFunctionTag* tag, host::TESObjectREFR* reference);

// The console's selected reference, or null.
host::TESObjectREFR* GetSelectedReference(host::StaticFunctionTag* tag);

} // namespace quorvane
