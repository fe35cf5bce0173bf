// The records exchanged with the script extender. 32-bit layouts; every
// operation is a plain cdecl function. Only the fields the plugin reads or
// writes are named.
#pragma once

#include "host/abi.h"
#include "host/records.h"

#include <cstddef>
#include <cstdint>

namespace quorvane {

// The registration callback form: takes the script VM's class registry.
using RegistrationCallback = bool(QV_CDECL*)(host::ScriptClassRegistry* registry);

// Given to both entry points; read only.
struct ExtenderInterfaceRecord {
    std::uint32_t unread0;                                       // +0
    std::uint32_t gameVersionCode;                               // +4
    std::uint32_t unread8;                                       // +8
    std::uint32_t editorFlag;                                    // +12
    void*(QV_CDECL* lookUpInterface)(std::uint32_t interfaceId); // +16
};
static_assert(offsetof(ExtenderInterfaceRecord, gameVersionCode) == 4);
static_assert(offsetof(ExtenderInterfaceRecord, editorFlag) == 12);
static_assert(offsetof(ExtenderInterfaceRecord, lookUpInterface) == 16);

// Owned by the extender, filled by Query.
struct PluginInfoRecord {
    std::uint32_t recordVersion; // +0
    const char* pluginName;      // +4
    std::uint32_t pluginVersion; // +8
};
static_assert(offsetof(PluginInfoRecord, recordVersion) == 0);
static_assert(offsetof(PluginInfoRecord, pluginName) == 4);
static_assert(offsetof(PluginInfoRecord, pluginVersion) == 8);
static_assert(sizeof(PluginInfoRecord) == 12);

// What lookUpInterface gives for PapyrusInterfaceId.
struct PapyrusInterfaceRecord {
    std::uint32_t unread0;                                                  // +0
    bool(QV_CDECL* addRegistrationCallback)(RegistrationCallback callback); // +4
};
static_assert(offsetof(PapyrusInterfaceRecord, addRegistrationCallback) == 4);

inline constexpr std::uint32_t SupportedGameVersionCode = 0x09200000;
inline constexpr std::uint32_t PapyrusInterfaceId = 2;
inline constexpr std::uint32_t PluginInfoRecordVersion = 1;
inline constexpr const char* PluginName = "quorvane";
inline constexpr std::uint32_t PluginVersion = 1;

} // namespace quorvane

QV_EXPORT bool SKSEPlugin_Query(const quorvane::ExtenderInterfaceRecord* extender,
                                quorvane::PluginInfoRecord* info);
QV_EXPORT bool SKSEPlugin_Load(const quorvane::ExtenderInterfaceRecord* extender);
