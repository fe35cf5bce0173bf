// Native function objects as the script VM meets them: built as the host's
// initialiser expects, every slot called from MSVC-ABI code, the forwarding
// slots handing the call on untouched, and destruction through slot 0.
#include "binding_fixture.h"
#include "host_call.h"

#include <functional>
#include <string>

namespace bindingtest {
namespace {

void StringCallback(host::StaticFunctionTag*, host::StringCacheRef) {}
void ReferenceCallback(host::StaticFunctionTag*, host::TESObjectREFR*) {}
host::TESObjectREFR* ReferenceResultCallback(host::StaticFunctionTag*) {
    return nullptr;
}
unsigned long IntegerCallback(host::StaticFunctionTag*) {
    return 7;
}

host::ScriptClassRegistry* Registry() {
    return static_cast<host::ScriptClassRegistry*>(VmRegistry());
}

using host::Word;

// A class info that the registry keeps with a count of its own.
host::ScriptClassInfo referenceClass{1, {"ObjectReference"}};
constexpr std::uint32_t ReferenceClassTag = 0xFFFFFFFF; // stands for &referenceClass in cases

struct Signature {
    const char* name;
    std::function<quorvane::NativeFunction*(const char* name, const char* className)> build;
    void (*callback)();
    std::uint32_t parameterCount;
    std::uint32_t parameterType; // of entry 0, when there is one
    std::uint32_t returnType;
    bool looksUpReferenceClass;
};

const char* const ClassName = "Ulvaric";

std::vector<Signature> Signatures() {
    using quorvane::NativeFunction;
    return {
        {"PrintMessage",
         [](const char* n, const char* c) -> NativeFunction* {
             return Build<StringFunction>(n, c, &StringCallback, Registry());
         },
         reinterpret_cast<void (*)()>(&StringCallback), 1, 2, 0, false},
        {"SetSelectedReference",
         [](const char* n, const char* c) -> NativeFunction* {
             return Build<ReferenceArgumentFunction>(n, c, &ReferenceCallback, Registry());
         },
         reinterpret_cast<void (*)()>(&ReferenceCallback), 1, ReferenceClassTag, 0, true},
        {"GetSelectedReference",
         [](const char* n, const char* c) -> NativeFunction* {
             return Build<ReferenceResultFunction>(n, c, &ReferenceResultCallback, Registry());
         },
         reinterpret_cast<void (*)()>(&ReferenceResultCallback), 0, 0, ReferenceClassTag, true},
        {"GetVersion",
         [](const char* n, const char* c) -> NativeFunction* {
             return Build<IntegerResultFunction>(n, c, &IntegerCallback, Registry());
         },
         reinterpret_cast<void (*)()>(&IntegerCallback), 0, 0, 3, false},
    };
}

std::uint32_t Expected(std::uint32_t type) {
    return type == ReferenceClassTag ? Word(&referenceClass) : type;
}

class SignatureTest : public BindingTest, public testing::WithParamInterface<Signature> {
  protected:
    void SetUp() override {
        BindingTest::SetUp();
        referenceClass.referenceCount = 1;
        VmRegistryConfig()->classInfoResult = true;
        VmRegistryConfig()->classInfo = &referenceClass;
    }
};

TEST_P(SignatureTest, IsBuiltInTheHostsOrderWithItsTypes) {
    const Signature& signature = GetParam();
    quorvane::NativeFunction* function = signature.build(signature.name, ClassName);

    const VmFunctionBaseLog* base = VmFunctionBaseRecorded();
    ASSERT_EQ(base->initCount, 1u);
    const VmInitCall& init = base->inits[0];
    EXPECT_EQ(init.object, function);
    EXPECT_EQ(init.functionName, signature.name);
    EXPECT_EQ(init.className, ClassName);
    EXPECT_EQ(init.staticFlag, 1u);
    EXPECT_EQ(init.parameterCount, signature.parameterCount);

    // While the host's initialiser ran the object was a NativeFunction: the
    // shared slots already there, the run operation not yet.
    auto atInit = static_cast<SlotTable>(init.tableAtCall);
    for (unsigned slot = 0; slot < 22; ++slot) {
        EXPECT_EQ(atInit[slot], SlotAddress(function, slot)) << "slot " << slot;
    }
    EXPECT_NE(atInit[22], SlotAddress(function, 22));

    // The host-owned fields keep what the host put there.
    EXPECT_EQ(function->hostWord, VmInitHostWord);
    EXPECT_STREQ(function->functionName.text, signature.name);
    EXPECT_EQ(function->callback, signature.callback);
    EXPECT_EQ(VmCallFunctionSlot(function, 21, 0, 0, 0), 1u);

    EXPECT_EQ(function->returnType.tag, Expected(signature.returnType));
    EXPECT_EQ(VmCopyReturnType(function), Expected(signature.returnType));
    if (signature.parameterCount == 1) {
        EXPECT_EQ(function->parameters[0].type.tag, Expected(signature.parameterType));
        EXPECT_EQ(function->parameters[0].hostWord, 0u); // bytes 0 to 3 are the host's
    }

    // The class-info lookup only where a reference is involved, its output
    // preset to null, and its count dropped exactly once.
    const VmRegistryLog* registry = VmRegistryRecorded();
    if (signature.looksUpReferenceClass) {
        ASSERT_EQ(registry->count, 1u);
        EXPECT_EQ(registry->calls[0].slot, 10u);
        EXPECT_EQ(registry->calls[0].words[0], 61u);
        EXPECT_EQ(registry->calls[0].outputAtEntry, 0u);
    } else {
        EXPECT_EQ(registry->count, 0u);
    }
    EXPECT_EQ(referenceClass.referenceCount, 1u);
    EXPECT_EQ(VmHandlePolicyRecorded()->destroyedClassInfos, 0u);
    EXPECT_EQ(registry->unexpectedSlots, 0u);
}

TEST_P(SignatureTest, FieldsTheHostReadsAreClearedBeforeItsInitialiser) {
    void* block = HostBlock(); // filled with 0xAB by the host heap
    auto* function =
        new (block) IntegerResultFunction("GetVersion", ClassName, &IntegerCallback, Registry());
    const VmInitCall& init = VmFunctionBaseRecorded()->inits[0];
    for (unsigned field : init.fieldsAtCall) {
        EXPECT_EQ(field, 0u);
    }
    EXPECT_EQ(function->extraFieldA, nullptr);
    EXPECT_EQ(function->extraFieldB, nullptr);
}

INSTANTIATE_TEST_SUITE_P(AllSignatures, SignatureTest, testing::ValuesIn(Signatures()),
                         [](const testing::TestParamInfo<Signature>& info) {
                             return std::string(info.param.name);
                         });

struct LookupCase {
    const char* name;
    bool result;
    bool giveClassInfo;
};

class FailedLookupTest : public BindingTest, public testing::WithParamInterface<LookupCase> {};

TEST_P(FailedLookupTest, LeavesTheTypeAtZeroAndTheCountAlone) {
    referenceClass.referenceCount = 1;
    VmRegistryConfig()->classInfoResult = GetParam().result;
    VmRegistryConfig()->classInfo = GetParam().giveClassInfo ? &referenceClass : nullptr;

    auto* argument = Build<ReferenceArgumentFunction>("SetSelectedReference", ClassName,
                                                      &ReferenceCallback, Registry());
    auto* result = Build<ReferenceResultFunction>("GetSelectedReference", ClassName,
                                                  &ReferenceResultCallback, Registry());

    EXPECT_EQ(argument->parameters[0].type.tag, 0u);
    EXPECT_EQ(VmCopyReturnType(result), 0u);
    EXPECT_EQ(referenceClass.referenceCount, 1u);
    EXPECT_EQ(VmHandlePolicyRecorded()->destroyedClassInfos, 0u);
}

INSTANTIATE_TEST_SUITE_P(Lookups, FailedLookupTest,
                         testing::Values(LookupCase{"FalseWithClassInfo", false, true},
                                         LookupCase{"FalseWithNull", false, false},
                                         LookupCase{"TrueWithNull", true, false}),
                         [](const testing::TestParamInfo<LookupCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(BindingTest, ALookupCountThatIsTheLastOneIsKeptSoTheTypeStaysValid) {
    // The registry holds no count of its own: the lookup's is the only one.
    host::ScriptClassInfo lonely{0, {"ObjectReference"}};
    VmRegistryConfig()->classInfoResult = true;
    VmRegistryConfig()->classInfo = &lonely;

    auto* function = Build<ReferenceResultFunction>("GetSelectedReference", ClassName,
                                                    &ReferenceResultCallback, Registry());

    EXPECT_EQ(VmCopyReturnType(function), Word(&lonely));
    EXPECT_EQ(lonely.referenceCount, 1u);
    EXPECT_EQ(VmHandlePolicyRecorded()->destroyedClassInfos, 0u);
    EXPECT_EQ(VmHeap()->frees, 0u);
}

class SlotTest : public BindingTest {
  protected:
    void SetUp() override {
        BindingTest::SetUp();
        function = Build<StringFunction>("PrintMessage", ClassName, &StringCallback, Registry());
    }
    StringFunction* function = nullptr;
};

TEST_F(SlotTest, SharedSlotsAnswerFromTheObjectAsTheVmDeclaresThem) {
    function->parameterCount = 0xFFFF; // widened without sign
    struct Case {
        unsigned slot;
        unsigned a;
        unsigned long long expected;
    };
    const Case cases[] = {
        {1, 0, Word(&function->functionName)},
        {2, 0, Word(&function->className)},
        {3, 0, Word(&function->extraFieldA)},
        {4, 0, 0},
        {5, 0, 65535},
        {7, 0, 65535},
        {8, 0, 1},
        {9, 0, VmInitFlagA},
        {10, 0, 0},
        {11, 0, 0},
        {12, 0, VmInitHostValue},
        {13, 0, Word(&function->extraFieldB)},
        {14, 0x14141414, 0},
        {19, 0, VmInitFlagB},
        {21, 0, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VmCallFunctionSlot(function, c.slot, c.a, 0, 0), c.expected) << "slot " << c.slot;
    }
}

TEST_F(SlotTest, SlotSeventeenClearsItsOutputAndReportsFalse) {
    std::uint32_t output = 0x17171717;
    EXPECT_EQ(VmCallFunctionSlot(function, 17, 5, Word(&output), 0), 0u);
    EXPECT_EQ(output, 0u);
    EXPECT_EQ(VmCallFunctionSlot(function, 17, 5, 0, 0), 0u); // no output: nothing written
}

TEST_F(SlotTest, SlotTwentyStoresTheByteThatSlotNineteenReads) {
    VmCallFunctionSlot(function, 20, 0x7E, 0, 0);
    EXPECT_EQ(function->flagB, 0x7E);
    EXPECT_EQ(VmCallFunctionSlot(function, 19, 0, 0, 0), 0x7Eu);
    EXPECT_EQ(function->flagA, VmInitFlagA); // its neighbour untouched
}

TEST_F(SlotTest, SlotTwentyOneSaysWhetherThereIsACallback) {
    function->callback = nullptr;
    EXPECT_EQ(VmCallFunctionSlot(function, 21, 0, 0, 0), 0u);
}

// Every slot keeps the host's stack contract: the callee pops its arguments,
// and the result comes back where the host reads it.
TEST_F(SlotTest, EverySlotPopsItsOwnArgumentsAsAMemberCall) {
    std::uint32_t output = 1;
    host::TypeDescriptor returned(0xEEEEEEEE);
    struct Case {
        unsigned slot;
        std::int32_t count;
        std::uint32_t arguments[3];
    };
    const Case cases[] = {
        {1, 0, {}},   {2, 0, {}},
        {3, 0, {}},   {4, 1, {Word(&returned)}},
        {5, 0, {}},   {7, 0, {}},
        {8, 0, {}},   {9, 0, {}},
        {10, 0, {}},  {11, 0, {}},
        {12, 0, {}},  {13, 0, {}},
        {14, 1, {9}}, {17, 2, {9, Word(&output)}},
        {19, 0, {}},  {20, 1, {0xA5}},
        {21, 0, {}},
    };
    for (const Case& c : cases) {
        std::uint32_t eaxEdx[2] = {};
        EXPECT_EQ(HostCall(SlotAddress(function, c.slot), HostThiscall, function, c.arguments,
                           c.count, eaxEdx),
                  0)
            << "slot " << c.slot;
    }
    // Slot 4 writes into the caller's storage and hands its address back.
    std::uint32_t eaxEdx[2] = {};
    std::uint32_t argument = Word(&returned);
    HostCall(SlotAddress(function, 4), HostThiscall, function, &argument, 1, eaxEdx);
    EXPECT_EQ(eaxEdx[0], Word(&returned));
    EXPECT_EQ(returned.tag, 0u);
}

TEST_F(SlotTest, ForwardingSlotsHandTheCallToTheHostUntouched) {
    EXPECT_EQ(VmCallFunctionSlot(function, 6, 10, 20, 30),
              10u * 3 + 20 * 5 + 30 * 7 + Word(function));
    EXPECT_EQ(VmCallFunctionSlot(function, 15, 0x1515, 0xABCDEF01, 0),
              (static_cast<unsigned long long>(0x1515 ^ Word(function)) << 32) | 0xABCDEF01);
    EXPECT_EQ(VmCallFunctionSlot(function, 16, 0x16161616, 0, 0), 1u);
    EXPECT_EQ(VmCallFunctionSlot(function, 16, 5, 0, 0), 0u);
    EXPECT_EQ(VmCallFunctionSlot(function, 18, 1, 2, 4), Word(function) + 7);

    const VmFunctionBaseLog* log = VmFunctionBaseRecorded();
    ASSERT_EQ(log->forwardCount, 5u);
    const VmForwardCall expected[] = {{6, function, {10, 20, 30}},
                                      {15, function, {0x1515, 0xABCDEF01, 0}},
                                      {16, function, {0x16161616, 0, 0}},
                                      {16, function, {5, 0, 0}},
                                      {18, function, {1, 2, 4}}};
    for (unsigned i = 0; i < 5; ++i) {
        EXPECT_EQ(log->forwards[i].slot, expected[i].slot);
        EXPECT_EQ(log->forwards[i].object, expected[i].object);
        for (unsigned a = 0; a < 3; ++a) {
            EXPECT_EQ(log->forwards[i].arguments[a], expected[i].arguments[a]);
        }
    }

    // The host's body pops the arguments; the result reaches the caller.
    const std::uint32_t arguments[3] = {1, 2, 3};
    const struct {
        unsigned slot;
        std::int32_t count;
    } shapes[] = {{6, 3}, {15, 2}, {16, 1}, {18, 3}};
    for (const auto& shape : shapes) {
        std::uint32_t eaxEdx[2] = {};
        EXPECT_EQ(HostCall(SlotAddress(function, shape.slot), HostThiscall, function, arguments,
                           shape.count, eaxEdx),
                  0)
            << "slot " << shape.slot;
        if (shape.slot == 15) {
            EXPECT_EQ(eaxEdx[0], 2u);
            EXPECT_EQ(eaxEdx[1], 1u ^ Word(function));
        }
    }
}

// Nothing of ours runs between the VM and the host's body: each forwarding
// slot is exactly `mov $body, %eax; jmp *%eax`.
TEST_F(SlotTest, ForwardingSlotsAreAJumpToTheHostsBodyAndNothingElse) {
    const std::pair<unsigned, std::uintptr_t> slots[] = {{6, host::NativeFunctionBaseOp6},
                                                         {15, host::NativeFunctionBaseOp15},
                                                         {16, host::NativeFunctionBaseOp16},
                                                         {18, host::NativeFunctionBaseOp18}};
    for (auto [slot, body] : slots) {
        const auto* code = static_cast<const std::uint8_t*>(SlotAddress(function, slot));
        std::uint32_t target = 0;
        std::memcpy(&target, code + 1, sizeof target);
        EXPECT_EQ(code[0], 0xB8) << "slot " << slot; // mov imm32, %eax
        EXPECT_EQ(target, body) << "slot " << slot;
        EXPECT_EQ(code[5], 0xFF) << "slot " << slot; // jmp *%eax
        EXPECT_EQ(code[6], 0xE0) << "slot " << slot;
    }
}

// The interface's own table: slot 0 and the pure slots 1 to 22.
void ExpectInterfaceTable(const void* object, SlotTable concrete) {
    SlotTable table = TableOf(object);
    EXPECT_NE(table, concrete);
    EXPECT_NE(table[0], concrete[0]);
    for (unsigned slot = 1; slot <= 22; ++slot) {
        EXPECT_EQ(table[slot], table[1]) << "slot " << slot;
        EXPECT_NE(table[slot], concrete[slot]) << "slot " << slot;
    }
}

TEST_F(SlotTest, DeleteTearsDownWithTheSharedTableAndGivesTheStorageBack) {
    SlotTable concrete = TableOf(function);
    VmDeleteFunction(function); // slot 0 with flags 1

    const VmFunctionBaseLog* log = VmFunctionBaseRecorded();
    ASSERT_EQ(log->destroyCount, 1u);
    EXPECT_EQ(log->destroyed[0], function);
    auto atDestroy = static_cast<SlotTable>(log->tableAtDestroy[0]);
    EXPECT_EQ(atDestroy, static_cast<SlotTable>(log->inits[0].tableAtCall)); // NativeFunction's
    ASSERT_EQ(VmHeap()->frees, 1u);
    EXPECT_EQ(VmHeap()->freed[0], function);
    EXPECT_EQ(VmHeap()->lastFreeExtra, 0u);
    EXPECT_EQ(VmHeap()->lastHeap, host::HostHeap.Pointer());
    ExpectInterfaceTable(function, concrete);
}

TEST_F(SlotTest, DestroyInPlaceKeepsTheStorageWithTheInterfaceTableInIt) {
    SlotTable concrete = TableOf(function);
    VmDestroyFunctionInPlace(function); // slot 0 with flags 0

    EXPECT_EQ(VmFunctionBaseRecorded()->destroyCount, 1u);
    EXPECT_EQ(VmHeap()->frees, 0u);
    ExpectInterfaceTable(function, concrete);

    // What is left is the interface alone: deleting it now only frees.
    VmDeleteFunction(function);
    EXPECT_EQ(VmFunctionBaseRecorded()->destroyCount, 1u);
    ASSERT_EQ(VmHeap()->frees, 1u);
    EXPECT_EQ(VmHeap()->freed[0], function);
}

TEST_F(SlotTest, SlotZeroReturnsTheObjectAndPopsTheFlags) {
    std::uint32_t flags = 0;
    std::uint32_t eaxEdx[2] = {};
    EXPECT_EQ(HostCall(SlotAddress(function, 0), HostThiscall, function, &flags, 1, eaxEdx), 0);
    EXPECT_EQ(eaxEdx[0], Word(function));
    EXPECT_EQ(VmHeap()->frees, 0u);
}

} // namespace
} // namespace bindingtest
