#include "console/console_functions.h"

// Placeholder bodies until the console operations land; they do nothing.
namespace quorvane {

void PrintMessage(host::StaticFunctionTag*, host::StringCacheRef) {}
void ExecuteCommand(host::StaticFunctionTag*, host::StringCacheRef) {}
void SetSelectedReference(host::StaticFunctionTag*, host::TESObjectREFR*) {}
host::TESObjectREFR* GetSelectedReference(host::StaticFunctionTag*) {
    return nullptr;
}

} // namespace quorvane
