#pragma once

#include "host/abi.h"
#include "plugin/extender.h"

#include <cstdint>

namespace quorvane {

// The registration callback handed to the script extender: builds the five
// native function objects of "Ulvaric" and hands them to the registry.
bool QV_CDECL RegisterScriptFunctions(host::ScriptClassRegistry* registry);

// The plugin's version as scripts read it.
unsigned long GetVersion(host::StaticFunctionTag* tag);

} // namespace quorvane
