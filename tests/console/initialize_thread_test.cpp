// The console initialisation thread, entirely in virtual time: sleeps are
// recorded and never slept, and the readiness globals change between polls.
#include "console/initialize_thread.h"
#include "console_fixture.h"
#include "host_call.h"

#include <algorithm>
#include <functional>
#include <stdexcept>

namespace {
using testhost::MarkConsoleUp;
using testhost::Platform;

// Runs the thread routine as the system starts it (stdcall, one null
// parameter) and returns its exit code; the stack must balance.
std::uint32_t RunThread() {
    std::uint32_t parameter = 0;
    std::uint32_t eaxEdx[2] = {0xFFFFFFFF, 0};
    EXPECT_EQ(HostCall(reinterpret_cast<const void*>(&quorvane::ConsoleInitializeThread),
                       HostStdcall, nullptr, &parameter, 1, eaxEdx),
              0);
    return eaxEdx[0];
}

class InitializeThreadTest : public ConsoleTest {
  protected:
    // up(poll) says whether the console is up at that poll (counted from 1).
    void ConsoleUpAt(std::function<bool(unsigned poll)> up) {
        MarkConsoleUp(up(1));
        Platform().onSleep = [this, up](std::uint32_t) { MarkConsoleUp(up(++sleeps + 1)); };
    }
    bool AllSleepsArePollPeriods() const {
        return std::all_of(Platform().sleeps.begin(), Platform().sleeps.end(),
                           [](std::uint32_t ms) { return ms == 50; });
    }
    unsigned sleeps = 0;
};

TEST_F(InitializeThreadTest, AConsoleUpFromTheStartIsInitialisedAfterFivePolls) {
    CreateLog();
    ConsoleUpAt([](unsigned) { return true; });
    EXPECT_EQ(RunThread(), 0u);
    EXPECT_EQ(Platform().sleeps.size(), 4u);
    EXPECT_TRUE(AllSleepsArePollPeriods());
    EXPECT_EQ(console->initializeSteps, (std::vector<unsigned>{1, 2}));
    EXPECT_EQ(LoggedMessages(), "");
}

TEST_F(InitializeThreadTest, BothRoutinesRunInOneStatePreservingBlock) {
    ConsoleUpAt([](unsigned) { return true; });
    EXPECT_EQ(RunThread(), 0u);
    ASSERT_EQ(console->initializeSteps.size(), 2u);
    // Nothing was restored between the two calls: the second is entered with
    // what the first left behind. (That the caller's registers come back
    // afterwards is what lets this test go on at all.)
    EXPECT_EQ(testhost::EntryRegisters(testhost::PreservedEntrance::InitializeConsoleStep2),
              testhost::ScrambledRegisters);
}

TEST_F(InitializeThreadTest, HitsNeedNotFollowEachOther) {
    ConsoleUpAt([](unsigned poll) { return poll % 2 == 1; }); // hits at 1, 3, 5, 7, 9
    EXPECT_EQ(RunThread(), 0u);
    EXPECT_EQ(Platform().sleeps.size(), 8u);
    EXPECT_EQ(console->initializeSteps, (std::vector<unsigned>{1, 2}));
}

TEST_F(InitializeThreadTest, OneGlobalMissingIsNoHit) {
    for (auto* missing :
         {&quorvane::host::ConsoleReadinessGlobal1, &quorvane::host::ConsoleReadinessGlobal2,
          &quorvane::host::ConsoleReadinessGlobal3}) {
        Platform().sleeps.clear();
        MarkConsoleUp();
        testhost::Set(*missing, static_cast<const void*>(nullptr));
        EXPECT_EQ(RunThread(), 0u);
        EXPECT_EQ(Platform().sleeps.size(), 1200u);
    }
    EXPECT_TRUE(console->initializeSteps.empty());
}

TEST_F(InitializeThreadTest, GivesUpAfterTheBudgetWithOneLogLine) {
    CreateLog();
    ConsoleUpAt([](unsigned) { return false; });
    EXPECT_EQ(RunThread(), 0u);
    // Polls at 0, 50, ... 59950 ms; the sleep after the last spends the budget.
    EXPECT_EQ(Platform().sleeps.size(), 1200u);
    EXPECT_TRUE(AllSleepsArePollPeriods());
    EXPECT_TRUE(console->initializeSteps.empty());
    EXPECT_EQ(LoggedMessages(), "Console initialize timed out.\n");
}

struct LastPollsCase {
    const char* name;
    unsigned firstHit; // hits at every poll from here to the last (1200)
    bool initialised;
};

class LastPollsTest : public InitializeThreadTest,
                      public testing::WithParamInterface<LastPollsCase> {};

TEST_P(LastPollsTest, TheLastPollStillCounts) {
    CreateLog();
    unsigned firstHit = GetParam().firstHit;
    ConsoleUpAt([firstHit](unsigned poll) { return poll >= firstHit; });
    EXPECT_EQ(RunThread(), 0u);
    if (GetParam().initialised) {
        EXPECT_EQ(Platform().sleeps.size(), 1199u);
        EXPECT_EQ(console->initializeSteps, (std::vector<unsigned>{1, 2}));
        EXPECT_EQ(LoggedMessages(), "");
    } else {
        EXPECT_EQ(Platform().sleeps.size(), 1200u);
        EXPECT_TRUE(console->initializeSteps.empty());
        EXPECT_EQ(LoggedMessages(), "Console initialize timed out.\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Polls, LastPollsTest,
                         testing::Values(LastPollsCase{"FifthHitOnTheLastPoll", 1196, true},
                                         LastPollsCase{"FourthHitOnTheLastPoll", 1197, false}),
                         [](const testing::TestParamInfo<LastPollsCase>& info) {
                             return info.param.name;
                         });

} // namespace

namespace {

// Nothing inside the wait may end the game through the thread-start frame:
// a failure in the middle of the wait ends the thread quietly with 0.
TEST_F(InitializeThreadTest, AFailureDuringTheWaitEndsTheThreadWithZero) {
    CreateLog();
    Platform().onSleep = [](std::uint32_t) { throw std::runtime_error("sleep failed"); };
    EXPECT_EQ(RunThread(), 0u);
    EXPECT_EQ(Platform().sleeps.size(), 1u);
    EXPECT_TRUE(console->initializeSteps.empty());
    EXPECT_EQ(LoggedMessages(), "");
}

} // namespace
