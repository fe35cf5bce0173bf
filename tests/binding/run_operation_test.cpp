// The run operations (slot 22) called by the VM's side as the game calls
// them: the argument taken off the VM's stack and converted, the callback,
// the result written after it; true on every path, exceptions included, and
// nothing allocated.
#include "binding_fixture.h"
#include "host_call.h"
#include "platform_control.h"

#include <atomic>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>

namespace {
std::atomic<unsigned> operatorNewCalls{0};
} // namespace

// Counts every allocation of the test program.
void* operator new(std::size_t size) {
    ++operatorNewCalls;
    if (void* block = std::malloc(size == 0 ? 1 : size)) {
        return block;
    }
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}

namespace bindingtest {
namespace {

using host::ScriptClassInfo;
using host::ScriptObject;
using host::Word;

constexpr std::uint64_t Handle = 0x0000000700000044ull;
char referenceStorage[16];
host::TESObjectREFR* const Reference = reinterpret_cast<host::TESObjectREFR*>(referenceStorage);

host::ScriptClassRegistry* Registry() {
    return static_cast<host::ScriptClassRegistry*>(VmRegistry());
}

// What the callbacks saw.
struct Seen {
    unsigned calls = 0;
    const char* text = nullptr;
    host::TESObjectREFR* reference = nullptr;
    unsigned releasesBefore = 0; // ReleaseValueData calls before the callback ran
    bool fail = false;
    host::TESObjectREFR* give = nullptr;
    unsigned long number = 0;
};
Seen seen;

void Observe() {
    ++seen.calls;
    seen.releasesBefore = VmValuesRecorded()->releaseCount;
    if (seen.fail) {
        throw std::runtime_error("plugin function failed");
    }
}
void TextCallback(host::StaticFunctionTag* tag, host::StringCacheRef text) {
    EXPECT_EQ(tag, nullptr);
    seen.text = text.text;
    Observe();
}
void ReferenceCallback(host::StaticFunctionTag* tag, host::TESObjectREFR* reference) {
    EXPECT_EQ(tag, nullptr);
    seen.reference = reference;
    Observe();
}
host::TESObjectREFR* ReferenceResultCallback(host::StaticFunctionTag* tag) {
    EXPECT_EQ(tag, nullptr);
    Observe();
    return seen.give;
}
unsigned long IntegerCallback(host::StaticFunctionTag* tag) {
    EXPECT_EQ(tag, nullptr);
    Observe();
    return seen.number;
}

class RunOperationTest : public BindingTest {
  protected:
    void SetUp() override {
        BindingTest::SetUp();
        seen = Seen{};
        VmRegistryConfig()->classInfoResult = true;
        VmRegistryConfig()->classInfo = &info;
        VmHandlePolicyConfig()->hasType = true;
        VmHandlePolicyConfig()->checkPasses = true;
        VmHandlePolicyConfig()->objectForHandle = Reference;
        VmHandlePolicyConfig()->objectHandle = Handle;
        text = Build<StringFunction>("PrintMessage", "Ulvaric", &TextCallback, Registry());
        referenceArgument = Build<ReferenceArgumentFunction>("SetSelectedReference", "Ulvaric",
                                                             &ReferenceCallback, Registry());
        referenceResult = Build<ReferenceResultFunction>("GetSelectedReference", "Ulvaric",
                                                         &ReferenceResultCallback, Registry());
        integer =
            Build<IntegerResultFunction>("GetVersion", "Ulvaric", &IntegerCallback, Registry());
        VmReset(); // construction's calls are not part of what is checked
        VmRegistryConfig()->classInfoResult = true;
        VmRegistryConfig()->classInfo = &info;
        VmHandlePolicyConfig()->hasType = true;
        VmHandlePolicyConfig()->checkPasses = true;
        VmHandlePolicyConfig()->objectForHandle = Reference;
        VmHandlePolicyConfig()->objectHandle = Handle;
    }

    bool Call(void* function, VmValue argument) {
        VmMakeStack(&stack, argument);
        return VmCallSlot22(function, VmRegistry(), &result, &stack);
    }

    void ExpectArgumentTakenFromTheStack() {
        const VmValueLog* values = VmValuesRecorded();
        EXPECT_EQ(values->argumentOffsetCalls, 1u);
        EXPECT_EQ(values->argumentCalls, 1u);
        EXPECT_EQ(values->argumentList, stack.argumentList);
        EXPECT_EQ(values->argumentStack, &stack);
        EXPECT_EQ(values->argumentIndex, 0u);
        EXPECT_EQ(values->argumentOffset, VmFirstArgumentOffset);
    }

