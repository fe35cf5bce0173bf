// The lock word of a script object under real contention: many holders come
// and go while others read the handle under the lock bit. The handle policy
// must hear of every move between one and two holders exactly once, in strict
// alternation and under the lock bit, and the count must end where it began.
// The policy's state and the handle are plain (non-atomic) data on purpose:
// ThreadSanitizer reports any access that the lock bit fails to order.
#include "binding/lock_word.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace {
using quorvane::lockword::LockBit;

bool LockBitSet(std::uint32_t& word) {
    return (std::atomic_ref<std::uint32_t>(word).load() & LockBit) != 0;
}

struct SharedObject {
    alignas(4) std::uint32_t word = 1; // the registry's own holder
    std::uint64_t handle = 0x0000'1234'0000'5678;
    // What the handle policy knows; touched only under the lock bit.
    bool policyHoldsSecond = false;
    unsigned acquires = 0;
    unsigned releases = 0;
    unsigned faults = 0;
};

// Gives up the time slice instead of sleeping.
struct Yield {
    std::atomic<unsigned>* waits;
    void operator()(std::uint32_t) const {
        waits->fetch_add(1, std::memory_order_relaxed);
        std::this_thread::yield();
    }
};

TEST(LockWordThreads, HoldersAndHandleReadsStayConsistent) {
    SharedObject object;
    std::atomic<unsigned> waits{0};
    std::atomic<unsigned> tornHandles{0};
    constexpr int Threads = 4;
    constexpr int Rounds = 3000;

    auto onOneToTwo = [&object] {
        if (!LockBitSet(object.word) || object.policyHoldsSecond) {
            ++object.faults;
        }
        object.policyHoldsSecond = true;
        ++object.acquires;
    };
    auto onTwoToOne = [&object] {
        if (!LockBitSet(object.word) || !object.policyHoldsSecond) {
            ++object.faults;
        }
        object.policyHoldsSecond = false;
        ++object.releases;
    };

    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            for (int r = 0; r < Rounds; ++r) {
                if ((r + t) % 3 == 0) {
                    // Read the handle, and move it, only under the lock bit.
                    std::uint32_t count = quorvane::lockword::Lock(object.word, Yield{&waits});
                    if (object.handle != 0x0000'1234'0000'5678 &&
                        object.handle != 0x0000'5678'0000'1234) {
                        tornHandles.fetch_add(1);
                    }
                    object.handle = object.handle == 0x0000'1234'0000'5678 ? 0x0000'5678'0000'1234
                                                                           : 0x0000'1234'0000'5678;
                    quorvane::lockword::Unlock(object.word, count);
                } else {
                    quorvane::lockword::AddHolder(object.word, onOneToTwo, Yield{&waits});
                    std::uint32_t left =
                        quorvane::lockword::DropHolder(object.word, onTwoToOne, Yield{&waits});
                    if (left == 0) {
                        tornHandles.fetch_add(1000); // the registry's holder was taken
                    }
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    EXPECT_EQ(object.word, 1u);
    EXPECT_FALSE(object.policyHoldsSecond);
    EXPECT_EQ(object.acquires, object.releases);
    EXPECT_GT(object.acquires, 0u);
    EXPECT_EQ(object.faults, 0u);
    EXPECT_EQ(tornHandles.load(), 0u);
}

} // namespace
