#include "plugin/extender.h"

#include "binding/registration.h"
#include "console/initialize_thread.h"
#include "host_call.h"
#include "msvc_side.h"
#include "platform_control.h"
#include "scratch_directory.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>

namespace {
using testhost::Platform;
using testhost::ReadFile;

auto Query() {
    return reinterpret_cast<ExtenderQueryFn>(&SKSEPlugin_Query);
}
auto Load() {
    return reinterpret_cast<ExtenderLoadFn>(&SKSEPlugin_Load);
}

void CreateLog() {
    testhost::CreateLogFile();
}

struct QueryCase {
    unsigned gameVersionCode;
    unsigned editorFlag;
    bool accepted;
};

void PrintTo(const QueryCase& c, std::ostream* out) {
    *out << std::hex << "version 0x" << c.gameVersionCode << ", editor 0x" << c.editorFlag;
}

class QueryTest : public testing::TestWithParam<QueryCase> {};

TEST_P(QueryTest, FillsTheInfoRecordAndAcceptsOnlyTheOneRuntime) {
    CreateLog();
    ExtenderPluginInfo info{0xDDDDDDDD, reinterpret_cast<const char*>(0xDDDDDDDD), 0xDDDDDDDD};
    bool accepted =
        ExtenderCallQuery(Query(), GetParam().gameVersionCode, GetParam().editorFlag, &info);
    EXPECT_EQ(accepted, GetParam().accepted);
    EXPECT_EQ(info.recordVersion, 1u);
    EXPECT_STREQ(info.pluginName, "quorvane");
    EXPECT_EQ(info.pluginVersion, 1u);
    // Query neither logs nor asks the extender for anything.
    EXPECT_EQ(ReadFile("Quorvane.txt"), "");
    EXPECT_EQ(ExtenderRecorded()->askedCount, 0u);
}

INSTANTIATE_TEST_SUITE_P(Runtimes, QueryTest,
                         testing::Values(QueryCase{0x09200000, 0, true},
                                         QueryCase{0x09200000, 1, false},
                                         QueryCase{0x09200000, 0x80000000, false},
                                         QueryCase{0x09200001, 0, false},
                                         QueryCase{0x091FFFFF, 0, false}, QueryCase{0, 0, false}));

TEST(Query, GivesTheSameAnswerEveryTime) {
    ExtenderPluginInfo info{};
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(ExtenderCallQuery(Query(), 0x09200000, 0, &info));
    }
}

TEST(Load, HandsOverTheRegistrationCallbackAndStartsTheThread) {
    CreateLog();
    EXPECT_TRUE(ExtenderCallLoad(Load(), true));

    const ExtenderLog* log = ExtenderRecorded();
    ASSERT_EQ(log->askedCount, 1u);
    EXPECT_EQ(log->askedIds[0], 2u);
    ASSERT_EQ(log->callbackCount, 1u);
    EXPECT_EQ(reinterpret_cast<void*>(log->callbacks[0]),
              reinterpret_cast<void*>(&quorvane::RegisterScriptFunctions));
    ASSERT_EQ(Platform().startedThreads.size(), 1u);
    EXPECT_EQ(Platform().startedThreads[0], &quorvane::ConsoleInitializeThread);
    EXPECT_EQ(ReadFile("Quorvane.txt"), "");
}

struct LoadCase {
    const char* name;
    bool offerPapyrus;
    bool failThread;
    const char* log;
};

void PrintTo(const LoadCase& c, std::ostream* out) {
    *out << c.name;
}

class LoadFailureTest : public testing::TestWithParam<LoadCase> {};

TEST_P(LoadFailureTest, LogsEachFailureInOrderAndStillAnswersTrue) {
    CreateLog();
    Platform().failLocalTime = true; // lines without a stamp compare exactly
    Platform().failThreadCreation = GetParam().failThread;

    EXPECT_TRUE(ExtenderCallLoad(Load(), GetParam().offerPapyrus));

    EXPECT_EQ(ReadFile("Quorvane.txt"), GetParam().log);
    const ExtenderLog* log = ExtenderRecorded();
    EXPECT_EQ(log->askedCount, 1u);
    EXPECT_EQ(log->askedIds[0], 2u);
    EXPECT_EQ(log->callbackCount, GetParam().offerPapyrus ? 1u : 0u);
    // The thread is started even when the interface is missing.
    EXPECT_EQ(Platform().startedThreads.size(), GetParam().failThread ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, LoadFailureTest,
    testing::Values(
        LoadCase{"NoPapyrus", false, false, "Failed to register papyrus functions!\r\n"},
        LoadCase{"NoThread", true, true, "Failed to start console initialize thread!\r\n"},
        LoadCase{"Both", false, true,
                 "Failed to register papyrus functions!\r\n"
                 "Failed to start console initialize thread!\r\n"}),
    [](const testing::TestParamInfo<LoadCase>& info) { return std::string(info.param.name); });

} // namespace

namespace {

// Both exports are plain cdecl functions: the caller pops, so the stack must
// come back exactly where the caller left it, with the answer in AL.
TEST(EntryPoints, KeepTheCdeclStackContract) {
    quorvane::ExtenderInterfaceRecord extender{0, quorvane::SupportedGameVersionCode, 0, 0,
                                               [](std::uint32_t) -> void* { return nullptr; }};
    quorvane::PluginInfoRecord info{};
    std::uint32_t eaxEdx[2];

    std::uint32_t queryArguments[] = {
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&extender)),
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&info))};
    EXPECT_EQ(HostCall(reinterpret_cast<const void*>(&SKSEPlugin_Query), HostCdecl, nullptr,
                       queryArguments, 2, eaxEdx),
              0);
    EXPECT_EQ(eaxEdx[0] & 0xFF, 1u);

    std::uint32_t loadArguments[] = {queryArguments[0]};
    EXPECT_EQ(HostCall(reinterpret_cast<const void*>(&SKSEPlugin_Load), HostCdecl, nullptr,
                       loadArguments, 1, eaxEdx),
              0);
    EXPECT_EQ(eaxEdx[0] & 0xFF, 1u);
}

} // namespace
