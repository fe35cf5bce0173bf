// Several script threads at once, under emulation with real threads and a
// bounded amount of work: every test ends.
#include "console_fixture.h"

#include <latch>
#include <sched.h>
#include <string>
#include <thread>
#include <vector>

namespace {
using quorvane::ExecuteCommand;
using quorvane::PrintMessage;
using quorvane::SetSelectedReference;
using testhost::ConsoleEvent;
using testhost::MenuReferences;

constexpr int Threads = 4;
constexpr int Rounds = 12;

// Three chunks, each starting with a tag that names its thread, round and
// chunk, so that the record shows which message every chunk belongs to.
std::string Message(int thread, int round) {
    std::string text;
    for (int chunk = 0; chunk < 3; ++chunk) {
        std::string tag = "<" + std::to_string(thread) + "." + std::to_string(round) + "." +
                          std::to_string(chunk) + "%>";
        std::string body = tag + std::string(chunk < 2 ? 1023 : 100, 'a' + thread);
        // "%" is doubled in the escaped text; a chunk holds 1023 escaped characters.
        body.resize(chunk < 2 ? 1022 : 100);
        text += body;
    }
    return text;
}

class ConsoleConcurrencyTest : public ConsoleTest {};

TEST_F(ConsoleConcurrencyTest, MessagesAndCommandsNeverInterleave) {
    std::vector<std::string> messages(Threads * Rounds);
    std::vector<std::string> commands(Threads * Rounds);
    for (int t = 0; t < Threads; ++t) {
        for (int r = 0; r < Rounds; ++r) {
            messages[t * Rounds + r] = Message(t, r);
            commands[t * Rounds + r] = "command " + std::to_string(t) + "." + std::to_string(r);
        }
    }
    // Give way inside every host call so that the other threads get their
    // chance to barge in.
    console->onPrint = [](const testhost::PrintedChunk&) { sched_yield(); };
    console->onCommand = [](const testhost::CommandRun&) { sched_yield(); };

    std::latch start(Threads);
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int r = 0; r < Rounds; ++r) {
                PrintMessage(nullptr, Text(messages[t * Rounds + r].c_str()));
                ExecuteCommand(nullptr, Text(commands[t * Rounds + r].c_str()));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    ASSERT_EQ(console->commands.size(), std::size_t{Threads * Rounds});
    ASSERT_EQ(console->printed.size(), std::size_t{Threads * Rounds * 3});
    // Every message's three chunks come one after the other.
    const std::vector<ConsoleEvent>& events = console->events;
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i].kind != ConsoleEvent::Kind::Print) {
            continue;
        }
        const std::string& first = console->printed[events[i].index].text;
        std::size_t tagEnd = first.find("%%>");
        ASSERT_NE(tagEnd, std::string::npos);
        ASSERT_EQ(first[tagEnd - 1], '0') << "a message starts with its first chunk: " << i;
        std::string message = first.substr(0, tagEnd - 1);
        for (std::size_t next = 1; next < 3; ++next) {
            ASSERT_LT(i + next, events.size());
            ASSERT_EQ(events[i + next].kind, ConsoleEvent::Kind::Print) << "event " << i + next;
            const std::string& chunk = console->printed[events[i + next].index].text;
            ASSERT_EQ(chunk.substr(0, message.size() + 1), message + std::to_string(next))
                << "event " << i + next;
        }
        i += 2;
    }
    EXPECT_EQ(console->chunksWithLonePercent, 0u);
    EXPECT_EQ(MenuReferences(console->consoleMenu), 0);
}

TEST_F(ConsoleConcurrencyTest, TheMenuNameIsCreatedOnceWhenCommandAndSelectionRace) {
    // Creation is made slow, so that an unguarded first use would be caught
    // creating the name twice.
    console->onStringCached = [](const char*) {
        for (int i = 0; i < 20; ++i) {
            sched_yield();
        }
    };
    for (int round = 0; round < 20; ++round) {
        quorvane::ForgetConsoleMenuNameForTesting();
        unsigned before = console->Counts().initStringCalls;
        std::latch start(3);
        std::thread command([&] {
            start.arrive_and_wait();
            ExecuteCommand(nullptr, Text("tgm"));
        });
        std::thread selection([&] {
            start.arrive_and_wait();
            SetSelectedReference(nullptr, nullptr);
        });
        std::thread secondSelection([&] {
            start.arrive_and_wait();
            SetSelectedReference(nullptr, nullptr);
        });
        command.join();
        selection.join();
        secondSelection.join();
        ASSERT_EQ(console->Counts().initStringCalls - before, 1u) << "round " << round;
    }
    EXPECT_EQ(console->commands.size(), 20u);
    EXPECT_EQ(console->menuSelectionCalls.size(), 40u);
    EXPECT_EQ(MenuReferences(console->consoleMenu), 0);
}

} // namespace
