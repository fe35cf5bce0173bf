// Registration of the five functions with the VM's registry (MSVC-ABI), from
// the extender's call of the callback to a script call of GetVersion.
#include "binding/registration.h"

#include "binding_fixture.h"
#include "console/console_functions.h"
#include "msvc_side.h"
#include "plugin/extender.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace bindingtest {
namespace {

using host::Word;

host::ScriptClassRegistry* Registry() {
    return static_cast<host::ScriptClassRegistry*>(VmRegistry());
}

struct Expected {
    const char* name;
    std::uint32_t parameterCount;
    void (*callback)();
};

template <typename F> void (*Untyped(F function))() {
    return reinterpret_cast<void (*)()>(function);
}

const Expected Functions[] = {
    {"PrintMessage", 1, Untyped(&quorvane::PrintMessage)},
    {"ExecuteCommand", 1, Untyped(&quorvane::ExecuteCommand)},
    {"SetSelectedReference", 1, Untyped(&quorvane::SetSelectedReference)},
    {"GetSelectedReference", 0, Untyped(&quorvane::GetSelectedReference)},
    {"GetVersion", 0, Untyped(&quorvane::GetVersion)},
};

struct AddOrFlags {
    unsigned slot;
    const void* object;       // add
    const char* className;    // flags
    const char* functionName; // flags
    std::uint32_t flag;
};

std::vector<AddOrFlags> AddAndFlagCalls() {
    std::vector<AddOrFlags> calls;
    const VmRegistryLog* log = VmRegistryRecorded();
    for (unsigned i = 0; i < log->count && i < VmRegistryLogCapacity; ++i) {
        const VmRegistryCall& call = log->calls[i];
        if (call.slot == 23) {
            calls.push_back(
                {23, reinterpret_cast<const void*>(call.words[0]), nullptr, nullptr, 0});
        } else if (call.slot == 25) {
            calls.push_back({25, nullptr, reinterpret_cast<const char*>(call.words[0]),
                             reinterpret_cast<const char*>(call.words[1]), call.words[2]});
        }
    }
    return calls;
}

class RegistrationTest : public BindingTest {
  protected:
    void SetUp() override {
        BindingTest::SetUp();
        VmRegistryConfig()->classInfoResult = true;
        VmRegistryConfig()->classInfo = &referenceClass;
    }

    // Checks that exactly the functions named by `registered` were added and
    // flagged, in order, each add followed by its flags.
    void ExpectRegistered(const std::vector<unsigned>& registered) {
        std::vector<AddOrFlags> calls = AddAndFlagCalls();
        ASSERT_EQ(calls.size(), 2 * registered.size());
        const char* className = nullptr;
        for (std::size_t i = 0; i < registered.size(); ++i) {
            const Expected& expected = Functions[registered[i]];
            const AddOrFlags& add = calls[2 * i];
            const AddOrFlags& flags = calls[2 * i + 1];
            ASSERT_EQ(add.slot, 23u);
            ASSERT_EQ(flags.slot, 25u);
            EXPECT_STREQ(flags.functionName, expected.name);
            EXPECT_STREQ(flags.className, "Ulvaric");
            EXPECT_EQ(flags.flag, 1u);
            className = className == nullptr ? flags.className : className;
            EXPECT_EQ(flags.className, className); // one storage for the class name

            auto* function = static_cast<const quorvane::NativeFunction*>(add.object);
            EXPECT_EQ(VmRegisteredFunction(expected.name), add.object);
            // Construction was given the very texts that the flags call got.
            EXPECT_EQ(function->functionName.text, flags.functionName);
            EXPECT_EQ(function->className.text, flags.className);
            EXPECT_EQ(function->parameterCount, expected.parameterCount);
            EXPECT_EQ(function->callback, expected.callback);
            EXPECT_EQ(
                VmCallFunctionSlot(const_cast<quorvane::NativeFunction*>(function), 21, 0, 0, 0),
                1u);
        }
        const VmFunctionBaseLog* base = VmFunctionBaseRecorded();
        for (unsigned i = 0; i < base->initCount && i < VmFunctionLogCapacity; ++i) {
            EXPECT_EQ(base->inits[i].staticFlag, 1u);
        }
        EXPECT_EQ(VmRegistryRecorded()->unexpectedSlots, 0u);
    }