    // The result's old datum was released once, after the callback.
    void ExpectNoneAfterRelease() {
        EXPECT_EQ(result.typeTag, 0u);
        EXPECT_EQ(result.datum, 0u);
        const VmValueLog* values = VmValuesRecorded();
        ASSERT_EQ(values->releaseCount, 1u);
        EXPECT_EQ(values->released[0].value, &result);
        EXPECT_EQ(values->released[0].typeTag, 3u);
        EXPECT_EQ(values->released[0].datum, 99u);
        EXPECT_EQ(seen.releasesBefore, 0u);
    }

    ScriptClassInfo info{1, {"ObjectReference"}};
    VmStack stack{};
    VmValue result{3, 99}; // held a value before the call
    StringFunction* text = nullptr;
    ReferenceArgumentFunction* referenceArgument = nullptr;
    ReferenceResultFunction* referenceResult = nullptr;
    IntegerResultFunction* integer = nullptr;
};

TEST_F(RunOperationTest, AStringArgumentReachesTheFunctionThroughTheStringCache) {
    const char* script = "Hello from a script";
    EXPECT_TRUE(Call(text, VmValue{2, Word(script)}));

    ExpectArgumentTakenFromTheStack();
    const VmValueLog* values = VmValuesRecorded();
    ASSERT_EQ(values->setCount, 1u);
    EXPECT_EQ(values->setTexts[0], script);
    EXPECT_EQ(seen.calls, 1u);
    EXPECT_EQ(seen.text, VmCachedText(script)); // what the cache made, not the raw datum
    ExpectNoneAfterRelease();
}

TEST_F(RunOperationTest, ArgumentsOfOtherTypesArriveAsANullText) {
    const VmValue arguments[] = {{0, 0}, {3, 42}, {1, Word("not a string")}, {Word(&info), 0}};
    for (const VmValue& argument : arguments) {
        VmReset();
        seen = Seen{};
        result = VmValue{3, 99};
        EXPECT_TRUE(Call(text, argument));
        const VmValueLog* values = VmValuesRecorded();
        ASSERT_EQ(values->setCount, 1u);
        EXPECT_EQ(values->setTexts[0], nullptr) << "tag " << argument.typeTag;
        EXPECT_EQ(seen.calls, 1u);
        EXPECT_EQ(seen.text, VmCachedText(nullptr));
        ExpectNoneAfterRelease();
    }
}

TEST_F(RunOperationTest, AReferenceArgumentIsUnpackedBeforeTheCall) {
    ScriptObject object{};
    object.classInfo = &info;
    object.handleLow = static_cast<std::uint32_t>(Handle);
    object.handleHigh = static_cast<std::uint32_t>(Handle >> 32);
    object.lockWord = 1;

    EXPECT_TRUE(Call(referenceArgument, VmValue{Word(&info), Word(&object)}));
    ExpectArgumentTakenFromTheStack();
    EXPECT_EQ(seen.reference, Reference);
    ExpectNoneAfterRelease();

    // A handle the policy refuses: the function hears None.
    VmReset();
    seen = Seen{};
    result = VmValue{3, 99};
    VmHandlePolicyConfig()->hasType = false;
    EXPECT_TRUE(Call(referenceArgument, VmValue{Word(&info), Word(&object)}));
    EXPECT_EQ(seen.calls, 1u);
    EXPECT_EQ(seen.reference, nullptr);
    ExpectNoneAfterRelease();
    EXPECT_EQ(object.lockWord, 1u);
}

TEST_F(RunOperationTest, AReferenceResultIsPackedIntoTheResult) {
    ScriptObject object{};
    object.classInfo = &info;
    object.lockWord = 1;
    VmRegistryConfig()->findResult = true;
    VmRegistryConfig()->foundObject = &object;
    seen.give = Reference;

    EXPECT_TRUE(Call(referenceResult, VmValue{0, 0}));

    EXPECT_EQ(result.typeTag, Word(&info));
    EXPECT_EQ(result.datum, Word(&object));
    EXPECT_EQ(object.lockWord, 1u);
    EXPECT_EQ(VmValuesRecorded()->argumentCalls, 0u); // nothing taken off the stack
    EXPECT_EQ(seen.releasesBefore, 0u);
    EXPECT_EQ(VmValuesRecorded()->released[0].datum, 99u);
}

TEST_F(RunOperationTest, ANullReferenceResultIsNoneWithoutARegistryCall) {
    EXPECT_TRUE(Call(referenceResult, VmValue{0, 0}));
    ExpectNoneAfterRelease();
    EXPECT_EQ(VmRegistryRecorded()->count, 0u);
}

TEST_F(RunOperationTest, AnIntegerResultIsTagThreeWithTheFunctionsValue) {
    seen.number = 2;
    EXPECT_TRUE(Call(integer, VmValue{0, 0}));
    EXPECT_EQ(result.typeTag, 3u);
    EXPECT_EQ(result.datum, 2u);
    ASSERT_EQ(VmValuesRecorded()->releaseCount, 1u);
    EXPECT_EQ(VmValuesRecorded()->released[0].datum, 99u);
    EXPECT_EQ(seen.releasesBefore, 0u);

    seen.number = 0xFFFFFFFF;
    EXPECT_TRUE(Call(integer, VmValue{0, 0}));
    EXPECT_EQ(result.datum, 0xFFFFFFFFu);
}

TEST_F(RunOperationTest, AFailingFunctionLeavesNoneAndTheVmHearsTrue) {
    seen.fail = true;
    void* functions[] = {text, referenceArgument, referenceResult, integer};
    for (void* function : functions) {
        VmReset();
        result = VmValue{3, 99};
        EXPECT_TRUE(Call(function, VmValue{2, Word("x")}));
        EXPECT_EQ(result.typeTag, 0u);
        EXPECT_EQ(result.datum, 0u);
        ASSERT_EQ(VmValuesRecorded()->releaseCount, 1u);
        EXPECT_EQ(VmValuesRecorded()->released[0].datum, 99u);
    }
    EXPECT_EQ(seen.calls, 4u);
}

host::ScriptValue* QV_THISCALL NoArgument(host::ArgumentList*, host::ScriptStack*, std::uint32_t,
                                          std::uint32_t) {
    return nullptr;
}

// A stack without the argument is the VM's fault, but costs no crash: the
// function hears a null text or None.
TEST_F(RunOperationTest, AMissingArgumentArrivesAsNothing) {
    testhost::Install(host::GetArgument, &NoArgument);
    seen.reference = Reference;
    EXPECT_TRUE(Call(text, VmValue{2, Word("x")}));
    EXPECT_TRUE(Call(referenceArgument, VmValue{2, Word("x")}));
    EXPECT_EQ(seen.calls, 2u);
    ASSERT_EQ(VmValuesRecorded()->setCount, 1u);
    EXPECT_EQ(VmValuesRecorded()->setTexts[0], nullptr);
    EXPECT_EQ(seen.reference, nullptr);
    EXPECT_EQ(result.typeTag, 0u);
    EXPECT_EQ(result.datum, 0u);
}

TEST_F(RunOperationTest, TheRunOperationPopsItsFiveArgumentsAndAnswersInAL) {
    VmMakeStack(&stack, VmValue{2, Word("x")});
    const std::uint32_t arguments[5] = {0x11111111, Word(VmRegistry()), 0x33333333, Word(&result),
                                        Word(&stack)};
    void* functions[] = {text, referenceArgument, referenceResult, integer};
    for (void* function : functions) {
        std::uint32_t eaxEdx[2] = {};
        EXPECT_EQ(HostCall(SlotAddress(function, 22), HostThiscall, function, arguments, 5, eaxEdx),
                  0);
        EXPECT_EQ(eaxEdx[0] & 0xFF, 1u);
    }
}

TEST_F(RunOperationTest, RunOperationsAllocateNothing) {
    ScriptObject object{};
    object.classInfo = &info;
    object.handleLow = static_cast<std::uint32_t>(Handle);
    object.lockWord = 1;
    VmRegistryConfig()->findResult = true;
    VmRegistryConfig()->foundObject = &object;
    seen.give = Reference;
    VmStack textStack{};
    VmStack referenceStack{};
    VmMakeStack(&textStack, VmValue{2, Word("text")});
    VmMakeStack(&referenceStack, VmValue{Word(&info), Word(&object)});

    unsigned newBefore = operatorNewCalls.load();
    unsigned platformBefore = testhost::Platform().allocations;
    for (int i = 0; i < 1000; ++i) {
        VmValue out{0, 0};
        VmCallSlot22(text, VmRegistry(), &out, &textStack);
        VmCallSlot22(referenceArgument, VmRegistry(), &out, &referenceStack);
        VmCallSlot22(referenceResult, VmRegistry(), &out, &textStack);
        object.lockWord = 1; // the VM would have released the result's count
        VmCallSlot22(integer, VmRegistry(), &out, &textStack);
    }
    EXPECT_EQ(operatorNewCalls.load(), newBefore);
    EXPECT_EQ(testhost::Platform().allocations, platformBefore);
    EXPECT_EQ(VmHeap()->allocations, 0u);
    EXPECT_EQ(seen.calls, 4000u);
}

} // namespace
} // namespace bindingtest
