// Script values and object references: between a TESObjectREFR pointer and
// the VM's value, through the script object bound to the reference's handle,
// with the holder count and lock bit of script objects and the counts of
// class infos.
#pragma once

#include "host/records.h"

#include <cstdint>

namespace quorvane {

// A type tag as a type code: 0 to 15 stand for themselves, a larger even tag
// (a class-info address) is an object (1), a larger odd tag 11.
std::uint32_t EffectiveType(std::uint32_t typeTag);

// The reference that value names, or null. Takes no count.
host::TESObjectREFR* UnpackObjectReference(const host::ScriptValue* value, std::uint32_t formType);

// Makes result the VM's value for reference (none for null or when the VM
// has no script object for it). The result then holds one count on the
// script object.
void PackObjectReference(host::ScriptValue* result, host::TESObjectREFR* reference,
                         host::ScriptClassRegistry* registry);

// Binds the new script object in objectVariable to reference's handle when
// the handle is of the object's type, or is the default handle.
void BindNewScriptObject(host::ScriptObject** objectVariable, host::TESObjectREFR* reference,
                         host::ScriptClassRegistry* registry, host::HandlePolicy* handlePolicy);

// Sets the object's lock bit and returns its count; store the count back
// into lockWord to clear the bit.
std::uint32_t LockScriptObject(host::ScriptObject* object);
void AddScriptObjectReference(host::ScriptObject* object);
// Returns the new count; at 0 the caller destroys the object.
std::uint32_t DropScriptObjectReference(host::ScriptObject* object);
// Drops a count of ours; destroys the object with the last one.
void ReleaseScriptObject(host::ScriptObject* object);

void DropClassInfoReference(host::ScriptClassInfo* info);
// Drops the count that a registry lookup handed out when the class info's
// address is used on afterwards; see the definition.
void DropLookupClassInfoReference(host::ScriptClassInfo* info);

} // namespace quorvane
