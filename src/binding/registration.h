#pragma once

#include "host/abi.h"
#include "plugin/extender.h"

#include <cstdint>

namespace quorvane {

struct StaticFunctionTag;

// The registration callback handed to the script extender: builds the five
// native function objects of "Ulvaric" and hands them to the registry.
bool QV_CDECL RegisterScriptFunctions(ScriptClassRegistry* registry);

// The plugin's version as scripts read it.
unsigned long GetVersion(StaticFunctionTag* tag);

} // namespace quorvane
