#include "binding/registration.h"

namespace quorvane {

// Nothing is registered until the native function objects exist.
bool QV_CDECL RegisterScriptFunctions(host::ScriptClassRegistry*) {
    return true;
}

unsigned long GetVersion(host::StaticFunctionTag*) {
    return 2;
}

} // namespace quorvane
