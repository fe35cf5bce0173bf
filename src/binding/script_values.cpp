#include "binding/script_values.h"

#include "binding/lock_word.h"
#include "binding/vm_operations.h"
#include "host/entry_points.h"
#include "platform/platform.h"

#include <atomic>

namespace quorvane {

using host::ObjectHandle;
using host::ScriptClassInfo;
using host::ScriptObject;
using host::ScriptValue;

namespace {

void SleepMilliseconds(std::uint32_t milliseconds) {
    platform::Sleep(milliseconds);
}

ObjectHandle HandleOf(const ScriptObject* object) {
    return ObjectHandle{object->handleHigh} << 32 | object->handleLow;
}

host::HandlePolicy* CurrentHandlePolicy() {
    return host::HandlePolicyGlobal.Read();
}

template <typename T> T* FromDatum(std::uint32_t datum) {
    return reinterpret_cast<T*>(static_cast<std::uintptr_t>(datum));
}

std::uint32_t ToDatum(const void* pointer) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

void SetNone(ScriptValue* value) {
    (*host::ReleaseValueData)(value);
    value->typeTag = host::TypeNone;
    value->datum = 0;
}

} // namespace

std::uint32_t EffectiveType(std::uint32_t typeTag) {
    if (typeTag <= 15) {
        return typeTag;
    }
    return (typeTag & 1) == 0 ? host::TypeObject : 11;
}

host::TESObjectREFR* UnpackObjectReference(const ScriptValue* value, std::uint32_t formType) {
    if (EffectiveType(value->typeTag) != host::TypeObject) {
        return nullptr;
    }
    ScriptObject* object = FromDatum<ScriptObject>(value->datum);
    if (object == nullptr) {
        return nullptr;
    }
    // The two halves of the handle are read under the lock bit so that they
    // belong together.
    std::uint32_t count = LockScriptObject(object);
    ObjectHandle handle = HandleOf(object);
    lockword::Unlock(object->lockWord, count);

    host::HandlePolicy* policy = CurrentHandlePolicy();
    if (!vm::HandleHasType(policy, formType, handle)) {
        return nullptr;
    }
    if (!vm::CheckHandle(policy, handle)) {
        return nullptr;
    }
    return static_cast<host::TESObjectREFR*>(vm::GetObjectForHandle(policy, formType, handle));
}

void PackObjectReference(ScriptValue* result, host::TESObjectREFR* reference,
                         host::ScriptClassRegistry* registry) {
    SetNone(result);
    if (reference == nullptr) {
        return;
    }

    ScriptClassInfo* info = nullptr;
    if (vm::GetClassInfoForFormType(registry, host::ReferenceFormType, &info)) {
        if (info == nullptr) {
            return;
        }
        DropLookupClassInfoReference(info);
    } else if (info == nullptr) {
        return;
    }

    host::HandlePolicy* policy = vm::ObtainHandlePolicy(registry);
    ObjectHandle handle = vm::GetHandleForObject(policy, host::ReferenceFormType, reference);

    ScriptObject* object = nullptr;
    if (!vm::FindBoundScriptObject(registry, handle, info->name, &object)) {
        // A failed creation hands out no count, whatever it left in object.
        object = nullptr;
        if (!vm::CreateScriptObject(registry, &info->name, &object) || object == nullptr) {
            return;
        }
        BindNewScriptObject(&object, reference, registry, policy);
    }
    if (object == nullptr) {
        return;
    }

    ScriptValue temporary{host::TypeNone, 0};
    try {
        (*host::ReleaseValueData)(&temporary);
        temporary.typeTag = ToDatum(info);
        temporary.datum = 0;
        (*host::AssignValue)(result, &temporary);

        if (EffectiveType(result->typeTag) == host::TypeObject) {
            (*host::ReleaseValueData)(result);
            AddScriptObjectReference(object);
            result->datum = ToDatum(object);
        } else {
            // A class info at an odd address would make the result a value
            // of another kind without its object: none is the honest answer.
            SetNone(result);
        }
    } catch (...) {
        (*host::ReleaseValueData)(&temporary);
        ReleaseScriptObject(object);
        throw;
    }
    (*host::ReleaseValueData)(&temporary);
    ReleaseScriptObject(object);
}

void BindNewScriptObject(ScriptObject** objectVariable, host::TESObjectREFR* reference,
                         host::ScriptClassRegistry* registry, host::HandlePolicy* handlePolicy) {
    ScriptClassInfo* info = (*objectVariable)->classInfo;
    if (info == nullptr) {
        // Without a class there is no form type to bind by.
        return;
    }
    std::atomic_ref<std::uint32_t>(info->referenceCount).fetch_add(1, std::memory_order_relaxed);

    std::uint32_t formType = 0;
    if (vm::GetFormTypeForClassName(registry, &info->name, &formType)) {
        ObjectHandle handle =
            vm::GetHandleForObject(handlePolicy, host::ReferenceFormType, reference);
        if (vm::HandleHasType(handlePolicy, formType, handle) ||
            handle == vm::GetDefaultHandle(handlePolicy)) {
            (*host::BindScriptObject)(vm::ObtainBindingPolicy(registry), objectVariable, handle);
        }
    }

    DropClassInfoReference(info);
}

std::uint32_t LockScriptObject(ScriptObject* object) {
    return lockword::Lock(object->lockWord, SleepMilliseconds);
}

void AddScriptObjectReference(ScriptObject* object) {
    lockword::AddHolder(
        object->lockWord, [object] { vm::AcquireHandle(CurrentHandlePolicy(), HandleOf(object)); },
        SleepMilliseconds);
}

std::uint32_t DropScriptObjectReference(ScriptObject* object) {
    return lockword::DropHolder(
        object->lockWord, [object] { vm::ReleaseHandle(CurrentHandlePolicy(), HandleOf(object)); },
        SleepMilliseconds);
}

void ReleaseScriptObject(ScriptObject* object) {
    if (DropScriptObjectReference(object) == 0) {
        (*host::DestroyScriptObject)(object);
        (*host::HostHeapFree)(host::HostHeap.Pointer(), object, 0);
    }
}

void DropClassInfoReference(ScriptClassInfo* info) {
    std::atomic_ref<std::uint32_t> count(info->referenceCount);
    if (count.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        (*host::DestroyClassInfo)(info);
        (*host::HostHeapFree)(host::HostHeap.Pointer(), info, 0);
    }
}

// The class info found by a lookup stays in use by its address after the
// lookup's count is dropped (as a type tag, and for its name), which is safe
// only while the registry holds a count of its own. If the lookup's count is
// the last one, dropping it would destroy what is still in use; it is kept
// instead, so the class info lives on with that one count.
void DropLookupClassInfoReference(ScriptClassInfo* info) {
    std::atomic_ref<std::uint32_t> count(info->referenceCount);
    std::uint32_t read = count.load(std::memory_order_relaxed);
    while (read > 1) {
        if (count.compare_exchange_weak(read, read - 1, std::memory_order_acq_rel,
                                        std::memory_order_relaxed)) {
            return;
        }
    }
}

} // namespace quorvane
