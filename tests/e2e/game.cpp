#include "game.h"

#include "address_space.h"
#include "console_sim.h"
#include "host/entry_points.h"
#include "msvc_side.h"
#include "string_cache_side.h"
#include "vm_host.h"

#include <cstddef>

namespace e2e {
namespace {
namespace host = quorvane::host;

static_assert(offsetof(WorldScriptObject, classInfo) == 4);
static_assert(offsetof(WorldScriptObject, handleLow) == 16);
static_assert(offsetof(WorldScriptObject, lockWord) == 24);

struct WorldClassInfo {
    std::uint32_t referenceCount;
    const char* name;
};

// The registry keeps its own count on the class info for the life of the VM.
WorldClassInfo referenceClassInfo{1000, nullptr};

constexpr std::uint32_t ReferenceFormType = 61;

struct Placed {
    const char* name;
    std::uint32_t refHandle;
    std::uint64_t vmHandle;
};
const Placed Places[] = {
    {"player", 0x00000014, 0x0000FFFF00000014ull},
    {"lydia", 0x000A2C94, 0x0000FFFF000A2C94ull},
    {"chest", 0x0001A332, 0x0000FFFF0001A332ull},
};

std::vector<WorldReference> world;
WorldScriptObject boundObjects[std::size(Places)];

} // namespace

void InstallGame() {
    testhost::InstallSimulatedConsole();
    testhost::InstallVmHost();
    // Script calls carry texts of any length; the VM's small test cache would
    // cut them.
    testhost::InstallRoutine(host::SetStringCacheRef.address, StringCacheSideSetRoutine());

    referenceClassInfo.name = StringCacheSideIntern("ObjectReference");
    world.clear();
    for (std::size_t i = 0; i < std::size(Places); ++i) {
        void* reference =
            testhost::SimulatedReference(static_cast<unsigned>(i), Places[i].refHandle);
        // Bound objects live as long as the VM: the registry holds a count.
        boundObjects[i] = WorldScriptObject{0,
                                            &referenceClassInfo,
                                            {0, 0},
                                            static_cast<std::uint32_t>(Places[i].vmHandle),
                                            static_cast<std::uint32_t>(Places[i].vmHandle >> 32),
                                            10};
        world.push_back(
            WorldReference{Places[i].name, reference, Places[i].refHandle, &boundObjects[i]});
    }
    VmRegistrySetup* registry = VmRegistryConfig();
    registry->classInfoResult = true;
    registry->classInfo = &referenceClassInfo;
    registry->formTypeResult = true;
    registry->formType = ReferenceFormType;
    registry->findResult = true;
    registry->foundObject = nullptr;
    VmHandlePolicySetup* policy = VmHandlePolicyConfig();
    policy->hasType = true;
    policy->checkPasses = true;
}

const std::vector<WorldReference>& World() {
    return world;
}

const WorldReference* FindWorldReference(const std::string& name) {
    for (const WorldReference& reference : world) {
        if (reference.name == name) {
            return &reference;
        }
    }
    return nullptr;
}

const void* ReferenceClassInfo() {
    return &referenceClassInfo;
}

VmValue StringArgument(const std::string& text) {
    const char* cached = StringCacheSideIntern(text.c_str());
    return VmValue{2, static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(cached))};
}

VmValue ReferenceArgument(const WorldReference* reference) {
    if (reference == nullptr) {
        return VmValue{0, 0};
    }
    VmHandlePolicyConfig()->objectForHandle = reference->reference;
    return VmValue{static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(&referenceClassInfo)),
                   static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(reference->bound))};
}

void PrepareReferenceResult() {
    std::uint32_t selected = host::ConsoleSelectionGlobal.Read();
    const WorldReference* found = nullptr;
    for (const WorldReference& reference : world) {
        if (reference.refHandle == selected) {
            found = &reference;
        }
    }
    VmHandlePolicyConfig()->objectHandle =
        found != nullptr ? (std::uint64_t{found->bound->handleHigh} << 32) | found->bound->handleLow
                         : 0;
    VmRegistryConfig()->foundObject = found != nullptr ? found->bound : nullptr;
    VmRegistryConfig()->findResult = found != nullptr;
}

const WorldReference* ReferenceInResult(const VmValue& result) {
    if (result.typeTag == 0) {
        return nullptr;
    }
    for (const WorldReference& reference : world) {
        if (result.datum ==
            static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(reference.bound))) {
            return &reference;
        }
    }
    return nullptr;
}

bool StartPlugin(const LoadedDll& dll, std::string* error) {
    auto query =
        reinterpret_cast<ExtenderQueryFn>(const_cast<void*>(FindExport(dll, "SKSEPlugin_Query")));
    auto load =
        reinterpret_cast<ExtenderLoadFn>(const_cast<void*>(FindExport(dll, "SKSEPlugin_Load")));
    if (query == nullptr || load == nullptr) {
        *error = "the DLL does not export SKSEPlugin_Query and SKSEPlugin_Load";
        return false;
    }
    ExtenderPluginInfo info{};
    if (!ExtenderCallQuery(query, 0x09200000, 0, &info)) {
        *error = "SKSEPlugin_Query refused the game runtime 0x09200000";
        return false;
    }
    if (!ExtenderCallLoad(load, true)) {
        *error = "SKSEPlugin_Load answered false";
        return false;
    }
    if (ExtenderRecorded()->callbackCount != 1) {
        *error = "SKSEPlugin_Load handed over " +
                 std::to_string(ExtenderRecorded()->callbackCount) + " registration callbacks";
        return false;
    }
    if (!ExtenderCallRegistration(0, VmRegistry())) {
        *error = "the registration callback answered false";
        return false;
    }
    return true;
}

VmValue CallScriptFunction(const char* name, VmValue argument, bool* returned) {
    void* function = VmRegisteredFunction(name);
    VmValue result{0xCCCCCCCC, 0xCCCCCCCC}; // what the VM's result slot held before
    if (function == nullptr) {
        if (returned != nullptr) {
            *returned = false;
        }
        return result;
    }
    VmStack stack{};
    VmMakeStack(&stack, argument);
    bool answer = VmCallSlot22(function, VmRegistry(), &result, &stack);
    if (returned != nullptr) {
        *returned = answer;
    }
    return result;
}

} // namespace e2e
