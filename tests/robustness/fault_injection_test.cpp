// Every resource the plugin needs, taken away in turn: the host heap, the
// plugin's own heap, std::string storage, the log file, a thread, the console
// manager. Each fault has one defined outcome, and every call still returns
// to the game normally: the calls come from the extender's and the VM's
// MSVC-ABI frames, through which no exception of ours can unwind, so an
// exception that escaped would end this test program.
#include "robustness_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <new>
#include <ostream>
#include <string>
#include <vector>

namespace {
using namespace robustness;
using testhost::Platform;

// --- std::string growth: the n-th operator new on the armed thread fails ---

thread_local long newCallsArmed = -1; // -1: not counting
thread_local long newFailAt = 0;

void* Allocate(std::size_t size) {
    if (newCallsArmed >= 0 && ++newCallsArmed == newFailAt) {
        throw std::bad_alloc();
    }
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

// Counts (and with failAt > 0 fails) this thread's allocations until Disarm.
void Arm(long failAt) {
    newFailAt = failAt;
    newCallsArmed = 0;
}
long Disarm() {
    long calls = newCallsArmed;
    newCallsArmed = -1;
    return calls;
}

} // namespace

void* operator new(std::size_t size) {
    return Allocate(size);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}

namespace {

class FaultTest : public PluginTest {
  protected:
    void LoadAndRegister() {
        ASSERT_TRUE(Load());
        ASSERT_TRUE(Register());
    }
};

TEST_F(FaultTest, HostHeapFailingAtEachAllocationRegistersTheOtherFunctions) {
    ASSERT_TRUE(Load());
    for (unsigned failAt = 1; failAt <= 5; ++failAt) {
        SCOPED_TRACE(failAt);
        VmReset();
        testhost::InstallVmHost();
        VmRegistryConfig()->classInfoResult = true;
        VmRegistryConfig()->classInfo = &referenceClass;
        VmHeap()->failAllocationAt = failAt;
        console->printed.clear();

        ASSERT_TRUE(Register());
        EXPECT_EQ(VmHeap()->allocations, 5u);
        EXPECT_EQ(VmRegistryRecorded()->unexpectedSlots, 0u);
        for (unsigned i = 0; i < 5; ++i) {
            void* function = VmRegisteredFunction(FunctionNames[i]);
            EXPECT_EQ(function == nullptr, i + 1 == failAt) << FunctionNames[i];
        }
        // Those that were registered work.
        if (failAt != 5) {
            EXPECT_EQ(Call("GetVersion").datum, 2u);
        }
        if (failAt != 1) {
            Call("PrintMessage", String("still here"));
            ASSERT_EQ(console->printed.size(), 1u);
            EXPECT_EQ(console->printed[0].text, "still here");
        }
    }
}

TEST_F(FaultTest, PluginHeapFailingAtEachAllocationLosesOnlyThatCall) {
    LoadAndRegister();
    struct Case {
        unsigned failAt; // 1: the console menu name, 2 and 3: the command records
        std::vector<std::string> commandsRun;
        bool selectionCleared;
        std::string logged;
    };
    const Case cases[] = {
        {1, {"first", "second"}, false, "Failed to get console pointer in set reference!\n"},
        {2, {"second"}, true, ""},
        {3, {"first"}, true, ""},
        {4, {"first", "second"}, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failAt);
        quorvane::ForgetConsoleMenuNameForTesting();
        testhost::ResetPlatform();
        console->commands.clear();
        console->menuSelectionCalls.clear();
        std::filesystem::remove("Quorvane.txt");
        CreateLog();
        Platform().failAllocationAt = c.failAt;

        EXPECT_EQ(Call("SetSelectedReference", None()).typeTag, 0u);
        Call("ExecuteCommand", String("first"));
        Call("ExecuteCommand", String("second"));

        std::vector<std::string> run;
        for (const testhost::CommandRun& command : console->commands) {
            run.push_back(command.text);
        }
        EXPECT_EQ(run, c.commandsRun);
        EXPECT_EQ(console->menuSelectionCalls.size(), c.selectionCleared ? 1u : 0u);
        EXPECT_EQ(LoggedMessages(), c.logged);
        EXPECT_EQ(testhost::MenuReferences(console->consoleMenu), 0);
        // Every command record that was obtained went back.
        EXPECT_EQ(Platform().frees, c.commandsRun.size());
        EXPECT_TRUE(ConsoleLockIsFree());
    }
}

TEST_F(FaultTest, StringStorageFailingAtEachAllocationPrintsNothingAndFreesTheLock) {
    LoadAndRegister();
    // Long enough that neither the copy nor the escaped text fits in the
    // string's own storage, short enough for the VM's string cache.
    std::string text = "50% done, 100%% sure: " + std::string(30, 'a');

    // How many allocations the plugin makes for it; no console, so that the
    // simulated console's own bookkeeping is not counted.
    testhost::Set(host::ConsoleManagerGlobal, static_cast<host::ConsoleManager*>(nullptr));
    Arm(0);
    Call("PrintMessage", String(text.c_str()));
    const long allocations = Disarm();
    ASSERT_GE(allocations, 2);
    testhost::Set(host::ConsoleManagerGlobal, console->consoleManager);

    for (long failAt = 1; failAt <= allocations; ++failAt) {
        SCOPED_TRACE(failAt);
        Arm(failAt);
        VmValue result = Call("PrintMessage", String(text.c_str()));
        Disarm();
        EXPECT_EQ(result.typeTag, 0u);
        EXPECT_EQ(result.datum, 0u);
        // Every allocation comes before the first chunk: nothing half-printed.
        EXPECT_TRUE(console->printed.empty());
        EXPECT_TRUE(ConsoleLockIsFree());
    }

    Call("PrintMessage", String(text.c_str()));
    EXPECT_EQ(console->ShownText(), text);
}

TEST_F(FaultTest, ConsoleManagerVanishingBetweenChunksDropsTheRest) {
    LoadAndRegister();
    console->onPrint = [](const testhost::PrintedChunk&) {
        testhost::Set(host::ConsoleManagerGlobal, static_cast<host::ConsoleManager*>(nullptr));
    };
    std::string text = std::string(1023, 'x') + std::string(1023, 'y') + "z";
    quorvane::PrintMessage(nullptr, robustness::host::StringCacheRef{text.c_str()});
    ASSERT_EQ(console->printed.size(), 1u);
    EXPECT_EQ(console->printed[0].text, std::string(1023, 'x'));
    EXPECT_TRUE(ConsoleLockIsFree());

    // Back again: the next message is whole.
    console->onPrint = nullptr;
    testhost::Set(host::ConsoleManagerGlobal, console->consoleManager);
    quorvane::PrintMessage(nullptr, robustness::host::StringCacheRef{"back"});
    ASSERT_EQ(console->printed.size(), 2u);
    EXPECT_EQ(console->printed[1].text, "back");
}

// The log file in every state, with every failure that writes to it. The
// callers' outcomes never depend on what the log did.
enum class LogState { Present, Absent, Directory, AppendOpenFails, RemovedBetweenOpens };

struct LogCase {
    const char* name;
    LogState state;
};

void PrintTo(const LogCase& c, std::ostream* out) {
    *out << c.name;
}

class LogFaultTest : public FaultTest, public testing::WithParamInterface<LogCase> {};

const char* const AllFiveMessages = "Failed to register papyrus functions!\n"
                                    "Failed to start console initialize thread!\n"
                                    "Failed to get console pointer!\n"
                                    "Failed to get console pointer in set reference!\n"
                                    "Console initialize timed out.\n";

TEST_P(LogFaultTest, EveryFailureLineMeetsTheLogInThisState) {
    namespace fs = std::filesystem;
    switch (GetParam().state) {
    case LogState::Present:
        CreateLog();
        break;
    case LogState::Absent:
        break;
    case LogState::Directory:
        fs::create_directory("Quorvane.txt");
        break;
    case LogState::AppendOpenFails:
        // A read-only file: permission bits do not stop root, so the append
        // open is made to fail as it would for a read-only file.
        CreateLog();
        Platform().failAppendOpen = true;
        break;
    case LogState::RemovedBetweenOpens:
        CreateLog();
        Platform().betweenLogOpens = [] { fs::remove("Quorvane.txt"); };
        break;
    }

    // No Papyrus interface and no thread: Load still answers true.
    Platform().failThreadCreation = true;
    EXPECT_TRUE(Load(false));
    EXPECT_TRUE(Platform().startedThreads.empty());
    // Loaded again with both; the console has no menus at all.
    Platform().failThreadCreation = false;
    ASSERT_TRUE(Load(true));
    ASSERT_TRUE(Register());
    testhost::SetMenuTable(16, false);
    EXPECT_EQ(Call("ExecuteCommand", String("help")).typeTag, 0u);
    EXPECT_EQ(Call("SetSelectedReference", None()).typeTag, 0u);
    // The console never comes up: the start-up thread gives up after its
    // budget of (virtual) sleeps and ends normally.
    ASSERT_EQ(Platform().startedThreads.size(), 1u);
    EXPECT_EQ(testhost::RunStartedThread(0), 0u);

    EXPECT_TRUE(console->commands.empty());
    EXPECT_TRUE(console->initializeSteps.empty());
    EXPECT_TRUE(ConsoleLockIsFree());

    switch (GetParam().state) {
    case LogState::Present:
        EXPECT_EQ(LoggedMessages(), AllFiveMessages);
        break;
    case LogState::Absent:
        EXPECT_FALSE(testhost::FileExists("Quorvane.txt"));
        break;
    case LogState::Directory:
        EXPECT_TRUE(fs::is_directory("Quorvane.txt"));
        EXPECT_TRUE(fs::is_empty("Quorvane.txt"));
        break;
    case LogState::AppendOpenFails:
        EXPECT_EQ(testhost::ReadFile("Quorvane.txt"), "");
        break;
    case LogState::RemovedBetweenOpens:
        // The append open may create the file again (as a user creating it
        // at that moment would): then it holds the last line, whole.
        const std::string content = testhost::ReadFile("Quorvane.txt");
        EXPECT_TRUE(content == "<missing>" ||
                    content == "01 Jan 00:00:00 Console initialize timed out.\r\n")
            << content;
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    States, LogFaultTest,
    testing::Values(LogCase{"Present", LogState::Present}, LogCase{"Absent", LogState::Absent},
                    LogCase{"Directory", LogState::Directory},
                    LogCase{"AppendOpenFails", LogState::AppendOpenFails},
                    LogCase{"RemovedBetweenOpens", LogState::RemovedBetweenOpens}),
    [](const testing::TestParamInfo<LogCase>& info) { return std::string(info.param.name); });

} // namespace
