// PrintMessage against the simulated console.
#include "console/console_lock.h"
#include "console_fixture.h"

#include <string>
#include <thread>

namespace {
using quorvane::PrintMessage;
using testhost::Set;
namespace host = quorvane::host;

class PrintMessageTest : public ConsoleTest {};

TEST_F(PrintMessageTest, HandsTheEscapedTextToTheConsoleManager) {
    PrintMessage(nullptr, Text("100% sure"));
    ASSERT_EQ(console->printed.size(), 1u);
    const testhost::PrintedChunk& chunk = console->printed[0];
    EXPECT_EQ(chunk.text, "100%% sure");
    EXPECT_EQ(chunk.console, console->consoleManager);
    // A host that reads the argument list anyway reads zeros.
    EXPECT_FALSE(chunk.argumentListNull);
    EXPECT_EQ(chunk.argumentWords, (std::array<std::uint32_t, 4>{}));
}

TEST_F(PrintMessageTest, NullAndEmptyTextsPrintNothing) {
    CreateLog();
    PrintMessage(nullptr, Text(nullptr));
    PrintMessage(nullptr, Text(""));
    EXPECT_TRUE(console->printed.empty());
    EXPECT_EQ(LoggedMessages(), "");
}

TEST_F(PrintMessageTest, LongTextArrivesInChunksThatShowItExactly) {
    std::string text;
    for (int i = 0; text.size() < 5000; ++i) {
        text += "line " + std::to_string(i) + ": 50% %d %s %n\n";
    }
    PrintMessage(nullptr, Text(text.c_str()));
    ASSERT_EQ(console->printed.size(), 6u);
    for (const testhost::PrintedChunk& chunk : console->printed) {
        EXPECT_LE(chunk.text.size(), 1023u);
    }
    EXPECT_EQ(console->chunksWithLonePercent, 0u);
    EXPECT_EQ(console->ShownText(), text);
}

TEST_F(PrintMessageTest, LeavesTheCallersTextAlone) {
    char text[] = "a%b";
    PrintMessage(nullptr, Text(text));
    EXPECT_STREQ(text, "a%b");
}

TEST_F(PrintMessageTest, WithoutAConsoleChunksAreDroppedSilently) {
    CreateLog();
    Set(host::ConsoleManagerGlobal, static_cast<host::ConsoleManager*>(nullptr));
    PrintMessage(nullptr, Text(std::string(3000, 'x').c_str()));
    EXPECT_TRUE(console->printed.empty());
    EXPECT_EQ(LoggedMessages(), "");
}

TEST_F(PrintMessageTest, ReadsTheConsoleAfreshForEveryChunk) {
    // The console goes away after the first chunk and comes back after the
    // second would have been printed.
    int seen = 0;
    console->onPrint = [&](const testhost::PrintedChunk&) {
        if (++seen == 1) {
            Set(host::ConsoleManagerGlobal, static_cast<host::ConsoleManager*>(nullptr));
        }
    };
    std::string text = std::string(1023, 'a') + std::string(1023, 'b') + "c";
    // The second chunk is dropped; the hook cannot bring the console back
    // between chunks, so the third is dropped too.
    PrintMessage(nullptr, Text(text.c_str()));
    ASSERT_EQ(console->printed.size(), 1u);
    EXPECT_EQ(console->printed[0].text, std::string(1023, 'a'));

    console->printed.clear();
    seen = 5;
    Set(host::ConsoleManagerGlobal, console->consoleManager);
    PrintMessage(nullptr, Text(text.c_str()));
    ASSERT_EQ(console->printed.size(), 3u);
    EXPECT_EQ(console->printed[2].text, "c");
}

TEST_F(PrintMessageTest, HoldsTheConsoleLockWhilePrinting) {
    bool freeForOthers = true;
    console->onPrint = [&](const testhost::PrintedChunk&) {
        std::thread other([&] {
            freeForOthers = quorvane::ConsoleLock.try_lock();
            if (freeForOthers) {
                quorvane::ConsoleLock.unlock();
            }
        });
        other.join();
    };
    PrintMessage(nullptr, Text("held"));
    ASSERT_EQ(console->printed.size(), 1u);
    EXPECT_FALSE(freeForOthers);

    // And gives it back afterwards.
    std::thread after([&] {
        freeForOthers = quorvane::ConsoleLock.try_lock();
        if (freeForOthers) {
            quorvane::ConsoleLock.unlock();
        }
    });
    after.join();
    EXPECT_TRUE(freeForOthers);
}

TEST_F(PrintMessageTest, PrintingAgainFromInsideThePrintDoesNotBlock) {
    console->onPrint = [&](const testhost::PrintedChunk& chunk) {
        if (chunk.text == "outer") {
            PrintMessage(nullptr, Text("inner"));
            quorvane::ExecuteCommand(nullptr, Text("player.additem f 1"));
        }
    };
    PrintMessage(nullptr, Text("outer"));
    ASSERT_EQ(console->printed.size(), 2u);
    EXPECT_EQ(console->printed[1].text, "inner");
    ASSERT_EQ(console->commands.size(), 1u);
    EXPECT_EQ(console->commands[0].text, "player.additem f 1");
}

TEST_F(PrintMessageTest, AMegabyteOfPercentIsPrintedWhole) {
    std::string text(1 << 20, '%');
    PrintMessage(nullptr, Text(text.c_str()));
    // 2 MiB escaped, in chunks of 1022 (1023 would split a pair).
    EXPECT_EQ(console->printed.size(), (2u << 20) / 1022 + 1);
    EXPECT_EQ(console->chunksWithLonePercent, 0u);
    EXPECT_EQ(console->ShownText(), text);
}

} // namespace
