// The game's routines and globals, at their fixed addresses in the one runtime
// that the plugin accepts (version code 0x09200000). This table is the only
// place where a host address is written; everything else names an entry.
#pragma once

#include "host/abi.h"
#include "host/preserved_call.h"
#include "host/records.h"

#include <cstdint>

namespace quorvane::host {

// A host routine called the ordinary way for its convention (part of Fn).
template <typename Fn> struct Routine {
    std::uintptr_t address;
    Fn operator*() const { return reinterpret_cast<Fn>(address); }
};

// A host routine that is called only as a state-preserving call (see
// preserved_call.h): the caller's registers and flags survive it whatever it
// does with them. Shape names the form of the call.
enum class PreservedShape { Member0, Member1, Plain0, Plain1, Plain2 };
template <PreservedShape Shape> struct PreservedRoutine { std::uintptr_t address; };

// A host global: a variable of type T that the game keeps at a fixed address.
// Reads are volatile because the game's threads change these values behind
// the compiler's back.
template <typename T> struct Global {
    std::uintptr_t address;
    T Read() const { return *reinterpret_cast<const volatile T*>(address); }
    T* Pointer() const { return reinterpret_cast<T*>(address); }
};

// A host object that lives at a fixed address (not a pointer to it).
template <typename T> struct Object {
    std::uintptr_t address;
    T* Pointer() const { return reinterpret_cast<T*>(address); }
};

struct HostHeapObject;
struct MenuManager;
struct ConsoleManager;

// clang-format off
// Host heap: everything that the host keeps.
inline constexpr Object<HostHeapObject> HostHeap{0x1B418B0};
inline constexpr Routine<void* (QV_THISCALL*)(HostHeapObject* heap, std::uint32_t size, std::uint32_t, std::uint32_t)>
    HostHeapAllocate{0xA48D60};
inline constexpr Routine<void (QV_THISCALL*)(HostHeapObject* heap, void* block, std::uint32_t)>
    HostHeapFree{0xA487B0};

// Cached strings.
inline constexpr Routine<void (QV_THISCALL*)(StringCacheRef* fresh, const char* text)>
    InitStringCacheRef{0xA511C0};
inline constexpr Routine<void (QV_THISCALL*)(StringCacheRef* ref, const char* text)>
    SetStringCacheRef{0xA51210};

// Native function objects: the host-defined part and the slots the host implements.
inline constexpr Routine<void (QV_THISCALL*)(void* object, const char* name, const char* className, std::uint32_t staticFlag, std::uint32_t parameterCount)>
    InitNativeFunctionBase{0xC46C00};
inline constexpr Routine<void (QV_THISCALL*)(void* object)>
    DestroyNativeFunctionBase{0xC46AD0};
inline constexpr std::uintptr_t NativeFunctionBaseOp6 = 0xC46F50;
inline constexpr std::uintptr_t NativeFunctionBaseOp15 = 0xC46CB0;
inline constexpr std::uintptr_t NativeFunctionBaseOp16 = 0xC46B10;
inline constexpr std::uintptr_t NativeFunctionBaseOp18 = 0xC46F60;

// Script values, the VM's stack, script objects and class infos.
inline constexpr Routine<void (QV_THISCALL*)(ScriptValue* value)>
    ReleaseValueData{0xC328E0};
inline constexpr Routine<void (QV_THISCALL*)(ScriptValue* destination, const ScriptValue* source)>
    AssignValue{0xC329E0};
inline constexpr Routine<std::uint32_t (QV_THISCALL*)(ArgumentList* list, ScriptStack* stack)>
    GetFirstArgumentOffset{0xC3A620};
inline constexpr Routine<ScriptValue* (QV_THISCALL*)(ArgumentList* list, ScriptStack* stack, std::uint32_t index, std::uint32_t offset)>
    GetArgument{0xC3AC40};
inline constexpr Routine<void (QV_THISCALL*)(ScriptClassInfo* info)>
    DestroyClassInfo{0xC34ED0};
inline constexpr Routine<void (QV_THISCALL*)(ScriptObject* object)>
    DestroyScriptObject{0xC30E90};
inline constexpr Routine<bool (QV_THISCALL*)(BindingPolicy* policy, ScriptObject** objectVariable, ObjectHandle handle)>
    BindScriptObject{0xC2BCD0};
inline constexpr Global<HandlePolicy*> HandlePolicyGlobal{0x1BA7008};

// Menus and the console.
inline constexpr Global<MenuManager*> MenuManagerGlobal{0x12E3548};
inline constexpr Routine<void (QV_CDECL*)(std::uint32_t* result, const char* key)>
    HashStringKey{0xA4A570};
inline constexpr PreservedRoutine<PreservedShape::Member0> MenuAddReference{0x93F050};
inline constexpr PreservedRoutine<PreservedShape::Member0> MenuReleaseReference{0x9241A0};
inline constexpr PreservedRoutine<PreservedShape::Plain1> RunConsoleCommand{0x847080};
inline constexpr Global<ConsoleManager*> ConsoleManagerGlobal{0x1B10B58};
inline constexpr Routine<void (QV_THISCALL*)(ConsoleManager* console, const char* format, void* arguments)>
    ConsoleManagerPrint{0x8486F0};

// The console's selected reference.
inline constexpr PreservedRoutine<PreservedShape::Member1> GetReferenceHandle{0x6BD6C0};
inline constexpr PreservedRoutine<PreservedShape::Plain1> SelectConsoleReference{0x848680};
inline constexpr PreservedRoutine<PreservedShape::Member1> SetConsoleMenuReference{0x847CA0};
inline constexpr Global<ReferenceHandle> ConsoleSelectionGlobal{0x1B3E6EC};
inline constexpr Global<ReferenceHandle> InvalidReferenceHandleGlobal{0x1310630};
inline constexpr PreservedRoutine<PreservedShape::Plain2> LookUpReferenceByHandle{0x4951F0};
inline constexpr PreservedRoutine<PreservedShape::Member0> ReleaseReferencePointer{0x40B110};

// Console start-up.
inline constexpr Global<const void*> ConsoleReadinessGlobal1{0x12E35E4};
inline constexpr Global<const void*> ConsoleReadinessGlobal2{0x12E35E0};
inline constexpr Global<const void*> ConsoleReadinessGlobal3{0x1B2E8E4};
inline constexpr PreservedRoutine<PreservedShape::Plain0> InitializeConsoleStep1{0x847210};
inline constexpr PreservedRoutine<PreservedShape::Plain0> InitializeConsoleStep2{0x847130};
// clang-format on

// State-preserving calls, one per shape.
[[gnu::always_inline]] inline void Call(PreservedRoutine<PreservedShape::Member0> routine,
                                        void* receiver) {
    PreservedMemberCall(routine.address, receiver);
}
[[gnu::always_inline]] inline void Call(PreservedRoutine<PreservedShape::Member1> routine,
                                        void* receiver, std::uint32_t argument) {
    PreservedMemberCall(routine.address, receiver, argument);
}
[[gnu::always_inline]] inline void Call(PreservedRoutine<PreservedShape::Plain1> routine,
                                        std::uint32_t argument) {
    PreservedPlainCall(routine.address, argument);
}
[[gnu::always_inline]] inline void Call(PreservedRoutine<PreservedShape::Plain2> routine,
                                        std::uint32_t first, std::uint32_t second) {
    PreservedPlainCall(routine.address, first, second);
}
// Both routines inside one save and restore.
[[gnu::always_inline]] inline void CallInOneBlock(PreservedRoutine<PreservedShape::Plain0> first,
                                                  PreservedRoutine<PreservedShape::Plain0> second) {
    PreservedPlainCallPair(first.address, second.address);
}

// Pointers passed as 32-bit stack words to a state-preserving call.
inline std::uint32_t Word(const void* pointer) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

// A virtual operation of a host object, by its slot in the object's table
// (4-byte entries counted from 0), called as the host calls its members.
template <typename Result, typename... Arguments>
Result CallSlot(void* object, unsigned slot, Arguments... arguments) {
    using Operation = Result(QV_THISCALL*)(void*, Arguments...);
    Operation const* table = *static_cast<Operation* const*>(object);
    return table[slot](object, arguments...);
}

} // namespace quorvane::host
