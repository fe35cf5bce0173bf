// The shipped Quorvane.dll, loaded into the simulated game process: the
// script extender's calls, the initialisation thread and the log file, seen
// from the host's side of every boundary.
#include "console_sim.h"
#include "dll_loader.h"
#include "dll_path.h"
#include "host_call.h"
#include "msvc_side.h"
#include "scratch_directory.h"
#include "thread_block.h"
#include "windows_shims.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {
using e2e::Windows;
using testhost::ReadFile;

constexpr unsigned AcceptedRuntime = 0x09200000;

// 9 December 2026, 17:06:05 UTC (the simulated time zone), in milliseconds.
std::int64_t NinthOfDecember() {
    return static_cast<std::int64_t>(testhost::NinthOfDecember2026()) * 1000;
}

void CreateLog() {
    testhost::CreateLogFile();
}

class RealDll : public testing::Test {
  protected:
    void SetUp() override {
        e2e::ResetWindows();
        Windows().clockMilliseconds = NinthOfDecember();
        console = &testhost::InstallSimulatedConsole();
        std::string error;
        dll = e2e::LoadDll(e2e::ShippedDllPath(), e2e::Placement::PreferredBase, &error);
        ASSERT_NE(dll, nullptr) << error;
        // Undecorated, as the extender looks them up.
        ASSERT_NE(e2e::FindExport(*dll, "SKSEPlugin_Query"), nullptr);
        ASSERT_NE(e2e::FindExport(*dll, "SKSEPlugin_Load"), nullptr);
    }
    void TearDown() override {
        e2e::UnloadDll(dll);
        e2e::ResetWindows();
    }

    ExtenderQueryFn Query() const {
        return reinterpret_cast<ExtenderQueryFn>(Export("SKSEPlugin_Query"));
    }
    ExtenderLoadFn Load() const {
        return reinterpret_cast<ExtenderLoadFn>(Export("SKSEPlugin_Load"));
    }
    void* Export(const char* name) const {
        const void* address = e2e::FindExport(*dll, name);
        EXPECT_NE(address, nullptr) << name;
        return const_cast<void*>(address);
    }
    bool InImage(const void* address) const {
        auto* byte = static_cast<const std::uint8_t*>(address);
        return byte >= dll->base && byte < dll->base + dll->size;
    }

    e2e::LoadedDll* dll = nullptr;
    testhost::SimulatedConsole* console = nullptr;
};

// --- the extender's calls ---------------------------------------------------

struct QueryCase {
    const char* name;
    unsigned gameVersionCode;
    unsigned editorFlag;
    bool accepted;
};

class RealDllQuery : public RealDll, public testing::WithParamInterface<QueryCase> {};

TEST_P(RealDllQuery, AnswersFromTheRecordAndFillsTheInfo) {
    CreateLog();
    ExtenderPluginInfo info{0xDDDDDDDD, nullptr, 0xDDDDDDDD};
    EXPECT_EQ(ExtenderCallQuery(Query(), GetParam().gameVersionCode, GetParam().editorFlag, &info),
              GetParam().accepted);
    EXPECT_EQ(info.recordVersion, 1u);
    EXPECT_EQ(info.pluginVersion, 1u);
    ASSERT_NE(info.pluginName, nullptr);
    EXPECT_STREQ(info.pluginName, "quorvane");
    EXPECT_TRUE(InImage(info.pluginName)) << "the name must live as long as the DLL";
    EXPECT_EQ(ExtenderRecorded()->askedCount, 0u);
    EXPECT_EQ(ReadFile("Quorvane.txt"), "");
}

INSTANTIATE_TEST_SUITE_P(Runtimes, RealDllQuery,
                         testing::Values(QueryCase{"Accepted", AcceptedRuntime, 0, true},
                                         QueryCase{"Editor", AcceptedRuntime, 1, false},
                                         QueryCase{"NextVersion", AcceptedRuntime + 1, 0, false},
                                         QueryCase{"NoVersion", 0, 0, false}),
                         [](const testing::TestParamInfo<QueryCase>& info) {
                             return std::string(info.param.name);
                         });

