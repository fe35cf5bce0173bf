// SetSelectedReference and GetSelectedReference against the simulated console.
#include "console_fixture.h"

namespace {
using quorvane::GetSelectedReference;
using quorvane::SetSelectedReference;
using testhost::InvalidHandle;
using testhost::MenuReferences;
using testhost::ReferenceCount;
using testhost::SimulatedReference;
namespace host = quorvane::host;

class SelectionTest : public ConsoleTest {
  protected:
    void RemoveConsoleMenu() { testhost::SetMenuTable(16, true); }
    void Select(host::ReferenceHandle handle) {
        testhost::Set(host::ConsoleSelectionGlobal, handle);
    }
};

TEST_F(SelectionTest, AReferenceWithAHandleIsSelectedWithoutTheMenu) {
    CreateLog();
    RemoveConsoleMenu(); // not needed on this path, so not missed
    host::TESObjectREFR* reference = SimulatedReference(0, 0x2A0017);
    SetSelectedReference(nullptr, reference);
    EXPECT_EQ(console->selectedHandles, std::vector<std::uint32_t>{0x2A0017});
    EXPECT_TRUE(console->menuSelectionCalls.empty());
    EXPECT_EQ(console->Counts().initStringCalls, 0u);
    EXPECT_EQ(console->Counts().hashCalls, 0u);
    EXPECT_EQ(LoggedMessages(), "");
    EXPECT_EQ(GetSelectedReference(nullptr), reference);
}

struct ClearCase {
    const char* name;
    bool withReference; // one without a handle; otherwise None
};

class ClearSelectionTest : public SelectionTest, public testing::WithParamInterface<ClearCase> {};

TEST_P(ClearSelectionTest, ClearsThroughTheConsoleMenu) {
    CreateLog();
    SetSelectedReference(nullptr, SimulatedReference(1, 0x2A0001));
    host::TESObjectREFR* argument = GetParam().withReference ? SimulatedReference(0, 0) : nullptr;

    SetSelectedReference(nullptr, argument);
    ASSERT_EQ(console->menuSelectionCalls.size(), 1u);
    EXPECT_EQ(console->menuSelectionCalls[0].menu, console->consoleMenu);
    EXPECT_EQ(console->menuSelectionCalls[0].argument, 0u);
    EXPECT_EQ(console->selectedHandles.size(), 1u); // only the first selection
    EXPECT_EQ(console->Counts().getHandleCalls, GetParam().withReference ? 2u : 1u);
    EXPECT_EQ(MenuReferences(console->consoleMenu), 0);
    EXPECT_EQ(LoggedMessages(), "");
    EXPECT_EQ(GetSelectedReference(nullptr), nullptr);
}

TEST_P(ClearSelectionTest, WithoutTheConsoleMenuLogsOnce) {
    CreateLog();
    RemoveConsoleMenu();
    host::TESObjectREFR* argument = GetParam().withReference ? SimulatedReference(0, 0) : nullptr;
    SetSelectedReference(nullptr, argument);
    EXPECT_TRUE(console->menuSelectionCalls.empty());
    EXPECT_TRUE(console->selectedHandles.empty());
    EXPECT_EQ(LoggedMessages(), "Failed to get console pointer in set reference!\n");
}

INSTANTIATE_TEST_SUITE_P(Arguments, ClearSelectionTest,
                         testing::Values(ClearCase{"None", false},
                                         ClearCase{"ReferenceWithoutHandle", true}),
                         [](const testing::TestParamInfo<ClearCase>& info) {
                             return info.param.name;
                         });

TEST_F(SelectionTest, SharesTheMenuNameWithCommands) {
    SetSelectedReference(nullptr, nullptr);
    quorvane::ExecuteCommand(nullptr, Text("tgm"));
    SetSelectedReference(nullptr, nullptr);
    EXPECT_EQ(console->Counts().initStringCalls, 1u);
    EXPECT_EQ(console->menuSelectionCalls.size(), 2u);
}

TEST_F(SelectionTest, NoSelectionReadsAsNoneWithoutAskingTheHost) {
    for (host::ReferenceHandle handle : {InvalidHandle, host::ReferenceHandle{0}}) {
        Select(handle);
        EXPECT_EQ(GetSelectedReference(nullptr), nullptr) << handle;
    }
    EXPECT_EQ(console->Counts().lookUpCalls, 0u);
}

TEST_F(SelectionTest, ADeadHandleReadsAsNoneWithoutARelease) {
    SimulatedReference(0, 0x2A0017, false);
    Select(0x2A0017);
    EXPECT_EQ(GetSelectedReference(nullptr), nullptr);
    EXPECT_EQ(console->Counts().lookUpCalls, 1u);
    EXPECT_EQ(console->Counts().releasePointerCalls, 0u);
}

TEST_F(SelectionTest, ALiveSelectionIsReturnedWithItsCountUnchanged) {
    host::TESObjectREFR* other = SimulatedReference(0, 0x2A0016);
    host::TESObjectREFR* selected = SimulatedReference(1, 0x2A0017);
    Select(0x2A0017);
    EXPECT_EQ(GetSelectedReference(nullptr), selected);
    EXPECT_EQ(ReferenceCount(selected), 0);
    EXPECT_EQ(ReferenceCount(other), 0);
    EXPECT_EQ(console->Counts().releasePointerCalls, 1u);
    EXPECT_EQ(console->Counts().releasesOfNull, 0u);
}

} // namespace
