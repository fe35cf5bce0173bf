// The game's script VM as the native function binding meets it, compiled as
// the game's own code (MSVC ABI; msvc/vm_side.cpp). Included by both
// compilers: plain C types only. Every entry point takes plain pointers and
// knows nothing of the plugin, so it drives the plugin's objects whether they
// come from the test build or from the loaded DLL.
//
// Use:
//   VmReset() before each test (the test programs' main does it), then
//   testhost::InstallVmHost() (vm_host.h) to put the VM's routines at their
//   entries: host heap, string cache, native-function base, values, the
//   argument list, class-info and script-object teardown, BindScriptObject
//   (InitStringCacheRef belongs to the console's side); it also sets
//   HandlePolicyGlobal to VmHandlePolicy().
//
//   Calling an object as the VM does:
//     VmMakeStack(&stack, argument)         a stack whose argument 0 is argument
//     VmCallSlot22(fn, VmRegistry(), &result, &stack)   the run operation
//     VmCallFunctionSlot(fn, slot, a, b, c) slots 1 to 21 with their host types
//     VmCopyReturnType(fn)                  slot 4, result through caller storage
//     VmDeleteFunction(fn)                  `delete fn`: slot 0 with flags 1
//     VmDestroyFunctionInPlace(fn)          `fn->~IFunction()`: slot 0, flags 0
//
//   The registry (VmRegistry()): slots 10, 13, 20, 23, 25, 27, 44 and 46 act
//   as VmRegistryConfig() says and are logged in VmRegistryRecorded(); every
//   other slot records itself in unexpectedSlots. VmRegisteredFunction(name)
//   gives the object that AddNativeFunction received under that name (read
//   from the object's functionName, which the fake InitNativeFunctionBase
//   sets to the name text it was given).
//
//   The handle policy (VmHandlePolicy(), slots 1 to 4 and 8 to 10) and the
//   binding policy (VmBindingPolicy(), BindScriptObject) act as
//   VmHandlePolicyConfig() says and log to VmHandlePolicyRecorded().
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

struct VmValue {
    unsigned typeTag;
    unsigned datum;
};

// The VM's stack of one call: the argument list object at offset 0; the
// fake argument list finds argument i at values[firstOffset + i].
struct VmStack {
    void* argumentList;
    struct VmValue values[4];
};

enum VmRoutine {
    VmRoutineHostHeapAllocate,
    VmRoutineHostHeapFree,
    VmRoutineSetStringCacheRef,
    VmRoutineInitNativeFunctionBase,
    VmRoutineDestroyNativeFunctionBase,
    VmRoutineNativeFunctionBaseOp6,
    VmRoutineNativeFunctionBaseOp15,
    VmRoutineNativeFunctionBaseOp16,
    VmRoutineNativeFunctionBaseOp18,
    VmRoutineReleaseValueData,
    VmRoutineAssignValue,
    VmRoutineGetFirstArgumentOffset,
    VmRoutineGetArgument,
    VmRoutineDestroyClassInfo,
    VmRoutineDestroyScriptObject,
    VmRoutineBindScriptObject,
    VmRoutineCount
};

// Code address of the VM side's implementation of a host routine.
const void* VmRoutineAddress(enum VmRoutine routine);

void VmReset(void);

// --- calling native function objects ---------------------------------------

void VmMakeStack(struct VmStack* stack, struct VmValue argument0);
bool VmCallSlot22(void* function, void* registry, struct VmValue* result, struct VmStack* stack);
void VmDeleteFunction(void* function);
void VmDestroyFunctionInPlace(void* function);
unsigned VmCopyReturnType(void* function);
// Slots 1 to 21 as the VM declares them. The forwarding slots take:
// 6 (a, b, c) -> unsigned; 15 (a, b) -> 64-bit; 16 (a) -> bool;
// 18 (a, b, c) -> pointer. Slot 17 takes (a, output address b); slot 20 the
// byte a.
unsigned long long VmCallFunctionSlot(void* function, unsigned slot, unsigned a, unsigned b,
                                      unsigned c);

// --- the host heap ---------------------------------------------------------

#define VmHeapCapacity 64u

struct VmHeapLog {
    unsigned allocations;      // calls of HostHeapAllocate
    unsigned failAllocationAt; // set by tests: this call (from 1) gives null
    unsigned lastSize;         // arguments of the last HostHeapAllocate
    unsigned lastExtra[2];
    const void* lastHeap; // receiver of the last call (either routine)
    unsigned frees;       // calls of HostHeapFree
    void* freed[VmHeapCapacity];
    unsigned lastFreeExtra;
};
struct VmHeapLog* VmHeap(void);

// --- the native-function base (InitNativeFunctionBase and friends) ---------

#define VmFunctionLogCapacity 16u

struct VmInitCall {
    void* object;
    const char* functionName;
    const char* className;
    unsigned staticFlag;
    unsigned parameterCount;
    const void* tableAtCall;  // the object's slot table while the initialiser ran
    unsigned fieldsAtCall[4]; // functionName, className, extraFieldA, extraFieldB then
};

