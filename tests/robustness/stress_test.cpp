// Many script threads calling all five functions through the VM at once,
// while the start-up thread waits for the console and initialises it. A
// bounded number of calls; a watchdog turns a deadlock into a failure. At the
// end every count is back where it was and no message is interleaved with
// another message or a command.
#include "long_text_side.h"
#include "robustness_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <latch>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {
using namespace robustness;
using testhost::ConsoleEvent;
using testhost::Platform;

constexpr int Threads = 4;
constexpr int Rounds = 600;
constexpr int ChunksPerMessage = 3;
// Generous for qemu on a loaded machine; a healthy run takes a few seconds.
constexpr auto Watchdog = std::chrono::seconds(240);

// Three chunks, each opening with a tag that names its message and place.
std::string Message(int thread, int round) {
    std::string text;
    for (int chunk = 0; chunk < ChunksPerMessage; ++chunk) {
        std::string part = "[" + std::to_string(thread) + "." + std::to_string(round) + "." +
                           std::to_string(chunk) + "]";
        part.resize(chunk + 1 < ChunksPerMessage ? 1023 : 200, static_cast<char>('a' + thread));
        text += part;
    }
    return text;
}

std::string TagOf(const std::string& chunk) {
    return chunk.substr(0, chunk.find(']') + 1);
}

// Runs work on its own thread and waits for it at most Watchdog; a run that
// does not end is a deadlock, and the program stops with a failure rather
// than hang.
template <typename Work> void WithWatchdog(Work work) {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::thread runner([&] {
        work();
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
        finished.notify_one();
    });
    std::unique_lock<std::mutex> lock(mutex);
    if (!finished.wait_for(lock, Watchdog, [&] { return done; })) {
        std::fprintf(stderr, "stress run did not end within the watchdog's limit: deadlock\n");
        std::fflush(stderr);
        std::_Exit(1);
    }
    lock.unlock();
    runner.join();
}

class StressTest : public PluginTest {};