// The extender calls both entry points as plain cdecl functions: the caller
// pops the arguments and the answer is the byte in AL.
TEST_F(RealDll, EntryPointsKeepTheCdeclStackAndAnswerInAl) {
    struct Record {
        std::uint32_t unread0, gameVersionCode, unread8, editorFlag;
        void* (*lookUpInterface)(std::uint32_t);
    };
    Record extender{0, AcceptedRuntime, 0, 0, [](std::uint32_t) -> void* { return nullptr; }};
    std::uint32_t info[3] = {};
    std::uint32_t queryArguments[2] = {
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&extender)),
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(info))};
    std::uint32_t registers[2] = {};
    EXPECT_EQ(
        HostCall(Export("SKSEPlugin_Query"), HostCdecl, nullptr, queryArguments, 2, registers), 0);
    EXPECT_EQ(registers[0] & 0xFF, 1u);
    extender.editorFlag = 1;
    EXPECT_EQ(
        HostCall(Export("SKSEPlugin_Query"), HostCdecl, nullptr, queryArguments, 2, registers), 0);
    EXPECT_EQ(registers[0] & 0xFF, 0u);

    Windows().threadCreation = e2e::ThreadCreation::Defer;
    EXPECT_EQ(HostCall(Export("SKSEPlugin_Load"), HostCdecl, nullptr, queryArguments, 1, registers),
              0);
    EXPECT_EQ(registers[0] & 0xFF, 1u);
}

TEST_F(RealDll, LoadHandsOverTheCallbackAndTheThreadStartsTheConsole) {
    CreateLog();
    testhost::MarkConsoleUp();
    EXPECT_TRUE(ExtenderCallLoad(Load(), true));

    const ExtenderLog* log = ExtenderRecorded();
    ASSERT_EQ(log->askedCount, 1u);
    EXPECT_EQ(log->askedIds[0], 2u);
    ASSERT_EQ(log->callbackCount, 1u);
    EXPECT_TRUE(InImage(reinterpret_cast<const void*>(log->callbacks[0])));

    ASSERT_EQ(e2e::StartedThreadCount(), 1u);
    EXPECT_EQ(e2e::JoinStartedThread(0), 0u);
    EXPECT_EQ(console->initializeSteps, (std::vector<unsigned>{1, 2}));
    EXPECT_EQ(Windows().sleeps, (std::vector<std::uint32_t>{50, 50, 50, 50}));
    EXPECT_EQ(ReadFile("Quorvane.txt"), "");
}

TEST_F(RealDll, LoadLogsAMissingInterfaceAndAFailedThreadInThatOrder) {
    CreateLog();
    Windows().threadCreation = e2e::ThreadCreation::Fail;
    EXPECT_TRUE(ExtenderCallLoad(Load(), false));
    EXPECT_EQ(ExtenderRecorded()->callbackCount, 0u);
    EXPECT_EQ(ReadFile("Quorvane.txt"), "09 Dec 17:06:05 Failed to register papyrus functions!\r\n"
                                        "09 Dec 17:06:05 Failed to start console initialize "
                                        "thread!\r\n");
}

TEST_F(RealDll, WithoutTheLogFileNothingIsWritten) {
    Windows().threadCreation = e2e::ThreadCreation::Fail;
    EXPECT_TRUE(ExtenderCallLoad(Load(), false));
    EXPECT_FALSE(testhost::FileExists("Quorvane.txt"));
}

// --- the initialisation thread, in virtual time -------------------------------

TEST_F(RealDll, ThreadGivesUpAfterSixtySecondsWithOneLogLine) {
    CreateLog();
    Windows().threadCreation = e2e::ThreadCreation::Defer;
    EXPECT_TRUE(ExtenderCallLoad(Load(), true));
    ASSERT_EQ(e2e::StartedThreadCount(), 1u);
    EXPECT_EQ(e2e::RunDeferredThread(0), 0u);

    EXPECT_EQ(Windows().sleeps.size(), 1200u);
    EXPECT_TRUE(std::all_of(Windows().sleeps.begin(), Windows().sleeps.end(),
                            [](std::uint32_t sleep) { return sleep == 50; }));
    EXPECT_TRUE(console->initializeSteps.empty());
    // The stamp is taken after the minute of sleeps.
    EXPECT_EQ(ReadFile("Quorvane.txt"), "09 Dec 17:07:05 Console initialize timed out.\r\n");
}

TEST_F(RealDll, ThreadCountsHitsAcrossMissesAndStillTakesTheLastPoll) {
    CreateLog();
    Windows().threadCreation = e2e::ThreadCreation::Defer;
    EXPECT_TRUE(ExtenderCallLoad(Load(), true));
    // Poll n comes after n - 1 sleeps; the console is up at polls 1196 to 1200
    // only, the last of which is 50 ms short of the budget.
    Windows().onSleep = [](std::uint32_t) {
        testhost::MarkConsoleUp(Windows().sleeps.size() >= 1195);
    };
    EXPECT_EQ(e2e::RunDeferredThread(0), 0u);
    EXPECT_EQ(Windows().sleeps.size(), 1199u);
    EXPECT_EQ(console->initializeSteps, (std::vector<unsigned>{1, 2}));
    EXPECT_EQ(ReadFile("Quorvane.txt"), "");
}

