// The platform layer as the tests drive it: threads are started only when a
// test says so, sleeps are counted and never slept, the clock is a number the
// test sets, and files and allocations can be made to fail.
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace testhost {

struct PlatformControl {
    // Threads. By default a started routine is only recorded; a test runs it
    // with RunStartedThread, on the test's own thread or one it creates.
    bool failThreadCreation = false;
    std::vector<quorvane::platform::ThreadRoutine> startedThreads;

    // Sleeps: every requested duration, in order, and a hook that runs at
    // each sleep (virtual time: the test changes the world between polls).
    std::vector<std::uint32_t> sleeps;
    std::function<void(std::uint32_t milliseconds)> onSleep;

    // Clock: seconds since 1970 as the "current time"; local time is this
    // clock read as UTC, or fails.
    std::time_t clock = 0;
    bool failLocalTime = false;

    // Files: real files in the current directory; the hook runs between the
    // existence test and the append open, and the append open can fail.
    std::function<void()> betweenLogOpens;
    bool failAppendOpen = false;

    // The plugin's own heap: allocation number failAllocationAt (counted from
    // 1 since the last reset) fails; 0 fails none.
    unsigned allocations = 0;
    unsigned frees = 0;
    unsigned failAllocationAt = 0;

    std::mutex mutex; // guards the counters for threads that sleep or allocate at once
};

PlatformControl& Platform();

// Back to the defaults above, with empty records.
void ResetPlatform();

// Runs the index-th started thread routine on the calling thread and returns
// its exit code.
unsigned long RunStartedThread(std::size_t index = 0);

} // namespace testhost
