// The game's records and objects as the plugin reads and writes them: 32-bit,
// little-endian, 4-byte pointers, fields at the offsets the game uses. Only
// the fields the plugin touches are named; the rest is padding of the right
// width. Each offset and each known size is checked below its record.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvane::host {

// Host objects the plugin only passes around by pointer.
struct StaticFunctionTag;   // the receiver of global script functions; always null
struct TESObjectREFR;       // an object reference of the game
struct ScriptClassRegistry; // the script VM's class registry (virtual operations)
struct HandlePolicy;        // the VM's handle policy (virtual operations)
struct BindingPolicy;       // the VM's binding policy
struct ArgumentList;        // the VM's argument list of a stack

// 64-bit name of a host object in the script VM; passed by value as two
// stack words, low half first, and returned in EDX:EAX.
using ObjectHandle = std::uint64_t;

// 32-bit name of an object reference; only ever compared for equality.
using ReferenceHandle = std::uint32_t;

// The host's cached-string reference: one pointer to NUL-terminated text.
// Deliberately trivially copyable so that it passes by value as one stack
// word, as the host passes it.
struct StringCacheRef {
    const char* text; // +0
};
static_assert(offsetof(StringCacheRef, text) == 0);
static_assert(sizeof(StringCacheRef) == 4);

// Type tags of ScriptValue: a code below 16, or the address of a
// ScriptClassInfo for objects.
inline constexpr std::uint32_t TypeNone = 0;
inline constexpr std::uint32_t TypeObject = 1;
inline constexpr std::uint32_t TypeString = 2;
inline constexpr std::uint32_t TypeInteger = 3;

// The VM's value: arguments on its stack and results of calls.
struct ScriptValue {
    std::uint32_t typeTag; // +0
    std::uint32_t datum;   // +4
};
static_assert(offsetof(ScriptValue, typeTag) == 0);
static_assert(offsetof(ScriptValue, datum) == 4);
static_assert(sizeof(ScriptValue) == 8);

// The VM's description of a script class (host-owned).
struct ScriptClassInfo {
    std::uint32_t referenceCount; // +0, changed only atomically
    StringCacheRef name;          // +4
};
static_assert(offsetof(ScriptClassInfo, referenceCount) == 0);
static_assert(offsetof(ScriptClassInfo, name) == 4);

// The VM's object instance for a host object (host-owned).
struct ScriptObject {
    std::uint32_t hostWord0;     // +0
    ScriptClassInfo* classInfo;  // +4
    std::uint32_t hostWords8[2]; // +8
    std::uint32_t handleLow;     // +16
    std::uint32_t handleHigh;    // +20
    std::uint32_t lockWord;      // +24, LockBit and the number of holders
};
static_assert(offsetof(ScriptObject, classInfo) == 4);
static_assert(offsetof(ScriptObject, handleLow) == 16);
static_assert(offsetof(ScriptObject, handleHigh) == 20);
static_assert(offsetof(ScriptObject, lockWord) == 24);

inline constexpr std::uint32_t LockBit = 0x80000000;
inline constexpr std::uint32_t SpinThreshold = 10000;
inline constexpr std::uint32_t ReferenceFormType = 61;

// The VM's stack of the current call (host-owned).
struct ScriptStack {
    ArgumentList* argumentList; // +0
};
static_assert(offsetof(ScriptStack, argumentList) == 0);

// One bucket of the menu table, and every chained entry.
struct MenuTableEntry {
    const char* key;      // +0, cached text pointer: equal names share it
    void* menu;           // +4
    std::uint32_t unread; // +8
    MenuTableEntry* next; // +12, null in a bucket: empty; chainEnd: end of chain
};
static_assert(offsetof(MenuTableEntry, key) == 0);
static_assert(offsetof(MenuTableEntry, menu) == 4);
static_assert(offsetof(MenuTableEntry, next) == 12);
static_assert(sizeof(MenuTableEntry) == 16);

// The host's hash table of menus keyed by name.
struct MenuTable {
    std::uint32_t hostWord0;     // +0
    std::uint32_t bucketCount;   // +4, a power of two
    std::uint32_t hostWords8[2]; // +8
    MenuTableEntry* chainEnd;    // +16
    std::uint32_t hostWord20;    // +20
    MenuTableEntry* buckets;     // +24, null while the table has none
};
static_assert(offsetof(MenuTable, bucketCount) == 4);
static_assert(offsetof(MenuTable, chainEnd) == 16);
static_assert(offsetof(MenuTable, buckets) == 24);

inline constexpr std::size_t MenuTableOffset = 0xA4;

// The host's menu manager (host-owned); the plugin reads only its menu table.
struct MenuManager {
    std::uint8_t hostBytes[MenuTableOffset]; // +0
    MenuTable menuTable;                     // +0xA4
};
static_assert(offsetof(MenuManager, menuTable) == MenuTableOffset);

// The record handed to the console's command routine.
struct ConsoleCommandRecord {
    std::uint8_t zero0[16];  // +0
    void* consoleMenu;       // +16
    std::uint8_t zero20[4];  // +20
    void* selfLink;          // +24, the address of this record's offset 28
    std::uint8_t zero28[8];  // +28
    const char* commandText; // +36
    std::uint8_t zero40[24]; // +40
};
static_assert(offsetof(ConsoleCommandRecord, consoleMenu) == 16);
static_assert(offsetof(ConsoleCommandRecord, selfLink) == 24);
static_assert(offsetof(ConsoleCommandRecord, zero28) == 28);
static_assert(offsetof(ConsoleCommandRecord, commandText) == 36);
static_assert(sizeof(ConsoleCommandRecord) == 64);

} // namespace quorvane::host
