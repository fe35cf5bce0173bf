// The script extender as it calls the plugin: its records and operations,
// compiled as the extender's own (MSVC, 32-bit) code.
#include "msvc_side.h"

namespace {

struct ExtenderInterfaceRecord {
    unsigned unread0;
    unsigned gameVersionCode;
    unsigned unread8;
    unsigned editorFlag;
    void* (*lookUpInterface)(unsigned interfaceId);
};

struct PapyrusInterfaceRecord {
    unsigned unread0;
    bool (*addRegistrationCallback)(ExtenderRegistrationCallback callback);
};

ExtenderLog log;
bool offerPapyrus = true;

bool AddRegistrationCallback(ExtenderRegistrationCallback callback) {
    if (log.callbackCount < ExtenderLogCapacity) {
        log.callbacks[log.callbackCount] = callback;
    }
    ++log.callbackCount;
    return true;
}

PapyrusInterfaceRecord papyrus{0x5041505Fu, AddRegistrationCallback};

void* LookUpInterface(unsigned interfaceId) {
    if (log.askedCount < ExtenderLogCapacity) {
        log.askedIds[log.askedCount] = interfaceId;
    }
    ++log.askedCount;
    return interfaceId == 2 && offerPapyrus ? &papyrus : nullptr;
}

} // namespace

extern "C" void ExtenderReset() {
    log = ExtenderLog{};
    offerPapyrus = true;
}

extern "C" const ExtenderLog* ExtenderRecorded() {
    return &log;
}

extern "C" bool ExtenderCallQuery(ExtenderQueryFn query, unsigned gameVersionCode,
                                  unsigned editorFlag, ExtenderPluginInfo* info) {
    ExtenderInterfaceRecord extender{0xAAAAAAAAu, gameVersionCode, 0xBBBBBBBBu, editorFlag,
                                     LookUpInterface};
    return query(&extender, info);
}

extern "C" bool ExtenderCallLoad(ExtenderLoadFn load, bool offerPapyrusInterface) {
    offerPapyrus = offerPapyrusInterface;
    ExtenderInterfaceRecord extender{0xAAAAAAAAu, 0x09200000u, 0xBBBBBBBBu, 0, LookUpInterface};
    return load(&extender);
}

extern "C" bool ExtenderCallRegistration(unsigned index, void* registry) {
    if (index >= log.callbackCount || index >= ExtenderLogCapacity) {
        return false;
    }
    return log.callbacks[index](registry);
}
