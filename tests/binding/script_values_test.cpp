// Object references to and from script values against the VM's registry and
// policies (MSVC-ABI objects), and the holder count and lock bit of script
// objects, with the waits counted through the platform layer.
#include "binding/script_values.h"

#include "binding_fixture.h"
#include "platform_control.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace bindingtest {
namespace {

using host::ScriptClassInfo;
using host::ScriptObject;
using host::ScriptValue;
using host::Word;
using quorvane::AddScriptObjectReference;
using quorvane::DropScriptObjectReference;
using quorvane::LockScriptObject;
using quorvane::PackObjectReference;
using quorvane::UnpackObjectReference;
using testhost::Platform;

constexpr std::uint32_t LockBit = 0x80000000;
constexpr std::uint64_t Handle = 0x1234567800ABCDEFull;

host::ScriptClassRegistry* Registry() {
    return static_cast<host::ScriptClassRegistry*>(VmRegistry());
}

char referenceStorage[16];
host::TESObjectREFR* const Reference = reinterpret_cast<host::TESObjectREFR*>(referenceStorage);

ScriptObject MakeObject(ScriptClassInfo* info, std::uint32_t count) {
    ScriptObject object{};
    object.classInfo = info;
    object.handleLow = static_cast<std::uint32_t>(Handle);
    object.handleHigh = static_cast<std::uint32_t>(Handle >> 32);
    object.lockWord = count;
    return object;
}

std::vector<VmPolicyCall> PolicyCalls() {
    const VmPolicyLog* log = VmHandlePolicyRecorded();
    return {log->calls, log->calls + std::min(log->count, VmPolicyLogCapacity)};
}

std::vector<unsigned> RegistrySlots() {
    std::vector<unsigned> slots;
    const VmRegistryLog* log = VmRegistryRecorded();
    for (unsigned i = 0; i < log->count && i < VmRegistryLogCapacity; ++i) {
        slots.push_back(log->calls[i].slot);
    }
    return slots;
}

// --- EffectiveType ---

TEST(EffectiveType, SmallTagsStandForThemselvesAddressesForObjectsOrArrays) {
    const std::pair<std::uint32_t, std::uint32_t> cases[] = {
        {0, 0},  {1, 1},          {2, 2},   {3, 3},           {11, 11},         {15, 15},
        {16, 1}, {0x00401000, 1}, {17, 11}, {0x00401001, 11}, {0xFFFFFFFF, 11},
    };
    for (auto [tag, type] : cases) {
        EXPECT_EQ(quorvane::EffectiveType(tag), type) << std::hex << tag;
    }
}

// --- the lock word ---

struct TransitionCase {
    const char* name;
    bool add;
    std::uint32_t before;
    std::uint32_t after;
    unsigned acquires;
    unsigned releases;
};

class TransitionTest : public BindingTest, public testing::WithParamInterface<TransitionCase> {};

TEST_P(TransitionTest, ThePolicyHearsOnlyOfOneToTwoAndTwoToOne) {
    const TransitionCase& c = GetParam();
    ScriptObject object = MakeObject(nullptr, c.before);
    if (c.add) {
        AddScriptObjectReference(&object);
    } else {
        EXPECT_EQ(DropScriptObjectReference(&object), c.after);
    }
    EXPECT_EQ(object.lockWord, c.after);
    EXPECT_EQ(VmHandlePolicyRecorded()->acquires, c.acquires);
    EXPECT_EQ(VmHandlePolicyRecorded()->releases, c.releases);
    for (const VmPolicyCall& call : PolicyCalls()) {
        EXPECT_EQ(call.handle, Handle);
        EXPECT_EQ(call.policy, VmHandlePolicy());
    }
    EXPECT_TRUE(Platform().sleeps.empty());
}

INSTANTIATE_TEST_SUITE_P(Counts, TransitionTest,
                         testing::Values(TransitionCase{"AddFrom0", true, 0, 1, 0, 0},
                                         TransitionCase{"AddFrom1", true, 1, 2, 1, 0},
                                         TransitionCase{"AddFrom2", true, 2, 3, 0, 0},
                                         TransitionCase{"AddFrom7", true, 7, 8, 0, 0},
                                         TransitionCase{"DropFrom1", false, 1, 0, 0, 0},
                                         TransitionCase{"DropFrom2", false, 2, 1, 0, 1},
                                         TransitionCase{"DropFrom3", false, 3, 2, 0, 0},
                                         TransitionCase{"DropFrom8", false, 8, 7, 0, 0}),
                         [](const testing::TestParamInfo<TransitionCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(BindingTest, TransitionCallsRunUnderTheLockBit) {
    ScriptObject object = MakeObject(nullptr, 1);
    VmHandlePolicyConfig()->watchedLockWord = &object.lockWord;
    AddScriptObjectReference(&object);
    DropScriptObjectReference(&object);
    EXPECT_EQ(object.lockWord, 1u);
    EXPECT_EQ(VmHandlePolicyRecorded()->acquires, 1u);
    EXPECT_EQ(VmHandlePolicyRecorded()->releases, 1u);
    EXPECT_EQ(VmHandlePolicyRecorded()->transitionFaults, 0u);
}

struct WaitCase {
    const char* name;
    int routine; // 0 lock, 1 add, 2 drop
    std::uint32_t held;
    std::uint32_t after;
};

class LockWaitTest : public BindingTest, public testing::WithParamInterface<WaitCase> {};

// Another thread holds the lock bit through 10001 yields and three 1 ms
// sleeps; the sleeps are counted, never lived through.
TEST_P(LockWaitTest, YieldsUpToTheThresholdThenSleepsAMillisecond) {
    const WaitCase& c = GetParam();
    ScriptObject object = MakeObject(nullptr, LockBit | c.held);
    constexpr std::size_t Yields = 10001;
    constexpr std::size_t LongSleeps = 3;
    Platform().onSleep = [&](std::uint32_t) {
        if (Platform().sleeps.size() == Yields + LongSleeps) {
            object.lockWord = c.held; // the holder is done
        }
    };

    switch (c.routine) {
    case 0:
        EXPECT_EQ(LockScriptObject(&object), c.held);
        break;
    case 1:
        AddScriptObjectReference(&object);
        break;
    default:
        DropScriptObjectReference(&object);
        break;
    }

    EXPECT_EQ(object.lockWord, c.after);
    const std::vector<std::uint32_t>& sleeps = Platform().sleeps;
    ASSERT_EQ(sleeps.size(), Yields + LongSleeps);
    EXPECT_EQ(std::count(sleeps.begin(), sleeps.begin() + Yields, 0u), std::ptrdiff_t(Yields));
    EXPECT_EQ(std::count(sleeps.begin() + Yields, sleeps.end(), 1u), std::ptrdiff_t(LongSleeps));
}

INSTANTIATE_TEST_SUITE_P(Routines, LockWaitTest,
                         testing::Values(WaitCase{"Lock", 0, 5, LockBit | 5},
                                         WaitCase{"Add", 1, 1, 2}, WaitCase{"Drop", 2, 2, 1}),
                         [](const testing::TestParamInfo<WaitCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(BindingTest, ConcurrentHoldersEndWithTheExactCountAndOnePolicyCallPerTransition) {
    ScriptObject object = MakeObject(nullptr, 1); // the VM's own count
    VmHandlePolicyConfig()->watchedLockWord = &object.lockWord;
    constexpr int Threads = 4;
    constexpr int Rounds = 20000;
    std::atomic<unsigned> destroyed{0};
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            ++ready;
            while (ready.load() < Threads) {
            }
            for (int i = 0; i < Rounds; ++i) {
                AddScriptObjectReference(&object);
                if ((i + t) % 3 == 0) {
                    AddScriptObjectReference(&object);
                    DropScriptObjectReference(&object);
                }
                if (DropScriptObjectReference(&object) == 0) {
                    ++destroyed;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    const VmPolicyLog* log = VmHandlePolicyRecorded();
    EXPECT_EQ(object.lockWord, 1u);
    EXPECT_EQ(destroyed.load(), 0u);
    EXPECT_GT(log->acquires, 0u);
    EXPECT_EQ(log->acquires, log->releases);
    EXPECT_EQ(log->transitionFaults, 0u);
}

// --- UnpackObjectReference ---

class UnpackTest : public BindingTest {
  protected:
    void SetUp() override {
        BindingTest::SetUp();
        VmHandlePolicyConfig()->hasType = true;
        VmHandlePolicyConfig()->checkPasses = true;
        VmHandlePolicyConfig()->objectForHandle = Reference;
    }
    ScriptClassInfo info{1, {"ObjectReference"}};
    ScriptObject object = MakeObject(&info, 3);
};

TEST_F(UnpackTest, ResolvesTheHandleOfTheBoundObject) {
    ScriptValue value{Word(&info), Word(&object)};
    EXPECT_EQ(UnpackObjectReference(&value, 61), Reference);

    std::vector<VmPolicyCall> calls = PolicyCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].slot, 1u);
    EXPECT_EQ(calls[0].formType, 61u);
    EXPECT_EQ(calls[0].handle, Handle);
    EXPECT_EQ(calls[1].slot, 2u);
    EXPECT_EQ(calls[1].handle, Handle);
    EXPECT_EQ(calls[2].slot, 8u);
    EXPECT_EQ(calls[2].formType, 61u);
    EXPECT_EQ(calls[2].handle, Handle);
    // The lock bit was taken for the read and given back; no count changed.
    EXPECT_EQ(object.lockWord, 3u);
    EXPECT_EQ(info.referenceCount, 1u);
}

TEST_F(UnpackTest, ATypeCodeOfOneCountsAsAnObjectToo) {
    ScriptValue value{1, Word(&object)};
    EXPECT_EQ(UnpackObjectReference(&value, 61), Reference);
}

TEST_F(UnpackTest, ValuesThatNameNoObjectGiveNullWithoutAPolicyCall) {
    const ScriptValue values[] = {
        {0, 0},
        {2, Word("text")},
        {3, 42},
        {1, 0},
        {Word(&info), 0},
        {Word(&info) + 1, Word(&object)}, // an array of that class
        {15, Word(&object)},
    };
    for (const ScriptValue& value : values) {
        EXPECT_EQ(UnpackObjectReference(&value, 61), nullptr) << std::hex << value.typeTag;
    }
    EXPECT_EQ(VmHandlePolicyRecorded()->count, 0u);
    EXPECT_EQ(object.lockWord, 3u);
}

TEST_F(UnpackTest, HandlesFailingEitherCheckGiveNull) {
    struct Case {
        bool hasType;
        bool checkPasses;
        std::vector<unsigned> slots;
    };
    const Case cases[] = {{false, true, {1}}, {true, false, {1, 2}}, {false, false, {1}}};
    for (const Case& c : cases) {
        VmReset();
        VmHandlePolicyConfig()->hasType = c.hasType;
        VmHandlePolicyConfig()->checkPasses = c.checkPasses;
        VmHandlePolicyConfig()->objectForHandle = Reference;
        ScriptValue value{Word(&info), Word(&object)};
        EXPECT_EQ(UnpackObjectReference(&value, 61), nullptr);
        std::vector<unsigned> slots;
        for (const VmPolicyCall& call : PolicyCalls()) {
            slots.push_back(call.slot);
        }
        EXPECT_EQ(slots, c.slots);
    }
}

TEST_F(UnpackTest, ANullObjectFromThePolicyIsPassedOn) {
    VmHandlePolicyConfig()->objectForHandle = nullptr;
    ScriptValue value{Word(&info), Word(&object)};
    EXPECT_EQ(UnpackObjectReference(&value, 61), nullptr);
    EXPECT_EQ(VmHandlePolicyRecorded()->count, 3u);
}

// --- PackObjectReference ---

class PackTest : public BindingTest {
  protected:
    void SetUp() override {
        BindingTest::SetUp();
        VmRegistryConfig()->classInfoResult = true;
        VmRegistryConfig()->classInfo = &info;
        VmHandlePolicyConfig()->objectHandle = Handle;
    }
    void FindBound(ScriptObject* found) {
        VmRegistryConfig()->findResult = true;
        VmRegistryConfig()->foundObject = found;
    }
    void Create(bool result, ScriptObject* created) {
        VmRegistryConfig()->findResult = false;
        VmRegistryConfig()->createResult = result;
        VmRegistryConfig()->createdObject = created;
    }
    void ExpectNone() {
        EXPECT_EQ(result.typeTag, 0u);
        EXPECT_EQ(result.datum, 0u);
    }

    ScriptClassInfo info{1, {"ObjectReference"}}; // the registry's own count
    ScriptValue result{3, 99};                    // held an integer before
};

TEST_F(PackTest, ReusesTheBoundObjectAndLeavesOneCountInTheResult) {
    ScriptObject object = MakeObject(&info, 1); // the count that the lookup hands over
    FindBound(&object);

    PackObjectReference(&result, Reference, Registry());

    EXPECT_EQ(result.typeTag, Word(&info));
    EXPECT_EQ(result.datum, Word(&object));
    EXPECT_EQ(object.lockWord, 1u); // now the result's
    EXPECT_EQ(info.referenceCount, 1u);
    EXPECT_EQ(RegistrySlots(), (std::vector<unsigned>{10, 44, 27}));

    const VmRegistryLog* registry = VmRegistryRecorded();
    EXPECT_EQ(registry->calls[0].words[0], 61u);
    EXPECT_EQ(registry->calls[0].outputAtEntry, 0u);
    EXPECT_EQ(registry->calls[2].words[0], static_cast<std::uint32_t>(Handle));
    EXPECT_EQ(registry->calls[2].words[1], static_cast<std::uint32_t>(Handle >> 32));
    EXPECT_EQ(registry->calls[2].words[2], Word(info.name.text)); // the name by value
    EXPECT_EQ(registry->calls[2].outputAtEntry, 0u);

    // Handle for the reference; the result's count went 1 to 2 and ours 2 to 1.
    std::vector<VmPolicyCall> calls = PolicyCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].slot, 4u);
    EXPECT_EQ(calls[0].formType, 61u);
    EXPECT_EQ(calls[0].object, Reference);
    EXPECT_EQ(calls[1].slot, 9u);
    EXPECT_EQ(calls[2].slot, 10u);

    // The old result released first; the temporary made, assigned, released.
    const VmValueLog* values = VmValuesRecorded();
    ASSERT_EQ(values->releaseCount, 4u);
    EXPECT_EQ(values->released[0].value, &result);
    EXPECT_EQ(values->released[0].typeTag, 3u);
    EXPECT_EQ(values->released[0].datum, 99u);
    const void* temporary = values->released[1].value;
    EXPECT_NE(temporary, &result);
    ASSERT_EQ(values->assignCount, 1u);
    EXPECT_EQ(values->assigned[0].value, &result);
    EXPECT_EQ(values->assigned[0].typeTag, Word(&info));
    EXPECT_EQ(values->assigned[0].datum, 0u);
    EXPECT_EQ(values->released[2].value, &result);
    EXPECT_EQ(values->released[3].value, temporary);
}

TEST_F(PackTest, CreatesAndBindsAnObjectWhenNoneIsBound) {
    ScriptObject object = MakeObject(&info, 1);
    Create(true, &object);
    VmRegistryConfig()->formTypeResult = true;
    VmRegistryConfig()->formType = 61;
    VmHandlePolicyConfig()->hasType = true;

    PackObjectReference(&result, Reference, Registry());

    EXPECT_EQ(result.typeTag, Word(&info));
    EXPECT_EQ(result.datum, Word(&object));
    EXPECT_EQ(RegistrySlots(), (std::vector<unsigned>{10, 44, 27, 20, 13, 46}));
    const VmRegistryLog* registry = VmRegistryRecorded();
    EXPECT_EQ(registry->calls[3].words[0], Word(&info.name));
    EXPECT_EQ(registry->calls[3].outputAtEntry, 0u);
    EXPECT_EQ(registry->calls[4].words[0], Word(&info.name));
    EXPECT_EQ(registry->calls[4].outputAtEntry, 0u);

    bool bound = false;
    for (const VmPolicyCall& call : PolicyCalls()) {
        if (call.slot == VmBindCallSlot) {
            bound = true;
            EXPECT_EQ(call.policy, VmBindingPolicy());
            EXPECT_EQ(call.boundObject, &object);
            EXPECT_EQ(call.handle, Handle);
        }
    }
    EXPECT_TRUE(bound);
    EXPECT_EQ(info.referenceCount, 1u); // raised and dropped again by the bind
}

struct BindCase {
    const char* name;
    bool formTypeFound;
    bool hasType;
    std::uint64_t defaultHandle;
    bool bound;
};

class BindTest : public PackTest, public testing::WithParamInterface<BindCase> {};

TEST_P(BindTest, BindsOnlyAHandleOfTheClassOrTheDefaultOneAndKeepsTheObjectEitherWay) {
    const BindCase& c = GetParam();
    ScriptObject object = MakeObject(&info, 1);
    Create(true, &object);
    VmRegistryConfig()->formTypeResult = c.formTypeFound;
    VmRegistryConfig()->formType = 62;
    VmHandlePolicyConfig()->hasType = c.hasType;
    VmHandlePolicyConfig()->defaultHandle = c.defaultHandle;

    PackObjectReference(&result, Reference, Registry());

    bool bound = false;
    for (const VmPolicyCall& call : PolicyCalls()) {
        bound = bound || call.slot == VmBindCallSlot;
        if (call.slot == 1) {
            EXPECT_EQ(call.formType, 62u);
        }
    }
    EXPECT_EQ(bound, c.bound);
    EXPECT_EQ(result.datum, Word(&object));
    EXPECT_EQ(info.referenceCount, 1u);
}

INSTANTIATE_TEST_SUITE_P(Binds, BindTest,
                         testing::Values(BindCase{"NoFormType", false, true, Handle, false},
                                         BindCase{"HandleOfTheType", true, true, 0, true},
                                         BindCase{"DefaultHandle", true, false, Handle, true},
                                         BindCase{"OtherHandle", true, false, Handle + 1, false}),
                         [](const testing::TestParamInfo<BindCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(PackTest, ANullReferenceIsNoneWithoutARegistryCall) {
    PackObjectReference(&result, nullptr, Registry());
    ExpectNone();
    EXPECT_EQ(VmRegistryRecorded()->count, 0u);
    ASSERT_EQ(VmValuesRecorded()->releaseCount, 1u);
    EXPECT_EQ(VmValuesRecorded()->released[0].datum, 99u);
}

TEST_F(PackTest, NoClassInfoOrNoObjectGivesNone) {
    ScriptObject object = MakeObject(&info, 1);
    struct Case {
        const char* name;
        bool infoResult;
        bool giveInfo;
        bool findResult;
        ScriptObject* found;
        bool createResult;
        ScriptObject* created;
    };
    const Case cases[] = {
        {"LookupFalseNull", false, false, true, &object, false, nullptr},
        {"LookupTrueNull", true, false, true, &object, false, nullptr},
        {"FoundNull", true, true, true, nullptr, false, nullptr},
        {"CreateFalse", true, true, false, nullptr, false, nullptr},
        {"CreateFalseWithObject", true, true, false, nullptr, false, &object},
        {"CreateTrueNull", true, true, false, nullptr, true, nullptr},
    };
    for (const Case& c : cases) {
        VmReset();
        result = ScriptValue{3, 99};
        object.lockWord = 1;
        VmRegistryConfig()->classInfoResult = c.infoResult;
        VmRegistryConfig()->classInfo = c.giveInfo ? &info : nullptr;
        VmRegistryConfig()->findResult = c.findResult;
        VmRegistryConfig()->foundObject = c.found;
        VmRegistryConfig()->createResult = c.createResult;
        VmRegistryConfig()->createdObject = c.created;

        PackObjectReference(&result, Reference, Registry());

        EXPECT_EQ(result.typeTag, 0u) << c.name;
        EXPECT_EQ(result.datum, 0u) << c.name;
        EXPECT_EQ(object.lockWord, 1u) << c.name; // no count taken or dropped
        EXPECT_EQ(VmRegistryRecorded()->unexpectedSlots, 0u);
    }
}

TEST_F(PackTest, AClassInfoFromAFailedLookupIsUsedWithoutADrop) {
    info.referenceCount = 5;
    VmRegistryConfig()->classInfoResult = false;
    ScriptObject object = MakeObject(&info, 1);
    FindBound(&object);

    PackObjectReference(&result, Reference, Registry());

    EXPECT_EQ(result.typeTag, Word(&info));
    EXPECT_EQ(result.datum, Word(&object));
    EXPECT_EQ(info.referenceCount, 5u);
}

TEST_F(PackTest, TheLastCountOfTheClassInfoIsKeptWhileTheResultNamesIt) {
    info.referenceCount = 0; // the registry keeps no count of its own
    ScriptObject object = MakeObject(&info, 1);
    FindBound(&object);

    PackObjectReference(&result, Reference, Registry());

    EXPECT_EQ(result.typeTag, Word(&info));
    EXPECT_EQ(info.referenceCount, 1u);
    EXPECT_EQ(VmHandlePolicyRecorded()->destroyedClassInfos, 0u);
}

TEST_F(PackTest, AnOddClassInfoGivesNoneAndTheObjectIsGivenUp) {
    // A class info at an odd address would tag the result as an array.
    alignas(4) unsigned char storage[16] = {};
    auto* odd = reinterpret_cast<ScriptClassInfo*>(storage + 1);
    VmRegistryConfig()->classInfo = odd;
    ScriptObject object = MakeObject(&info, 1);
    FindBound(&object);

    PackObjectReference(&result, Reference, Registry());

    ExpectNone();
    EXPECT_EQ(object.lockWord, 0u);
    EXPECT_EQ(VmHandlePolicyRecorded()->destroyedScriptObjects, 1u);
    EXPECT_EQ(VmHandlePolicyRecorded()->lastDestroyedScriptObject, &object);
    ASSERT_EQ(VmHeap()->frees, 1u);
    EXPECT_EQ(VmHeap()->freed[0], &object);
}

TEST_F(BindingTest, AClassInfoCountDroppedToZeroDestroysAndFreesIt) {
    ScriptClassInfo info{1, {"Gone"}};
    quorvane::DropClassInfoReference(&info);
    EXPECT_EQ(info.referenceCount, 0u);
    EXPECT_EQ(VmHandlePolicyRecorded()->destroyedClassInfos, 1u);
    EXPECT_EQ(VmHandlePolicyRecorded()->lastDestroyedClassInfo, &info);
    ASSERT_EQ(VmHeap()->frees, 1u);
    EXPECT_EQ(VmHeap()->freed[0], &info);

    ScriptClassInfo shared{2, {"Kept"}};
    quorvane::DropClassInfoReference(&shared);
    EXPECT_EQ(shared.referenceCount, 1u);
    EXPECT_EQ(VmHandlePolicyRecorded()->destroyedClassInfos, 1u);
}

TEST_F(BindingTest, BindingAnObjectWithoutAClassDoesNothing) {
    ScriptObject object = MakeObject(nullptr, 1);
    ScriptObject* variable = &object;
    quorvane::BindNewScriptObject(&variable, Reference, Registry(),
                                  static_cast<host::HandlePolicy*>(VmHandlePolicy()));
    EXPECT_EQ(VmRegistryRecorded()->count, 0u);
    EXPECT_EQ(VmHandlePolicyRecorded()->count, 0u);
}

} // namespace
} // namespace bindingtest
