#include "plugin/extender.h"

#include "binding/registration.h"
#include "console/initialize_thread.h"
#include "log/log.h"
#include "platform/platform.h"

namespace quorvane {
namespace {

bool Query(const ExtenderInterfaceRecord* extender, PluginInfoRecord* info) {
    // Filled before any test: a refusing Query leaves the record filled too.
    info->recordVersion = PluginInfoRecordVersion;
    info->pluginName = PluginName;
    info->pluginVersion = PluginVersion;

    if (extender->editorFlag != 0) {
        return false;
    }
    if (extender->gameVersionCode != SupportedGameVersionCode) {
        return false;
    }
    return true;
}

void Load(const ExtenderInterfaceRecord* extender) {
    auto* papyrus =
        static_cast<PapyrusInterfaceRecord*>(extender->lookUpInterface(PapyrusInterfaceId));
    if (papyrus != nullptr) {
        papyrus->addRegistrationCallback(RegisterScriptFunctions);
    } else {
        WriteLog("Failed to register papyrus functions!");
    }

    if (!platform::StartThread(ConsoleInitializeThread)) {
        WriteLog("Failed to start console initialize thread!");
    }
}

} // namespace
} // namespace quorvane

// Our unwinder cannot pass through the extender's frames: an exception that
// left an entry point would end the game. Each entry point ends its call with
// its fixed answer instead.

bool SKSEPlugin_Query(const quorvane::ExtenderInterfaceRecord* extender,
                      quorvane::PluginInfoRecord* info) {
    try {
        return quorvane::Query(extender, info);
    } catch (...) {
        return false;
    }
}

bool SKSEPlugin_Load(const quorvane::ExtenderInterfaceRecord* extender) {
    try {
        quorvane::Load(extender);
    } catch (...) {
    }
    return true;
}
