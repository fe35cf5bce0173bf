#include "log/log.h"

#include "platform_control.h"
#include "scratch_directory.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

namespace {
using quorvane::WriteLog;
using testhost::FileExists;
using testhost::Platform;
using testhost::ReadFile;

void CreateLog(const std::string& content = "") {
    testhost::CreateLogFile(content);
}

TEST(WriteLog, AppendsStampMessageAndCrLf) {
    CreateLog();
    Platform().clock = testhost::NinthOfDecember2026();
    WriteLog("Console initialize timed out.");
    EXPECT_EQ(ReadFile("Quorvane.txt"), "09 Dec 17:06:05 Console initialize timed out.\r\n");
    EXPECT_EQ(ReadFile("Quorvane.txt").size(), 47u);
}

TEST(WriteLog, KeepsEarlierLinesAndAddsOneLinePerCall) {
    CreateLog("earlier line\r\n");
    Platform().clock = testhost::NinthOfDecember2026();
    WriteLog("first");
    Platform().clock += 61;
    WriteLog("second");
    EXPECT_EQ(ReadFile("Quorvane.txt"),
              "earlier line\r\n09 Dec 17:06:05 first\r\n09 Dec 17:07:06 second\r\n");
}

TEST(WriteLog, WithoutTheFileCreatesNothing) {
    WriteLog("Failed to get console pointer!");
    EXPECT_FALSE(FileExists("Quorvane.txt"));
    EXPECT_TRUE(std::filesystem::is_empty("."));
}

TEST(WriteLog, FileThatCannotBeOpenedForAppendingIsLeftAlone) {
    // A directory opens for reading but never for appending, even for root.
    std::filesystem::create_directory("Quorvane.txt");
    WriteLog("Failed to get console pointer!");
    EXPECT_TRUE(std::filesystem::is_directory("Quorvane.txt"));
    EXPECT_TRUE(std::filesystem::is_empty("Quorvane.txt"));

    std::filesystem::remove("Quorvane.txt");
    CreateLog("kept\r\n");
    Platform().failAppendOpen = true;
    WriteLog("Failed to get console pointer!");
    EXPECT_EQ(ReadFile("Quorvane.txt"), "kept\r\n");
}

TEST(WriteLog, FileRemovedBetweenTheTwoOpensIsNotCreatedAgainByAppending) {
    CreateLog();
    Platform().betweenLogOpens = [] { std::filesystem::remove("Quorvane.txt"); };
    WriteLog("Console initialize timed out.");
    // The append open may create the file again (the same as a user creating it
    // at that moment); what matters is one well-formed line or nothing.
    std::string content = ReadFile("Quorvane.txt");
    EXPECT_TRUE(content == "<missing>" ||
                content == "01 Jan 00:00:00 Console initialize timed out.\r\n")
        << content;
}

TEST(WriteLog, WithoutLocalTimeTheLineStartsWithTheMessage) {
    CreateLog();
    Platform().failLocalTime = true;
    WriteLog("Failed to start console initialize thread!");
    EXPECT_EQ(ReadFile("Quorvane.txt"), "Failed to start console initialize thread!\r\n");
}

TEST(WriteLog, ExpandsConversions) {
    CreateLog();
    Platform().failLocalTime = true;
    WriteLog("%d of %s", 3, "five");
    EXPECT_EQ(ReadFile("Quorvane.txt"), "3 of five\r\n");
}

TEST(WriteLog, CutsALongerMessageAt511Characters) {
    CreateLog();
    Platform().failLocalTime = true;
    const std::string longText(5000, 'x');
    struct Case {
        std::string format;
        const char* argument;
    };
    for (const Case& c : {Case{longText, nullptr}, Case{"%s", longText.c_str()},
                          Case{std::string(511, 'y'), nullptr}}) {
        std::filesystem::remove("Quorvane.txt");
        CreateLog();
        if (c.argument != nullptr) {
            WriteLog(c.format.c_str(), c.argument);
        } else {
            WriteLog("%s", c.format.c_str());
        }
        std::string content = ReadFile("Quorvane.txt");
        ASSERT_EQ(content.size(), 511u + 2u);
        EXPECT_EQ(content.substr(0, 511),
                  c.format == "%s" ? longText.substr(0, 511) : c.format.substr(0, 511));
        EXPECT_EQ(content.substr(511), "\r\n");
    }
}

} // namespace
