#include "binding/native_function.h"

#include "binding/vm_operations.h"

#include <new>

namespace quorvane {

// The interface's own slot 0, which the host may reach on an object that slot
// 0 of NativeFunction has torn down but kept: nothing is left to tear down.
void* host::IFunction::Destroy(std::uint32_t flags) {
    if ((flags & 1) != 0) {
        (*host::HostHeapFree)(host::HostHeap.Pointer(), this, 0);
    }
    return this;
}

// The host's initialiser runs while the object is a NativeFunction (the
// table installed on entry to this constructor), and the concrete class
// installs its own table after it.
NativeFunction::NativeFunction(const char* functionName, const char* className,
                               std::uint32_t parameterCount) {
    this->functionName.text = nullptr;
    this->className.text = nullptr;
    extraFieldA = nullptr;
    extraFieldB = nullptr;
    (*host::InitNativeFunctionBase)(this, functionName, className, StaticFunctionFlag,
                                    parameterCount);
}

// Runs with NativeFunction's table installed; IFunction's destructor then
// installs IFunction's table, which stays in the object when its storage is
// kept. This file is built with -fno-lifetime-dse so that those table stores
// are not dropped as stores to a dead object.
NativeFunction::~NativeFunction() {
    (*host::DestroyNativeFunctionBase)(this);
}

void* NativeFunction::Destroy(std::uint32_t flags) {
    this->~NativeFunction();
    if ((flags & 1) != 0) {
        (*host::HostHeapFree)(host::HostHeap.Pointer(), this, 0);
    }
    return this;
}

StringCacheRef* NativeFunction::GetFunctionNameRef() {
    return &functionName;
}

StringCacheRef* NativeFunction::GetClassNameRef() {
    return &className;
}

void** NativeFunction::GetExtraFieldARef() {
    return &extraFieldA;
}

TypeDescriptor* NativeFunction::CopyReturnType(TypeDescriptor* out) {
    return new (out) TypeDescriptor(returnType);
}

std::uint32_t NativeFunction::GetParameterCountA() {
    return parameterCount;
}

std::uint32_t NativeFunction::GetParameterCountB() {
    return parameterCount;
}

bool NativeFunction::AlwaysTrue() {
    return true;
}

std::uint8_t NativeFunction::GetFlagA() {
    return flagA;
}

bool NativeFunction::AlwaysFalse() {
    return false;
}

std::uint32_t NativeFunction::AlwaysZero() {
    return 0;
}

std::uint32_t NativeFunction::GetHostValue() {
    return hostValue;
}

void** NativeFunction::GetExtraFieldBRef() {
    return &extraFieldB;
}

void NativeFunction::IgnoreArgument(std::uint32_t) {}

bool NativeFunction::ClearOutputAndFail(std::uint32_t, std::uint32_t* out) {
    if (out != nullptr) {
        *out = 0;
    }
    return false;
}

std::uint8_t NativeFunction::GetFlagB() {
    return flagB;
}

void NativeFunction::SetFlagB(std::uint8_t value) {
    flagB = value;
}

bool NativeFunction::CallbackPresent() {
    return callback != nullptr;
}

// The forwarding slots hand the VM's call to the host's own body as it is:
// ECX, the stack and the return address untouched, the host's result and
// stack cleanup reaching the VM directly.
void NativeFunction::ForwardOp6() {
    asm("movl %0, %%eax\n\tjmp *%%eax" : : "i"(host::NativeFunctionBaseOp6));
}

void NativeFunction::ForwardOp15() {
    asm("movl %0, %%eax\n\tjmp *%%eax" : : "i"(host::NativeFunctionBaseOp15));
}

void NativeFunction::ForwardOp16() {
    asm("movl %0, %%eax\n\tjmp *%%eax" : : "i"(host::NativeFunctionBaseOp16));
}

void NativeFunction::ForwardOp18() {
    asm("movl %0, %%eax\n\tjmp *%%eax" : : "i"(host::NativeFunctionBaseOp18));
}

TypeDescriptor NativeFunction::ReferenceType(ScriptClassRegistry* registry) {
    host::ScriptClassInfo* info = nullptr;
    if (vm::GetClassInfoForFormType(registry, host::ReferenceFormType, &info) && info != nullptr) {
        DropLookupClassInfoReference(info);
        return TypeDescriptor(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(info)));
    }
    return TypeDescriptor(host::TypeNone);
}

const ScriptValue* NativeFunction::FirstArgument(ScriptStack* stack) {
    std::uint32_t offset = (*host::GetFirstArgumentOffset)(stack->argumentList, stack);
    return (*host::GetArgument)(stack->argumentList, stack, 0, offset);
}

void NativeFunction::SetResultNone(ScriptValue* result) {
    (*host::ReleaseValueData)(result);
    result->typeTag = host::TypeNone;
    result->datum = 0;
}

void NativeFunction::SetResultNoneAfterFailure(ScriptValue* result) noexcept {
    try {
        (*host::ReleaseValueData)(result);
    } catch (...) {
    }
    result->typeTag = host::TypeNone;
    result->datum = 0;
}

} // namespace quorvane
