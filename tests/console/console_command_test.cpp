// ExecuteCommand and the menu lookup against the simulated console.
#include "console/console_lock.h"
#include "console_fixture.h"

#include <functional>
#include <new>
#include <thread>

namespace {
using quorvane::ExecuteCommand;
using testhost::AddMenuEntry;
using testhost::BucketOf;
using testhost::CachedString;
using testhost::MenuReferences;
using testhost::Platform;
using testhost::SimulatedMenu;
namespace host = quorvane::host;

constexpr std::uint32_t Buckets = 16;

bool ConsoleLockFreeForOthers() {
    bool free = false;
    std::thread other([&] {
        free = quorvane::ConsoleLock.try_lock();
        if (free) {
            quorvane::ConsoleLock.unlock();
        }
    });
    other.join();
    return free;
}

class ExecuteCommandTest : public ConsoleTest {};

TEST_F(ExecuteCommandTest, HandsTheHostARecordWithMenuSelfLinkAndTheTextOnly) {
    const char* text = "coc riverwood 100%";
    ExecuteCommand(nullptr, Text(text));

    ASSERT_EQ(console->commands.size(), 1u);
    const testhost::CommandRun& run = console->commands[0];
    EXPECT_EQ(run.Word(16), host::Word(console->consoleMenu));
    EXPECT_EQ(run.Word(24), run.recordAddress + 28);
    // The script's own characters, not a copy, and not escaped.
    EXPECT_EQ(run.Word(36), host::Word(text));
    EXPECT_EQ(run.text, "coc riverwood 100%");
    for (std::size_t offset = 0; offset < 64; ++offset) {
        bool field = (offset >= 16 && offset < 20) || (offset >= 24 && offset < 28) ||
                     (offset >= 36 && offset < 40);
        if (!field) {
            EXPECT_EQ(run.bytes[offset], 0) << "byte " << offset;
        }
    }
    // The menu is held during the command and given back afterwards.
    EXPECT_EQ(run.consoleMenuReferences, 1);
    EXPECT_EQ(MenuReferences(console->consoleMenu), 0);
    // Name and record came from the plugin's heap; the record went back.
    EXPECT_EQ(Platform().allocations, 2u);
    EXPECT_EQ(Platform().frees, 1u);
}

TEST_F(ExecuteCommandTest, RunsUnderTheConsoleLockAndGivesItBack) {
    bool freeDuringCommand = true;
    console->onCommand = [&](const testhost::CommandRun&) {
        freeDuringCommand = ConsoleLockFreeForOthers();
    };
    ExecuteCommand(nullptr, Text("tgm"));
    ASSERT_EQ(console->commands.size(), 1u);
    EXPECT_FALSE(freeDuringCommand);
    EXPECT_TRUE(ConsoleLockFreeForOthers());
}

TEST_F(ExecuteCommandTest, NullAndEmptyTextsDoNothing) {
    CreateLog();
    ExecuteCommand(nullptr, Text(nullptr));
    ExecuteCommand(nullptr, Text(""));
    EXPECT_TRUE(console->commands.empty());
    EXPECT_EQ(console->Counts().initStringCalls, 0u);
    EXPECT_EQ(console->Counts().hashCalls, 0u);
    EXPECT_EQ(Platform().allocations, 0u);
    EXPECT_EQ(LoggedMessages(), "");
}

TEST_F(ExecuteCommandTest, CreatesTheMenuNameOnce) {
    ExecuteCommand(nullptr, Text("tgm"));
    ExecuteCommand(nullptr, Text("tcl"));
    EXPECT_EQ(console->commands.size(), 2u);
    EXPECT_EQ(console->Counts().initStringCalls, 1u);
}

TEST_F(ExecuteCommandTest, ARecordThatCannotBeAllocatedRunsNothingAndGivesEverythingBack) {
    CreateLog();
    Platform().failAllocationAt = 2; // the name is the first allocation
    ExecuteCommand(nullptr, Text("tgm"));
    EXPECT_TRUE(console->commands.empty());
    EXPECT_EQ(MenuReferences(console->consoleMenu), 0);
    EXPECT_TRUE(ConsoleLockFreeForOthers());
    EXPECT_EQ(LoggedMessages(), "");

    ExecuteCommand(nullptr, Text("tgm"));
    EXPECT_EQ(console->commands.size(), 1u);
}

TEST_F(ExecuteCommandTest, AMenuNameThatCannotBeAllocatedIsTriedAgainNextTime) {
    CreateLog();
    Platform().failAllocationAt = 1;
    ExecuteCommand(nullptr, Text("tgm"));
    EXPECT_TRUE(console->commands.empty());
    EXPECT_EQ(console->Counts().initStringCalls, 0u);
    EXPECT_EQ(LoggedMessages(), "Failed to get console pointer!\n");

    ExecuteCommand(nullptr, Text("tgm"));
    EXPECT_EQ(console->commands.size(), 1u);
    EXPECT_EQ(console->Counts().initStringCalls, 1u);
}

// Thrown by a host routine that our unwinder can pass (a plain call).
void QV_CDECL ThrowingHash(std::uint32_t*, const char*) {
    throw std::bad_alloc();
}

TEST_F(ExecuteCommandTest, AnExceptionStopsAtTheFunctionWithTheLockGivenBack) {
    testhost::Install(host::HashStringKey, &ThrowingHash);
    ExecuteCommand(nullptr, Text("tgm"));
    EXPECT_TRUE(console->commands.empty());
    EXPECT_EQ(MenuReferences(console->consoleMenu), 0);
    EXPECT_TRUE(ConsoleLockFreeForOthers());
}

// --- the menu table ------------------------------------------------------------

struct TableCase {
    const char* name;
    std::function<void()> build; // on top of an empty table of 16 buckets
};

void* Decoy() {
    return SimulatedMenu(7);
}

// Each table holds the console menu's name only where the walk must not find
// it, next to a decoy menu that a wrong walk would pick up.
const TableCase MissingMenuTables[] = {
    {"NotInTable",
     [] {
         const char* hud = CachedString("HUD Menu");
         AddMenuEntry(BucketOf(hud, Buckets), hud, SimulatedMenu(1));
     }},
    {"NoBucketArray", [] { testhost::SetMenuTable(Buckets, false); }},
    {"EmptyBucketWithStaleEntry",
     [] {
         testhost::SetStaleBucket(BucketOf("Console", Buckets), CachedString("Console"), Decoy());
     }},
    {"ChainReachesItsEnd",
     [] {
         std::uint32_t bucket = BucketOf("Console", Buckets);
         AddMenuEntry(bucket, CachedString("HUD Menu"), SimulatedMenu(1));
         AddMenuEntry(bucket, CachedString("Journal Menu"), SimulatedMenu(2));
         testhost::SetChainEnd(CachedString("Console"), Decoy());
     }},
    {"EntryWithoutMenu",
     [] { AddMenuEntry(BucketOf("Console", Buckets), CachedString("Console"), nullptr); }},
    // Equal names share one pointer: other text that reads "Console" is not it.
    {"SameTextOtherPointer",
     [] {
         static const char otherConsole[] = "Console";
         AddMenuEntry(BucketOf("Console", Buckets), otherConsole, Decoy());
     }},
    {"NoMenuManager",
     [] {
         AddMenuEntry(BucketOf("Console", Buckets), CachedString("Console"), Decoy());
         testhost::Set(host::MenuManagerGlobal, static_cast<host::MenuManager*>(nullptr));
     }},
    {"NoBucketCount",
     [] {
         AddMenuEntry(BucketOf("Console", Buckets), CachedString("Console"), Decoy());
         testhost::SetMenuTable(0, true);
     }},
};

class MissingMenuTest : public ConsoleTest, public testing::WithParamInterface<TableCase> {};

TEST_P(MissingMenuTest, LogsOnceAndRunsNothing) {
    CreateLog();
    testhost::SetMenuTable(Buckets, true);
    GetParam().build();
    ExecuteCommand(nullptr, Text("tgm"));
    EXPECT_TRUE(console->commands.empty());
    EXPECT_EQ(LoggedMessages(), "Failed to get console pointer!\n");
    for (unsigned menu = 0; menu < ConsoleSideMenuCapacity; ++menu) {
        EXPECT_EQ(MenuReferences(SimulatedMenu(menu)), 0) << "menu " << menu;
    }
    EXPECT_TRUE(ConsoleLockFreeForOthers());
}

INSTANTIATE_TEST_SUITE_P(Tables, MissingMenuTest, testing::ValuesIn(MissingMenuTables),
                         [](const testing::TestParamInfo<TableCase>& info) {
                             return info.param.name;
                         });

const TableCase FoundMenuTables[] = {
    // In the bucket itself, with a decoy further along that a walk skipping
    // the bucket would take.
    {"InTheBucket",
     [] {
         std::uint32_t bucket = BucketOf("Console", Buckets);
         AddMenuEntry(bucket, CachedString("Console"), SimulatedMenu(0));
         AddMenuEntry(bucket, CachedString("Console"), Decoy());
     }},
    {"FurtherAlongTheChain",
     [] {
         std::uint32_t bucket = BucketOf("Console", Buckets);
         AddMenuEntry(bucket, CachedString("HUD Menu"), SimulatedMenu(1));
         AddMenuEntry(bucket, CachedString("Journal Menu"), SimulatedMenu(2));
         AddMenuEntry(bucket, CachedString("Console"), SimulatedMenu(0));
     }},
    {"OneBucket",
     [] {
         testhost::SetMenuTable(1, true);
         AddMenuEntry(0, CachedString("HUD Menu"), SimulatedMenu(1));
         AddMenuEntry(0, CachedString("Console"), SimulatedMenu(0));
     }},
};

class FoundMenuTest : public ConsoleTest, public testing::WithParamInterface<TableCase> {};

TEST_P(FoundMenuTest, RunsTheCommandWithThatMenu) {
    CreateLog();
    testhost::SetMenuTable(Buckets, true);
    GetParam().build();
    ExecuteCommand(nullptr, Text("tgm"));
    ASSERT_EQ(console->commands.size(), 1u);
    EXPECT_EQ(console->commands[0].Word(16), host::Word(SimulatedMenu(0)));
    EXPECT_EQ(console->commands[0].consoleMenuReferences, 1);
    EXPECT_EQ(MenuReferences(SimulatedMenu(0)), 0);
    EXPECT_EQ(MenuReferences(Decoy()), 0);
    EXPECT_EQ(console->Counts().hashCalls, 1u);
    EXPECT_EQ(LoggedMessages(), "");
}

INSTANTIATE_TEST_SUITE_P(Tables, FoundMenuTest, testing::ValuesIn(FoundMenuTables),
                         [](const testing::TestParamInfo<TableCase>& info) {
                             return info.param.name;
                         });

} // namespace
