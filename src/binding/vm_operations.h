// The operations of the script VM's registry and policy objects that the
// binding calls, by their slot numbers, typed as the host declares them.
#pragma once

#include "host/entry_points.h"
#include "host/records.h"

#include <cstdint>

namespace quorvane::vm {

using host::CallSlot;
using host::HandlePolicy;
using host::ObjectHandle;
using host::ScriptClassInfo;
using host::ScriptClassRegistry;
using host::ScriptObject;
using host::StringCacheRef;
namespace RegistrySlot = host::RegistrySlot;
namespace HandlePolicySlot = host::HandlePolicySlot;

// --- ScriptClassRegistry ---

inline bool GetClassInfoForFormType(ScriptClassRegistry* registry, std::uint32_t formType,
                                    ScriptClassInfo** info) {
    return CallSlot<bool>(registry, RegistrySlot::GetClassInfoForFormType, formType, info);
}
inline bool GetFormTypeForClassName(ScriptClassRegistry* registry, const StringCacheRef* className,
                                    std::uint32_t* formType) {
    return CallSlot<bool>(registry, RegistrySlot::GetFormTypeForClassName, className, formType);
}
inline bool CreateScriptObject(ScriptClassRegistry* registry, const StringCacheRef* className,
                               ScriptObject** object) {
    return CallSlot<bool>(registry, RegistrySlot::CreateScriptObject, className, object);
}
inline void AddNativeFunction(ScriptClassRegistry* registry, host::IFunction* function) {
    CallSlot<void>(registry, RegistrySlot::AddNativeFunction, function);
}
inline void SetNativeFunctionFlags(ScriptClassRegistry* registry, const char* className,
                                   const char* functionName, std::uint32_t flags) {
    CallSlot<void>(registry, RegistrySlot::SetNativeFunctionFlags, className, functionName, flags);
}
inline bool FindBoundScriptObject(ScriptClassRegistry* registry, ObjectHandle handle,
                                  StringCacheRef className, ScriptObject** object) {
    return CallSlot<bool>(registry, RegistrySlot::FindBoundScriptObject, handle, className, object);
}
inline HandlePolicy* ObtainHandlePolicy(ScriptClassRegistry* registry) {
    return CallSlot<HandlePolicy*>(registry, RegistrySlot::ObtainHandlePolicy);
}
inline host::BindingPolicy* ObtainBindingPolicy(ScriptClassRegistry* registry) {
    return CallSlot<host::BindingPolicy*>(registry, RegistrySlot::ObtainBindingPolicy);
}

// --- HandlePolicy ---

inline bool HandleHasType(HandlePolicy* policy, std::uint32_t formType, ObjectHandle handle) {
    return CallSlot<bool>(policy, HandlePolicySlot::HandleHasType, formType, handle);
}
inline bool CheckHandle(HandlePolicy* policy, ObjectHandle handle) {
    return CallSlot<bool>(policy, HandlePolicySlot::CheckHandle, handle);
}
inline ObjectHandle GetDefaultHandle(HandlePolicy* policy) {
    return CallSlot<ObjectHandle>(policy, HandlePolicySlot::GetDefaultHandle);
}
inline ObjectHandle GetHandleForObject(HandlePolicy* policy, std::uint32_t formType,
                                       const void* object) {
    return CallSlot<ObjectHandle>(policy, HandlePolicySlot::GetHandleForObject, formType, object);
}
inline void* GetObjectForHandle(HandlePolicy* policy, std::uint32_t formType, ObjectHandle handle) {
    return CallSlot<void*>(policy, HandlePolicySlot::GetObjectForHandle, formType, handle);
}
inline void AcquireHandle(HandlePolicy* policy, ObjectHandle handle) {
    CallSlot<void>(policy, HandlePolicySlot::AcquireHandle, handle);
}
inline void ReleaseHandle(HandlePolicy* policy, ObjectHandle handle) {
    CallSlot<void>(policy, HandlePolicySlot::ReleaseHandle, handle);
}

} // namespace quorvane::vm
