#include "vm_host.h"

#include "address_space.h"

namespace testhost {
namespace host = quorvane::host;

void InstallVmHost() {
    struct Entry {
        std::uintptr_t address;
        VmRoutine routine;
    };
    const Entry entries[] = {
        {host::HostHeapAllocate.address, VmRoutineHostHeapAllocate},
        {host::HostHeapFree.address, VmRoutineHostHeapFree},
        {host::SetStringCacheRef.address, VmRoutineSetStringCacheRef},
        {host::InitNativeFunctionBase.address, VmRoutineInitNativeFunctionBase},
        {host::DestroyNativeFunctionBase.address, VmRoutineDestroyNativeFunctionBase},
        {host::NativeFunctionBaseOp6, VmRoutineNativeFunctionBaseOp6},
        {host::NativeFunctionBaseOp15, VmRoutineNativeFunctionBaseOp15},
        {host::NativeFunctionBaseOp16, VmRoutineNativeFunctionBaseOp16},
        {host::NativeFunctionBaseOp18, VmRoutineNativeFunctionBaseOp18},
        {host::ReleaseValueData.address, VmRoutineReleaseValueData},
        {host::AssignValue.address, VmRoutineAssignValue},
        {host::GetFirstArgumentOffset.address, VmRoutineGetFirstArgumentOffset},
        {host::GetArgument.address, VmRoutineGetArgument},
        {host::DestroyClassInfo.address, VmRoutineDestroyClassInfo},
        {host::DestroyScriptObject.address, VmRoutineDestroyScriptObject},
        {host::BindScriptObject.address, VmRoutineBindScriptObject},
    };
    static_assert(sizeof entries / sizeof entries[0] == VmRoutineCount);
    for (const Entry& entry : entries) {
        InstallRoutine(entry.address, VmRoutineAddress(entry.routine));
    }
    Set(host::HandlePolicyGlobal, static_cast<host::HandlePolicy*>(VmHandlePolicy()));
}

} // namespace testhost
