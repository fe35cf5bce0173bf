// The whole way: the extender queries and loads the plugin, the VM registers
// its functions, the start-up thread runs, and the script VM (MSVC-ABI code)
// calls all five functions through their objects' run operations, with the
// simulated console showing what they did.
#include "console_fixture.h"
#include "msvc_side.h"
#include "plugin/extender.h"
#include "vm_host.h"
#include "vm_side.h"

namespace {
using testhost::Platform;
namespace host = quorvane::host;

VmValue None() {
    return VmValue{0, 0};
}
VmValue String(const char* text) {
    return VmValue{2, host::Word(VmCachedText(text))};
}

class ScriptCallsTest : public ConsoleTest {
  protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        testhost::InstallVmHost();
        VmRegistryConfig()->classInfoResult = true;
        VmRegistryConfig()->classInfo = &referenceClass;
    }

    // A script call of function with argument, as the VM makes it.
    VmValue Call(const char* function, VmValue argument = None()) {
        void* object = VmRegisteredFunction(function);
        EXPECT_NE(object, nullptr) << function;
        VmStack stack{};
        VmMakeStack(&stack, argument);
        VmValue result{0xEEEEEEEE, 0xEEEEEEEE};
        EXPECT_TRUE(VmCallSlot22(object, VmRegistry(), &result, &stack)) << function;
        return result;
    }

    // The reference class of the VM and one script object bound to a handle.
    host::ScriptClassInfo referenceClass{1, {"ObjectReference"}};
    host::ScriptObject scriptObject{0, &referenceClass, {}, 0x0000BEEF, 0x1, 1};
};

TEST_F(ScriptCallsTest, FromLoadToEveryScriptFunction) {
    CreateLog();
    ExtenderPluginInfo info{};
    ASSERT_TRUE(ExtenderCallQuery(reinterpret_cast<ExtenderQueryFn>(&SKSEPlugin_Query), 0x09200000,
                                  0, &info));
    ASSERT_TRUE(ExtenderCallLoad(reinterpret_cast<ExtenderLoadFn>(&SKSEPlugin_Load), true));
    ASSERT_TRUE(ExtenderCallRegistration(0, VmRegistry()));

    // The console comes up; the start-up thread runs the two routines.
    testhost::MarkConsoleUp();
    ASSERT_EQ(Platform().startedThreads.size(), 1u);
    EXPECT_EQ(testhost::RunStartedThread(0), 0u);
    EXPECT_EQ(console->initializeSteps, (std::vector<unsigned>{1, 2}));

    VmValue result = Call("PrintMessage", String("Health at 100% (%d)"));
    EXPECT_EQ(result.typeTag, 0u);
    EXPECT_EQ(result.datum, 0u);
    ASSERT_EQ(console->printed.size(), 1u);
    EXPECT_EQ(console->printed[0].text, "Health at 100%% (%%d)");
    EXPECT_EQ(console->ShownText(), "Health at 100% (%d)");

    result = Call("ExecuteCommand", String("player.placeatme 7 1"));
    EXPECT_EQ(result.typeTag, 0u);
    ASSERT_EQ(console->commands.size(), 1u);
    EXPECT_EQ(console->commands[0].text, "player.placeatme 7 1");
    EXPECT_EQ(console->commands[0].Word(16), host::Word(console->consoleMenu));

    // A reference comes in as a script object bound to its handle.
    host::TESObjectREFR* reference = testhost::SimulatedReference(0, 0x2A0017);
    VmHandlePolicyConfig()->hasType = true;
    VmHandlePolicyConfig()->checkPasses = true;
    VmHandlePolicyConfig()->objectForHandle = reference;
    result = Call("SetSelectedReference",
                  VmValue{host::Word(&referenceClass), host::Word(&scriptObject)});
    EXPECT_EQ(result.typeTag, 0u);
    EXPECT_EQ(console->selectedHandles, std::vector<std::uint32_t>{0x2A0017});
    EXPECT_EQ(host::ConsoleSelectionGlobal.Read(), 0x2A0017u);

    // And goes back out as the script object bound to it.
    VmHandlePolicyConfig()->objectHandle = 0x100000BEEFull;
    VmRegistryConfig()->findResult = true;
    VmRegistryConfig()->foundObject = &scriptObject;
    scriptObject.lockWord = 2; // one count for the script above, one that Find hands out
    result = Call("GetSelectedReference");
    EXPECT_EQ(result.typeTag, host::Word(&referenceClass));
    EXPECT_EQ(result.datum, host::Word(&scriptObject));
    EXPECT_EQ(testhost::ReferenceCount(reference), 0);

    // None clears the selection through the console menu.
    result = Call("SetSelectedReference", None());
    EXPECT_EQ(result.typeTag, 0u);
    ASSERT_EQ(console->menuSelectionCalls.size(), 1u);
    EXPECT_EQ(console->menuSelectionCalls[0].menu, console->consoleMenu);
    EXPECT_EQ(console->menuSelectionCalls[0].argument, 0u);
    result = Call("GetSelectedReference");
    EXPECT_EQ(result.typeTag, 0u);
    EXPECT_EQ(result.datum, 0u);

    result = Call("GetVersion");
    EXPECT_EQ(result.typeTag, 3u);
    EXPECT_EQ(result.datum, 2u);

    EXPECT_EQ(testhost::MenuReferences(console->consoleMenu), 0);
    EXPECT_EQ(LoggedMessages(), "");
}

TEST_F(ScriptCallsTest, ArgumentsThatAreNoTextDoNothing) {
    CreateLog();
    ASSERT_TRUE(ExtenderCallLoad(reinterpret_cast<ExtenderLoadFn>(&SKSEPlugin_Load), true));
    ASSERT_TRUE(ExtenderCallRegistration(0, VmRegistry()));
    for (VmValue argument : {None(), VmValue{3, 42}, String("")}) {
        Call("PrintMessage", argument);
        Call("ExecuteCommand", argument);
    }
    EXPECT_TRUE(console->printed.empty());
    EXPECT_TRUE(console->commands.empty());
    EXPECT_EQ(LoggedMessages(), "");
}

} // namespace
