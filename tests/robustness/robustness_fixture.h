// The whole plugin as the game meets it: the extender loads it, the script VM
// (MSVC-ABI code) registers and calls its functions, the simulated console
// answers. Fault and stress tests build on this.
#pragma once

#include "console/console_lock.h"
#include "console_fixture.h"
#include "host/entry_points.h"
#include "msvc_side.h"
#include "plugin/extender.h"
#include "vm_host.h"
#include "vm_side.h"

#include <atomic>
#include <string>
#include <thread>

namespace robustness {
namespace host = quorvane::host;

inline VmValue None() {
    return VmValue{0, 0};
}
inline VmValue String(const char* text) {
    return VmValue{2, host::Word(VmCachedText(text))};
}
// A text longer than the VM's string cache keeps: the value points at it
// directly, as it would at a long cached string.
inline VmValue Text(const std::string& text) {
    return VmValue{2, host::Word(text.c_str())};
}

inline constexpr const char* FunctionNames[] = {
    "PrintMessage", "ExecuteCommand", "SetSelectedReference", "GetSelectedReference", "GetVersion"};

class PluginTest : public ConsoleTest {
  protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        testhost::InstallVmHost();
        VmRegistryConfig()->classInfoResult = true;
        VmRegistryConfig()->classInfo = &referenceClass;
    }

    static bool Load(bool offerPapyrusInterface = true) {
        return ExtenderCallLoad(reinterpret_cast<ExtenderLoadFn>(&SKSEPlugin_Load),
                                offerPapyrusInterface);
    }
    static bool Register() { return ExtenderCallRegistration(0, VmRegistry()); }

    // A script call as the VM makes it; the run operation must answer true.
    static VmValue Call(const char* function, VmValue argument = None()) {
        void* object = VmRegisteredFunction(function);
        if (object == nullptr) {
            ADD_FAILURE() << function << " is not registered";
            return VmValue{0xEEEEEEEE, 0xEEEEEEEE};
        }
        VmStack stack{};
        VmMakeStack(&stack, argument);
        VmValue result{0xEEEEEEEE, 0xEEEEEEEE};
        EXPECT_TRUE(VmCallSlot22(object, VmRegistry(), &result, &stack)) << function;
        return result;
    }

    // Whether another thread could take ConsoleLock now: a holder that was
    // skipped on some way out would leave it taken for ever.
    static bool ConsoleLockIsFree() {
        std::atomic<bool> free{false};
        std::thread([&free] {
            if (quorvane::ConsoleLock.try_lock()) {
                quorvane::ConsoleLock.unlock();
                free = true;
            }
        }).join();
        return free;
    }

    VmValue ScriptObjectValue() {
        return VmValue{host::Word(&referenceClass), host::Word(&scriptObject)};
    }

    // The VM's reference class (the registry holds one count) and one script
    // object bound to a handle (the VM holds one count).
    host::ScriptClassInfo referenceClass{1, {"ObjectReference"}};
    host::ScriptObject scriptObject{0, &referenceClass, {}, 0x0000BEEF, 0x1, 1};
};

} // namespace robustness