    host::ScriptClassInfo referenceClass{1, {"ObjectReference"}};
};

TEST_F(RegistrationTest, RegistersTheFiveFunctionsInOrderWithTheirFlag) {
    EXPECT_TRUE(quorvane::RegisterScriptFunctions(Registry()));

    ExpectRegistered({0, 1, 2, 3, 4});
    EXPECT_EQ(VmHeap()->allocations, 5u);
    EXPECT_EQ(VmHeap()->lastSize, 48u);
    EXPECT_EQ(VmHeap()->lastExtra[0], 0u);
    EXPECT_EQ(VmHeap()->lastExtra[1], 0u);
    EXPECT_EQ(VmHeap()->lastHeap, host::HostHeap.Pointer());
    EXPECT_EQ(VmHeap()->frees, 0u);

    // The types of the table: string, reference and none; reference; integer.
    auto* set =
        static_cast<quorvane::NativeFunction*>(VmRegisteredFunction("SetSelectedReference"));
    EXPECT_EQ(set->parameters[0].type.tag, Word(&referenceClass));
    EXPECT_EQ(VmCopyReturnType(VmRegisteredFunction("GetSelectedReference")),
              Word(&referenceClass));
    EXPECT_EQ(VmCopyReturnType(VmRegisteredFunction("GetVersion")), 3u);
    auto* print = static_cast<quorvane::NativeFunction*>(VmRegisteredFunction("PrintMessage"));
    EXPECT_EQ(print->parameters[0].type.tag, 2u);
    EXPECT_EQ(VmCopyReturnType(print), 0u);
    EXPECT_EQ(referenceClass.referenceCount, 1u);
}

class MissingBlockTest : public RegistrationTest, public testing::WithParamInterface<unsigned> {};

// Without a block the registry hears nothing of that function: it is never
// handed a null object.
TEST_P(MissingBlockTest, TheOtherFourAreStillBuiltAddedAndFlagged) {
    unsigned missing = GetParam();
    VmHeap()->failAllocationAt = missing + 1;

    EXPECT_TRUE(quorvane::RegisterScriptFunctions(Registry()));

    std::vector<unsigned> registered;
    for (unsigned i = 0; i < 5; ++i) {
        if (i != missing) {
            registered.push_back(i);
        }
    }
    ExpectRegistered(registered);
    EXPECT_EQ(VmHeap()->allocations, 5u);
    EXPECT_EQ(VmFunctionBaseRecorded()->initCount, 4u);
    EXPECT_EQ(VmHeap()->frees, 0u);
}

INSTANTIATE_TEST_SUITE_P(EachFunction, MissingBlockTest, testing::Range(0u, 5u),
                         [](const testing::TestParamInfo<unsigned>& info) {
                             return std::string(Functions[info.param].name);
                         });

// --- exceptions during construction ---
//
// The VM's code cannot throw into ours, so the throwing host routines here are
// our compiler's code, which the unwinder can pass.

unsigned initCalls;
unsigned throwAtInit;

void QV_THISCALL ThrowingInit(void* object, const char* name, const char* className,
                              std::uint32_t staticFlag, std::uint32_t count) {
    if (++initCalls == throwAtInit) {
        throw std::runtime_error("host initialiser failed");
    }
    using Init = void(QV_THISCALL*)(void*, const char*, const char*, std::uint32_t, std::uint32_t);
    reinterpret_cast<Init>(VmRoutineAddress(VmRoutineInitNativeFunctionBase))(
        object, name, className, staticFlag, count);
}

TEST_F(RegistrationTest, AnInitialiserThatThrowsCostsTheBlockAndTheFunctionsAfterIt) {
    initCalls = 0;
    throwAtInit = 2; // ExecuteCommand
    testhost::Install(host::InitNativeFunctionBase, &ThrowingInit);

    EXPECT_TRUE(quorvane::RegisterScriptFunctions(Registry()));

    ExpectRegistered({0});
    EXPECT_EQ(VmHeap()->allocations, 2u);
    ASSERT_EQ(VmHeap()->frees, 1u);
    EXPECT_NE(VmHeap()->freed[0], VmRegisteredFunction("PrintMessage"));
    EXPECT_EQ(VmHeap()->lastFreeExtra, 0u);
    // The host's part was never built, so it is not torn down.
    EXPECT_EQ(VmFunctionBaseRecorded()->destroyCount, 0u);
}

// A registry of our own compiler whose class-info lookup throws, so that the
// exception comes after the host's initialiser has run.
struct ThrowingRegistry {
    const void* const* table;
};
std::vector<const void*> throwingAdded;
std::vector<std::string> throwingFlagged;

void QV_THISCALL ThrowingAdd(ThrowingRegistry*, host::IFunction* function) {
    throwingAdded.push_back(function);
}
void QV_THISCALL ThrowingFlags(ThrowingRegistry*, const char*, const char* functionName,
                               std::uint32_t) {
    throwingFlagged.push_back(functionName);
}
bool QV_THISCALL ThrowingLookup(ThrowingRegistry*, std::uint32_t, host::ScriptClassInfo**) {
    throw std::runtime_error("class lookup failed");
}

TEST_F(RegistrationTest, AnExceptionAfterTheInitialiserTearsDownTheHostsPartToo) {
    const void* table[47] = {};
    table[host::RegistrySlot::GetClassInfoForFormType] =
        reinterpret_cast<const void*>(&ThrowingLookup);
    table[host::RegistrySlot::AddNativeFunction] = reinterpret_cast<const void*>(&ThrowingAdd);
    table[host::RegistrySlot::SetNativeFunctionFlags] =
        reinterpret_cast<const void*>(&ThrowingFlags);
    ThrowingRegistry registry{table};
    throwingAdded.clear();
    throwingFlagged.clear();

    EXPECT_TRUE(
        quorvane::RegisterScriptFunctions(reinterpret_cast<host::ScriptClassRegistry*>(&registry)));

    // PrintMessage and ExecuteCommand made it; SetSelectedReference threw.
    EXPECT_EQ(throwingAdded.size(), 2u);
    EXPECT_EQ(throwingFlagged, (std::vector<std::string>{"PrintMessage", "ExecuteCommand"}));
    const VmFunctionBaseLog* base = VmFunctionBaseRecorded();
    ASSERT_EQ(base->initCount, 3u);
    ASSERT_EQ(base->destroyCount, 1u);
    EXPECT_EQ(base->destroyed[0], base->inits[2].object);
    ASSERT_EQ(VmHeap()->frees, 1u);
    EXPECT_EQ(VmHeap()->freed[0], base->inits[2].object);
    EXPECT_EQ(VmHeap()->allocations, 3u);
}

// --- from the extender to a script ---

TEST_F(RegistrationTest, FromQueryAndLoadToAScriptCallOfGetVersion) {
    ExtenderPluginInfo info{};
    ASSERT_TRUE(ExtenderCallQuery(reinterpret_cast<ExtenderQueryFn>(&SKSEPlugin_Query), 0x09200000,
                                  0, &info));
    ASSERT_TRUE(ExtenderCallLoad(reinterpret_cast<ExtenderLoadFn>(&SKSEPlugin_Load), true));
    ASSERT_TRUE(ExtenderCallRegistration(0, VmRegistry()));

    void* getVersion = VmRegisteredFunction("GetVersion");
    ASSERT_NE(getVersion, nullptr);
    VmStack stack{};
    VmMakeStack(&stack, VmValue{0, 0});
    VmValue result{0, 0};
    EXPECT_TRUE(VmCallSlot22(getVersion, VmRegistry(), &result, &stack));
    EXPECT_EQ(result.typeTag, 3u);
    EXPECT_EQ(result.datum, 2u);
}

} // namespace
} // namespace bindingtest
