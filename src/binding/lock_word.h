// The holder count and lock bit in a script object's 32-bit lock word.
//
// Bits 0 to 30 count the holders; bit 31 is set while one thread reads the
// object's handle or moves the count between one and two holders, the only
// transitions that the handle policy hears of. Every other change is a single
// compare-and-swap. Waiters give up their time slice for a while and then
// sleep a millisecond at a time, with no limit: the lock is only ever held
// for a handle read or one policy call.
//
// Kept free of the host's layouts so that it also builds for the native
// sanitizer runs: the word is a plain reference, and the policy calls and the
// sleep are passed in.
#pragma once

#include <atomic>
#include <cstdint>

namespace quorvane::lockword {

inline constexpr std::uint32_t LockBit = 0x80000000;
inline constexpr std::uint32_t SpinThreshold = 10000;

// One wait of a call that found the lock bit set. waits is the call's own
// counter: yields while it runs from 0 to SpinThreshold, 1 ms sleeps after.
template <typename Sleep> void WaitForLockBit(std::uint32_t& waits, Sleep& sleep) {
    if (waits > SpinThreshold) {
        sleep(std::uint32_t{1});
    } else {
        sleep(std::uint32_t{0});
        ++waits;
    }
}

// Sets the lock bit and returns the count that was there; the caller clears
// the bit by storing that count back with Unlock.
template <typename Sleep> std::uint32_t Lock(std::uint32_t& word, Sleep sleep) {
    std::atomic_ref<std::uint32_t> lockWord(word);
    std::uint32_t waits = 0;
    for (;;) {
        std::uint32_t read = lockWord.load(std::memory_order_relaxed);
        if ((read & LockBit) != 0) {
            WaitForLockBit(waits, sleep);
            continue;
        }
        if (lockWord.compare_exchange_weak(read, read | LockBit, std::memory_order_acquire,
                                           std::memory_order_relaxed)) {
            return read;
        }
    }
}

inline void Unlock(std::uint32_t& word, std::uint32_t count) {
    std::atomic_ref<std::uint32_t>(word).store(count, std::memory_order_release);
}

// One holder more. onOneToTwo runs under the lock bit when the count goes
// from 1 to 2.
template <typename OnOneToTwo, typename Sleep>
void AddHolder(std::uint32_t& word, OnOneToTwo onOneToTwo, Sleep sleep) {
    std::atomic_ref<std::uint32_t> lockWord(word);
    std::uint32_t waits = 0;
    for (;;) {
        std::uint32_t read = lockWord.load(std::memory_order_relaxed);
        if ((read & LockBit) != 0) {
            WaitForLockBit(waits, sleep);
            continue;
        }
        if (read == 1) {
            if (lockWord.compare_exchange_weak(read, LockBit | 1, std::memory_order_acquire,
                                               std::memory_order_relaxed)) {
                onOneToTwo();
                Unlock(word, 2);
                return;
            }
            continue;
        }
        if (lockWord.compare_exchange_weak(read, read + 1, std::memory_order_acq_rel,
                                           std::memory_order_relaxed)) {
            return;
        }
    }
}

// One holder less; returns the new count. onTwoToOne runs under the lock bit
// when the count goes from 2 to 1.
template <typename OnTwoToOne, typename Sleep>
std::uint32_t DropHolder(std::uint32_t& word, OnTwoToOne onTwoToOne, Sleep sleep) {
    std::atomic_ref<std::uint32_t> lockWord(word);
    std::uint32_t waits = 0;
    for (;;) {
        std::uint32_t read = lockWord.load(std::memory_order_relaxed);
        if ((read & LockBit) != 0) {
            WaitForLockBit(waits, sleep);
            continue;
        }
        if (read == 2) {
            if (lockWord.compare_exchange_weak(read, LockBit | 2, std::memory_order_acquire,
                                               std::memory_order_relaxed)) {
                onTwoToOne();
                Unlock(word, 1);
                return 1;
            }
            continue;
        }
        if (lockWord.compare_exchange_weak(read, read - 1, std::memory_order_acq_rel,
                                           std::memory_order_relaxed)) {
            return read - 1;
        }
    }
}

} // namespace quorvane::lockword
