// The game's records and objects as the plugin reads and writes them: 32-bit,
// little-endian, 4-byte pointers, fields at the offsets the game uses. Only
// the fields the plugin touches are named; the rest is padding of the right
// width. Each offset and each known size is checked below its record.
#pragma once

#include "host/abi.h"

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
    std::uint32_t lockWord;      // +24, lock bit and holder count (binding/lock_word.h)
};
static_assert(offsetof(ScriptObject, classInfo) == 4);
static_assert(offsetof(ScriptObject, handleLow) == 16);
static_assert(offsetof(ScriptObject, handleHigh) == 20);
static_assert(offsetof(ScriptObject, lockWord) == 24);

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

// --- Native function objects ---------------------------------------------
//
// The object through which the script VM calls a native script function. The
// VM treats it as an instance of its own native-function base class, so the
// layout, the order of the 23 slots and their calling forms are the host's, to
// the byte. Every slot is thiscall. Slot 0 is an ordinary virtual member
// taking the flags word: a C++ virtual destructor would take two slots in our
// compiler's ABI and one in the host's.

// A parameter or result type in the encoding of ScriptValue::typeTag. It has
// constructors of its own, as the host's type has, because the host returns
// it from slot 4 through storage that the caller provides.
struct TypeDescriptor {
    TypeDescriptor() = default;
    constexpr explicit TypeDescriptor(std::uint32_t tag) noexcept : tag(tag) {}
    std::uint32_t tag; // +0
};
static_assert(offsetof(TypeDescriptor, tag) == 0);
static_assert(sizeof(TypeDescriptor) == 4);

// One entry of the parameter array that the host builds; the plugin writes
// only the type of entry 0.
struct ParameterEntry {
    std::uint32_t hostWord; // +0
    TypeDescriptor type;    // +4
};
static_assert(offsetof(ParameterEntry, type) == 4);

class IFunction {
  public:
    virtual void* QV_THISCALL Destroy(std::uint32_t flags);                             // slot 0
    virtual StringCacheRef* QV_THISCALL GetFunctionNameRef() = 0;                       // slot 1
    virtual StringCacheRef* QV_THISCALL GetClassNameRef() = 0;                          // slot 2
    virtual void** QV_THISCALL GetExtraFieldARef() = 0;                                 // slot 3
    virtual TypeDescriptor* QV_THISCALL CopyReturnType(TypeDescriptor* out) = 0;        // slot 4
    virtual std::uint32_t QV_THISCALL GetParameterCountA() = 0;                         // slot 5
    virtual void QV_THISCALL ForwardOp6() = 0;                                          // slot 6
    virtual std::uint32_t QV_THISCALL GetParameterCountB() = 0;                         // slot 7
    virtual bool QV_THISCALL AlwaysTrue() = 0;                                          // slot 8
    virtual std::uint8_t QV_THISCALL GetFlagA() = 0;                                    // slot 9
    virtual bool QV_THISCALL AlwaysFalse() = 0;                                         // slot 10
    virtual std::uint32_t QV_THISCALL AlwaysZero() = 0;                                 // slot 11
    virtual std::uint32_t QV_THISCALL GetHostValue() = 0;                               // slot 12
    virtual void** QV_THISCALL GetExtraFieldBRef() = 0;                                 // slot 13
    virtual void QV_THISCALL IgnoreArgument(std::uint32_t value) = 0;                   // slot 14
    virtual void QV_THISCALL ForwardOp15() = 0;                                         // slot 15
    virtual void QV_THISCALL ForwardOp16() = 0;                                         // slot 16
    virtual bool QV_THISCALL ClearOutputAndFail(std::uint32_t, std::uint32_t* out) = 0; // slot 17
    virtual void QV_THISCALL ForwardOp18() = 0;                                         // slot 18
    virtual std::uint8_t QV_THISCALL GetFlagB() = 0;                                    // slot 19
    virtual void QV_THISCALL SetFlagB(std::uint8_t value) = 0;                          // slot 20
    virtual bool QV_THISCALL CallbackPresent() = 0;                                     // slot 21
    virtual bool QV_THISCALL CallNative(std::uint32_t first, ScriptClassRegistry* registry,
                                        std::uint32_t third, ScriptValue* result,
                                        ScriptStack* stack) = 0; // slot 22

  protected:
    IFunction() = default;
    // Not virtual: the host destroys through slot 0 only. User-written, so
    // that destroying an object installs this class's slot table, as the
    // host's own destructor does.
    ~IFunction() {}
};

// The data of the host's native-function base class. Its construction and
// destruction are host routines (InitNativeFunctionBase,
// DestroyNativeFunctionBase); it has no code of its own here.
class NativeFunctionBase : public IFunction {
  public:
    std::uint32_t hostWord;       // +4
    StringCacheRef functionName;  // +8
    StringCacheRef className;     // +12
    void* extraFieldA;            // +16
    TypeDescriptor returnType;    // +20
    ParameterEntry* parameters;   // +24
    std::uint16_t parameterWord;  // +28
    std::uint16_t parameterCount; // +30
    std::uint8_t flagA;           // +32
    std::uint8_t flagB;           // +33
    std::uint16_t unused34;       // +34
    std::uint32_t hostValue;      // +36
    void* extraFieldB;            // +40

  protected:
    NativeFunctionBase() = default;
    ~NativeFunctionBase() = default;
};

// offsetof on a class with virtual members is conditionally supported; both
// of our compilers give the single-inheritance layout, which these pin down.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
static_assert(offsetof(NativeFunctionBase, hostWord) == 4);
static_assert(offsetof(NativeFunctionBase, functionName) == 8);
static_assert(offsetof(NativeFunctionBase, className) == 12);
static_assert(offsetof(NativeFunctionBase, extraFieldA) == 16);
static_assert(offsetof(NativeFunctionBase, returnType) == 20);
static_assert(offsetof(NativeFunctionBase, parameters) == 24);
static_assert(offsetof(NativeFunctionBase, parameterWord) == 28);
static_assert(offsetof(NativeFunctionBase, parameterCount) == 30);
static_assert(offsetof(NativeFunctionBase, flagA) == 32);
static_assert(offsetof(NativeFunctionBase, flagB) == 33);
static_assert(offsetof(NativeFunctionBase, hostValue) == 36);
static_assert(offsetof(NativeFunctionBase, extraFieldB) == 40);
#pragma GCC diagnostic pop
static_assert(sizeof(IFunction) == 4);
static_assert(sizeof(NativeFunctionBase) == 44);

// Slot numbers of the operations of the VM's objects that the plugin calls
// (4-byte entries counted from 0).
namespace RegistrySlot {
inline constexpr unsigned GetClassInfoForFormType = 10;
inline constexpr unsigned GetFormTypeForClassName = 13;
inline constexpr unsigned CreateScriptObject = 20;
inline constexpr unsigned AddNativeFunction = 23;
inline constexpr unsigned SetNativeFunctionFlags = 25;
inline constexpr unsigned FindBoundScriptObject = 27;
inline constexpr unsigned ObtainHandlePolicy = 44;
inline constexpr unsigned ObtainBindingPolicy = 46;
} // namespace RegistrySlot

namespace HandlePolicySlot {
inline constexpr unsigned HandleHasType = 1;
inline constexpr unsigned CheckHandle = 2;
inline constexpr unsigned GetDefaultHandle = 3;
inline constexpr unsigned GetHandleForObject = 4;
inline constexpr unsigned GetObjectForHandle = 8;
inline constexpr unsigned AcquireHandle = 9;
inline constexpr unsigned ReleaseHandle = 10;
} // namespace HandlePolicySlot

} // namespace quorvane::host
