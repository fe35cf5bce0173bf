// WriteLog is called from the loading thread, the console thread and the
// script VM's threads at once, without a lock: each call must work on storage
// of its own. Under ThreadSanitizer this finds shared buffers or state; in any
// build it finds lines that are lost or mixed together.
#include "log/log.h"

#include "platform_control.h"
#include "scratch_directory.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(WriteLogThreads, OverlappingCallsEachLeaveOneWholeLine) {
    std::fclose(std::fopen("Quorvane.txt", "wb"));
    testhost::Platform().failLocalTime = true; // lines are then the bare messages

    constexpr int Threads = 4;
    constexpr int LinesEach = 50;
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([t] {
            // Different lengths per thread, so that mixed lines cannot look whole.
            const std::string filler(40 + 90 * t, static_cast<char>('a' + t));
            for (int i = 0; i < LinesEach; ++i) {
                quorvane::WriteLog("thread %d line %d %s", t, i, filler.c_str());
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    std::map<std::string, int> seen;
    std::istringstream content(testhost::ReadFile("Quorvane.txt"));
    std::string line;
    while (std::getline(content, line, '\n')) {
        ASSERT_FALSE(line.empty());
        ASSERT_EQ(line.back(), '\r');
        line.pop_back();
        ++seen[line];
    }
    ASSERT_EQ(seen.size(), std::size_t{Threads * LinesEach});
    for (int t = 0; t < Threads; ++t) {
        const std::string filler(40 + 90 * t, static_cast<char>('a' + t));
        for (int i = 0; i < LinesEach; ++i) {
            std::ostringstream expected;
            expected << "thread " << t << " line " << i << ' ' << filler;
            EXPECT_EQ(seen[expected.str()], 1) << expected.str();
        }
    }
}

} // namespace
