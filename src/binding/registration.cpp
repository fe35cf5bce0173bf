#include "binding/registration.h"

#include "binding/native_function.h"
#include "binding/vm_operations.h"
#include "console/console_functions.h"
#include "host/entry_points.h"

#include <cstring>
#include <new>

namespace quorvane {
namespace {

using host::StaticFunctionTag;
using host::TESObjectREFR;

// One storage for each text: the registry gets the same pointers for the
// construction and for the flags.
constexpr char ClassName[] = "Ulvaric";
constexpr char PrintMessageName[] = "PrintMessage";
constexpr char ExecuteCommandName[] = "ExecuteCommand";
constexpr char SetSelectedReferenceName[] = "SetSelectedReference";
constexpr char GetSelectedReferenceName[] = "GetSelectedReference";
constexpr char GetVersionName[] = "GetVersion";

constexpr std::uint32_t FunctionFlagValue = 1;
constexpr std::uint32_t NativeFunctionSize = 48;

using StringFunction = NativeFunction1<StaticFunctionTag, void, StringCacheRef>;
using ReferenceArgumentFunction = NativeFunction1<StaticFunctionTag, void, TESObjectREFR*>;
using ReferenceResultFunction = NativeFunction0<StaticFunctionTag, TESObjectREFR*>;
using IntegerResultFunction = NativeFunction0<StaticFunctionTag, unsigned long>;

// Allocates, builds and registers one function. Without a block from the
// host heap nothing is built and the registry hears nothing of the function:
// it is never given a null object. False when the construction failed: the
// block is given back, and the caller registers nothing more.
template <typename Function>
bool RegisterFunction(ScriptClassRegistry* registry, const char* functionName,
                      typename Function::Function callback) {
    static_assert(sizeof(Function) == NativeFunctionSize);
    void* block = (*host::HostHeapAllocate)(host::HostHeap.Pointer(), NativeFunctionSize, 0, 0);
    if (block == nullptr) {
        return true;
    }
    std::memset(block, 0, NativeFunctionSize);

    Function* function = nullptr;
    try {
        function = new (block) Function(functionName, ClassName, callback, registry);
    } catch (...) {
        (*host::HostHeapFree)(host::HostHeap.Pointer(), block, 0);
        return false;
    }

    vm::AddNativeFunction(registry, function);
    vm::SetNativeFunctionFlags(registry, ClassName, functionName, FunctionFlagValue);
    return true;
}

void RegisterAll(ScriptClassRegistry* registry) {
    RegisterFunction<StringFunction>(registry, PrintMessageName, PrintMessage) &&
        RegisterFunction<StringFunction>(registry, ExecuteCommandName, ExecuteCommand) &&
        RegisterFunction<ReferenceArgumentFunction>(registry, SetSelectedReferenceName,
                                                    SetSelectedReference) &&
        RegisterFunction<ReferenceResultFunction>(registry, GetSelectedReferenceName,
                                                  GetSelectedReference) &&
        RegisterFunction<IntegerResultFunction>(registry, GetVersionName, GetVersion);
}

} // namespace

// Our unwinder cannot pass through the extender's frames, so no exception
// may leave: registration then simply ends where it failed.
bool QV_CDECL RegisterScriptFunctions(ScriptClassRegistry* registry) {
    try {
        RegisterAll(registry);
    } catch (...) {
    }
    return true;
}

unsigned long GetVersion(StaticFunctionTag*) {
    return 2;
}

} // namespace quorvane
