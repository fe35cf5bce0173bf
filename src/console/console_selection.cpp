#include "console/console_functions.h"
#include "console/menu_lookup.h"
#include "host/entry_points.h"
#include "log/log.h"

namespace quorvane {

// Neither function takes ConsoleLock. Their function-try-blocks keep every
// exception out of the VM's frames, which our unwinder cannot pass.

void SetSelectedReference(host::StaticFunctionTag*, host::TESObjectREFR* reference) try {
    if (reference != nullptr) {
        host::ReferenceHandle handle = 0;
        host::Call(host::GetReferenceHandle, reference, host::Word(&handle));
        if (handle != 0) {
            host::Call(host::SelectConsoleReference, handle);
            return;
        }
    }

    // None, or a reference without a handle: clear the selection.
    host::StringCacheRef* name = CreateConsoleMenuName();
    MenuHolder holder{LookUpMenu(host::MenuManagerGlobal.Read(), name)};
    if (holder.menu == nullptr) {
        WriteLog("Failed to get console pointer in set reference!");
    } else {
        host::Call(host::SetConsoleMenuReference, holder.menu, 0);
    }
} catch (...) {
}

host::TESObjectREFR* GetSelectedReference(host::StaticFunctionTag*) try {
    host::ReferenceHandle handle = host::ConsoleSelectionGlobal.Read();
    if (handle == host::InvalidReferenceHandleGlobal.Read()) {
        return nullptr;
    }
    if (handle == 0) {
        return nullptr;
    }
    host::TESObjectREFR* pointer = nullptr;
    host::Call(host::LookUpReferenceByHandle, host::Word(&handle), host::Word(&pointer));
    if (pointer == nullptr) {
        return nullptr;
    }
    // The look-up took a count for us; drop it again so the reference's count
    // is as before. The pointer stays valid while the host keeps the reference.
    host::TESObjectREFR* copy = pointer;
    host::Call(host::ReleaseReferencePointer, &pointer);
    return copy;
} catch (...) {
    return nullptr;
}

} // namespace quorvane