// Every thread that runs the DLL's code sees a thread block of its own through FS.
TEST_F(RealDll, TheDllsThreadRunsOnABlockOfItsOwn) {
    testhost::MarkConsoleUp();
    e2e::ThreadInformationBlock* mainBlock = e2e::CurrentThreadBlock();
    ASSERT_NE(mainBlock, nullptr);
    std::uint32_t selfThroughFs = 0;
    e2e::ThreadInformationBlock* threadBlock = nullptr;
    std::uintptr_t stackProbe = 0;
    Windows().onSleep = [&](std::uint32_t) {
        selfThroughFs = e2e::ReadFsWord(0x18);
        threadBlock = e2e::CurrentThreadBlock();
        int local = 0;
        stackProbe = reinterpret_cast<std::uintptr_t>(&local);
    };
    EXPECT_TRUE(ExtenderCallLoad(Load(), true));
    EXPECT_EQ(e2e::JoinStartedThread(0), 0u);

    ASSERT_NE(threadBlock, nullptr);
    EXPECT_NE(threadBlock, mainBlock);
    EXPECT_EQ(selfThroughFs,
              static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(threadBlock)));
    EXPECT_GT(stackProbe, threadBlock->stackLimit);
    EXPECT_LT(stackProbe, threadBlock->stackBase);
    EXPECT_EQ(e2e::ReadFsWord(0x18),
              static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(mainBlock)));
}

// --- the loader itself ----------------------------------------------------------

// A second copy, away from the image base: every relocation applied, its own
// runtime and state, working beside the first.
TEST_F(RealDll, ARelocatedCopyRunsTheSame) {
    std::string error;
    e2e::LoadedDll* moved = e2e::LoadDll(e2e::ShippedDllPath(), e2e::Placement::Elsewhere, &error);
    ASSERT_NE(moved, nullptr) << error;
    EXPECT_TRUE(moved->relocated);
    EXPECT_NE(moved->base, dll->base);

    ExtenderPluginInfo info{};
    auto query = reinterpret_cast<ExtenderQueryFn>(
        const_cast<void*>(e2e::FindExport(*moved, "SKSEPlugin_Query")));
    EXPECT_TRUE(ExtenderCallQuery(query, AcceptedRuntime, 0, &info));
    EXPECT_STREQ(info.pluginName, "quorvane");
    EXPECT_GE(reinterpret_cast<const std::uint8_t*>(info.pluginName), moved->base);

    CreateLog();
    Windows().threadCreation = e2e::ThreadCreation::Fail;
    auto load = reinterpret_cast<ExtenderLoadFn>(
        const_cast<void*>(e2e::FindExport(*moved, "SKSEPlugin_Load")));
    EXPECT_TRUE(ExtenderCallLoad(load, false));
    EXPECT_EQ(ReadFile("Quorvane.txt"), "09 Dec 17:06:05 Failed to register papyrus functions!\r\n"
                                        "09 Dec 17:06:05 Failed to start console initialize "
                                        "thread!\r\n");
    e2e::UnloadDll(moved);
}

TEST(Loader, NamesAnImportItDoesNotProvide) {
    std::ifstream in(e2e::ShippedDllPath(), std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string name = "OutputDebugStringA";
    auto at = std::search(bytes.begin(), bytes.end(), name.begin(), name.end());
    ASSERT_NE(at, bytes.end());
    at[name.size() - 1] = 'Z';
    std::ofstream("Renamed.dll", std::ios::binary)
        .write(bytes.data(), static_cast<long>(bytes.size()));

    std::string error;
    EXPECT_EQ(e2e::LoadDll("Renamed.dll", e2e::Placement::PreferredBase, &error), nullptr);
    EXPECT_NE(error.find("KERNEL32.dll!OutputDebugStringZ"), std::string::npos) << error;
}

TEST(Loader, RefusesAFileThatIsNoDll) {
    std::ofstream("NotADll.dll") << "MZ but nothing more";
    std::string error;
    EXPECT_EQ(e2e::LoadDll("NotADll.dll", e2e::Placement::PreferredBase, &error), nullptr);
    EXPECT_FALSE(error.empty());
}

} // namespace