struct VmForwardCall {
    unsigned slot;
    void* object;
    unsigned arguments[3];
};

struct VmFunctionBaseLog {
    struct VmInitCall inits[VmFunctionLogCapacity];
    unsigned initCount;
    void* destroyed[VmFunctionLogCapacity];
    const void* tableAtDestroy[VmFunctionLogCapacity];
    unsigned destroyCount;
    struct VmForwardCall forwards[VmFunctionLogCapacity];
    unsigned forwardCount;
};
const struct VmFunctionBaseLog* VmFunctionBaseRecorded(void);

// What the fake initialiser writes into the host's fields of each object.
#define VmInitHostWord 0x0BADF00Du
#define VmInitParameterWord 0x1234u
#define VmInitFlagA 0x5Au
#define VmInitFlagB 0xA5u
#define VmInitHostValue 0xC0FFEE01u

// --- values, strings and the argument list ---------------------------------

#define VmValueLogCapacity 16u
#define VmReleasedDatumPoison 0xDDDDDDDDu

struct VmValueCall {
    const void* value;
    unsigned typeTag;
    unsigned datum;
};

struct VmValueLog {
    struct VmValueCall released[VmValueLogCapacity]; // ReleaseValueData: value before
    unsigned releaseCount;
    struct VmValueCall assigned[VmValueLogCapacity]; // AssignValue: destination, source value
    unsigned assignCount;
    const char* setTexts[VmValueLogCapacity]; // SetStringCacheRef's text argument
    const void* setRefs[VmValueLogCapacity];
    unsigned setCount;
    unsigned argumentOffsetCalls; // GetFirstArgumentOffset
    unsigned argumentCalls;       // GetArgument
    const void* argumentList;     // receiver of the last one
    const void* argumentStack;    // stack given to the last one
    unsigned argumentIndex;
    unsigned argumentOffset;
};
const struct VmValueLog* VmValuesRecorded(void);
// The cached text that SetStringCacheRef makes of text (null: the empty text).
const char* VmCachedText(const char* text);
#define VmFirstArgumentOffset 1u

// --- the registry ----------------------------------------------------------

struct VmRegistrySetup {
    bool classInfoResult; // slot 10
    void* classInfo;      // a true result hands out one count on it
    bool formTypeResult;  // slot 13
    unsigned formType;
    bool createResult; // slot 20
    void* createdObject;
    bool findResult; // slot 27
    void* foundObject;
};
struct VmRegistrySetup* VmRegistryConfig(void);

#define VmRegistryLogCapacity 32u

struct VmRegistryCall {
    unsigned slot;
    unsigned words[5];      // the arguments as stack words
    unsigned outputAtEntry; // for slots with an output: its content on entry
};

struct VmRegistryLog {
    struct VmRegistryCall calls[VmRegistryLogCapacity];
    unsigned count;
    unsigned unexpectedSlots; // calls of any slot the plugin must not use
};
const struct VmRegistryLog* VmRegistryRecorded(void);
void* VmRegistry(void);
void* VmRegisteredFunction(const char* functionName);

// --- the handle and binding policies --------------------------------------

struct VmHandlePolicySetup {
    bool hasType;     // slot 1
    bool checkPasses; // slot 2
    // 8-byte alignment spelled out: MSVC aligns 64-bit members to 8, 32-bit
    // GCC only to 4, and the two sides must agree on every offset.
    alignas(8) unsigned long long defaultHandle; // slot 3
    alignas(8) unsigned long long objectHandle;  // slot 4
    void* objectForHandle;                       // slot 8
    // When set, slots 9 and 10 check that they run under the lock bit at the
    // right transition of this word, in strict alternation.
    const unsigned* watchedLockWord;
};
struct VmHandlePolicySetup* VmHandlePolicyConfig(void);

#define VmPolicyLogCapacity 32u

struct VmPolicyCall {
    unsigned slot; // handle policy slot, or 100 for BindScriptObject
    unsigned formType;
    alignas(8) unsigned long long handle;
    const void* object;      // slot 4: the object; bind: the object variable
    const void* boundObject; // bind: the object in the variable
    const void* policy;
};

struct VmPolicyLog {
    struct VmPolicyCall calls[VmPolicyLogCapacity];
    unsigned count;
    unsigned acquires;         // slot 9, counted without limit
    unsigned releases;         // slot 10
    unsigned transitionFaults; // watched calls out of order or not under the lock
    unsigned unexpectedSlots;
    unsigned destroyedClassInfos;
    const void* lastDestroyedClassInfo;
    unsigned destroyedScriptObjects;
    const void* lastDestroyedScriptObject;
};
#define VmBindCallSlot 100u

#ifdef __cplusplus
// Both compilers must see one layout.
static_assert(sizeof(struct VmPolicyCall) == 32, "VmPolicyCall layout");
static_assert(sizeof(struct VmHandlePolicySetup) == 32, "VmHandlePolicySetup layout");
#endif
const struct VmPolicyLog* VmHandlePolicyRecorded(void);
void* VmHandlePolicy(void);
void* VmBindingPolicy(void);

#ifdef __cplusplus
}
#endif
