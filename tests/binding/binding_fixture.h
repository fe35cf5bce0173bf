// What the binding's tests share: the VM's side installed at the game's
// addresses, objects built in blocks of the host heap, and the host's view of
// an object's slot table.
#pragma once

#include "address_space.h"
#include "binding/native_function.h"
#include "host/entry_points.h"
#include "vm_host.h"
#include "vm_side.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <new>

namespace bindingtest {

namespace host = quorvane::host;

using StringFunction =
    quorvane::NativeFunction1<host::StaticFunctionTag, void, host::StringCacheRef>;
using ReferenceArgumentFunction =
    quorvane::NativeFunction1<host::StaticFunctionTag, void, host::TESObjectREFR*>;
using ReferenceResultFunction =
    quorvane::NativeFunction0<host::StaticFunctionTag, host::TESObjectREFR*>;
using IntegerResultFunction = quorvane::NativeFunction0<host::StaticFunctionTag, unsigned long>;

inline void* HostBlock() {
    return (*host::HostHeapAllocate)(host::HostHeap.Pointer(), 48, 0, 0);
}

// Builds F in a zero-filled block of the host heap, as registration does.
template <typename F, typename... Arguments> F* Build(Arguments... arguments) {
    void* block = HostBlock();
    std::memset(block, 0, 48);
    return new (block) F(arguments...);
}

using SlotTable = const void* const*;
inline SlotTable TableOf(const void* object) {
    return *static_cast<const SlotTable*>(object);
}
inline const void* SlotAddress(const void* object, unsigned slot) {
    return TableOf(object)[slot];
}

class BindingTest : public testing::Test {
  protected:
    void SetUp() override { testhost::InstallVmHost(); }
};

} // namespace bindingtest
