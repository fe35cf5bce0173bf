// The extern "C" meeting point of the host's side (MSVC-ABI code in msvc/)
// and the tests. Included by both compilers: plain C types only.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// --- the script extender ---------------------------------------------------

typedef bool (*ExtenderRegistrationCallback)(void* registry);
typedef bool (*ExtenderQueryFn)(const void* extender, void* info);
typedef bool (*ExtenderLoadFn)(const void* extender);

#define ExtenderLogCapacity 8u

struct ExtenderLog {
    unsigned askedIds[ExtenderLogCapacity];
    unsigned askedCount;
    ExtenderRegistrationCallback callbacks[ExtenderLogCapacity];
    unsigned callbackCount;
};

struct ExtenderPluginInfo {
    unsigned recordVersion;
    const char* pluginName;
    unsigned pluginVersion;
};

void ExtenderReset(void);
const struct ExtenderLog* ExtenderRecorded(void);
// Calls the plugin's Query with a record for this game version and editor flag.
bool ExtenderCallQuery(ExtenderQueryFn query, unsigned gameVersionCode, unsigned editorFlag,
                       struct ExtenderPluginInfo* info);
// Calls the plugin's Load; lookUpInterface offers the Papyrus interface or not.
bool ExtenderCallLoad(ExtenderLoadFn load, bool offerPapyrusInterface);
// Calls the index-th registration callback that the plugin handed over.
bool ExtenderCallRegistration(unsigned index, void* registry);

#ifdef __cplusplus
}
#endif