TEST_F(StressTest, AllFiveFunctionsFromManyThreadsWithTheStartUpThreadRunning) {
    CreateLog();
    ASSERT_TRUE(Load());
    ASSERT_TRUE(Register());
    ASSERT_EQ(Platform().startedThreads.size(), 1u);
    testhost::InstallRoutine(host::SetStringCacheRef.address, LongTextSetStringCacheRef());

    // One reference with a handle, one script object bound to it that the
    // VM holds once, and the handle policy watching that object's lock word.
    host::TESObjectREFR* reference = testhost::SimulatedReference(0, 0x2A0017);
    VmHandlePolicyConfig()->hasType = true;
    VmHandlePolicyConfig()->checkPasses = true;
    VmHandlePolicyConfig()->objectForHandle = reference;
    VmHandlePolicyConfig()->objectHandle = 0x100000BEEFull;
    VmHandlePolicyConfig()->watchedLockWord = &scriptObject.lockWord;
    VmRegistryConfig()->findResult = true;
    VmRegistryConfig()->foundObject = &scriptObject;
    const std::uint32_t classCountBefore = referenceClass.referenceCount;
    const int referenceCountBefore = testhost::ReferenceCount(reference);

    // The console comes up after the start-up thread's third poll period.
    std::atomic<int> pollSleeps{0};
    Platform().onSleep = [&pollSleeps](std::uint32_t milliseconds) {
        if (milliseconds == 50 && ++pollSleeps == 3) {
            testhost::MarkConsoleUp();
        }
    };

    std::vector<std::string> messages(Threads * Rounds);
    std::vector<std::string> commands(Threads * Rounds);
    for (int t = 0; t < Threads; ++t) {
        for (int r = 0; r < Rounds; ++r) {
            messages[t * Rounds + r] = Message(t, r);
            commands[t * Rounds + r] = "cmd " + std::to_string(t) + "." + std::to_string(r);
        }
    }
    // Give way inside the console's routines, so that others barge in.
    console->onPrint = [](const testhost::PrintedChunk&) { std::this_thread::yield(); };
    console->onCommand = [](const testhost::CommandRun&) { std::this_thread::yield(); };

    std::atomic<unsigned> badResults{0};
    std::atomic<unsigned long> startUpExit{99};
    WithWatchdog([&] {
        std::latch start(Threads + 1);
        std::vector<std::thread> threads;
        threads.emplace_back([&] {
            start.arrive_and_wait();
            startUpExit = testhost::RunStartedThread(0);
        });
        for (int t = 0; t < Threads; ++t) {
            threads.emplace_back([&, t] {
                start.arrive_and_wait();
                for (int r = 0; r < Rounds; ++r) {
                    // Each thread at a different function at any moment.
                    switch ((r + t) % 6) {
                    case 0:
                        Call("PrintMessage", Text(messages[t * Rounds + r]));
                        break;
                    case 1:
                        Call("ExecuteCommand", Text(commands[t * Rounds + r]));
                        break;
                    case 2:
                        Call("SetSelectedReference", ScriptObjectValue());
                        break;
                    case 3: {
                        // The selection may just have been cleared by another
                        // thread: the script object or None.
                        VmValue result = Call("GetSelectedReference");
                        bool object = result.typeTag == host::Word(&referenceClass) &&
                                      result.datum == host::Word(&scriptObject);
                        bool none = result.typeTag == 0 && result.datum == 0;
                        if (!object && !none) {
                            ++badResults;
                        }
                        break;
                    }
                    case 4:
                        Call("SetSelectedReference", None());
                        break;
                    case 5:
                        if (Call("GetVersion").datum != 2) {
                            ++badResults;
                        }
                        break;
                    }
                }
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
    });

    EXPECT_EQ(badResults.load(), 0u);
    EXPECT_EQ(startUpExit.load(), 0u);
    EXPECT_EQ(console->initializeSteps, (std::vector<unsigned>{1, 2}));

    // Counts: script object, handle policy, class info, menu, reference.
    EXPECT_EQ(scriptObject.lockWord, 1u);
    EXPECT_EQ(VmHandlePolicyRecorded()->acquires, VmHandlePolicyRecorded()->releases);
    EXPECT_EQ(VmHandlePolicyRecorded()->transitionFaults, 0u);
    EXPECT_EQ(VmHandlePolicyRecorded()->destroyedScriptObjects, 0u);
    EXPECT_EQ(referenceClass.referenceCount, classCountBefore);
    EXPECT_EQ(VmHandlePolicyRecorded()->destroyedClassInfos, 0u);
    EXPECT_EQ(testhost::MenuReferences(console->consoleMenu), 0);
    EXPECT_EQ(testhost::ReferenceCount(reference), referenceCountBefore);
    EXPECT_EQ(console->chunksWithLonePercent, 0u);
    EXPECT_EQ(LoggedMessages(), "");

    // Every command ran once; every message came whole, its chunks in a row.
    const int perFunction = Threads * Rounds / 6;
    ASSERT_EQ(console->commands.size(), std::size_t(perFunction));
    ASSERT_EQ(console->printed.size(), std::size_t(perFunction * ChunksPerMessage));
    const std::vector<ConsoleEvent>& events = console->events;
    std::vector<bool> shown(messages.size(), false);
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i].kind != ConsoleEvent::Kind::Print) {
            continue;
        }
        ASSERT_LE(i + ChunksPerMessage, events.size());
        std::string whole;
        const std::string first = TagOf(console->printed[events[i].index].text);
        for (int c = 0; c < ChunksPerMessage; ++c) {
            const ConsoleEvent& event = events[i + c];
            ASSERT_EQ(event.kind, ConsoleEvent::Kind::Print) << "a command inside a message";
            const std::string& chunk = console->printed[event.index].text;
            ASSERT_EQ(TagOf(chunk), first.substr(0, first.size() - 2) + std::to_string(c) + "]")
                << "chunks of two messages interleaved at event " << i + c;
            whole += chunk;
        }
        int t = first[1] - '0';
        int r = std::stoi(first.substr(3));
        EXPECT_EQ(whole, messages[t * Rounds + r]);
        EXPECT_FALSE(shown[t * Rounds + r]);
        shown[t * Rounds + r] = true;
        i += ChunksPerMessage - 1;
    }
}

} // namespace
