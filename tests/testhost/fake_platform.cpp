#include "platform_control.h"

#include <cstdlib>
#include <sched.h>

namespace testhost {

namespace {
PlatformControl* control = new PlatformControl; // never destroyed: threads may outlive main
} // namespace

PlatformControl& Platform() {
    return *control;
}

void ResetPlatform() {
    std::lock_guard<std::mutex> lock(control->mutex);
    control->failThreadCreation = false;
    control->startedThreads.clear();
    control->sleeps.clear();
    control->onSleep = nullptr;
    control->clock = 0;
    control->failLocalTime = false;
    control->betweenLogOpens = nullptr;
    control->failAppendOpen = false;
    control->allocations = 0;
    control->frees = 0;
    control->failAllocationAt = 0;
}

unsigned long RunStartedThread(std::size_t index) {
    quorvane::platform::ThreadRoutine routine = control->startedThreads.at(index);
    return routine(nullptr);
}

} // namespace testhost

namespace quorvane::platform {
using testhost::Platform;

bool StartThread(ThreadRoutine routine) {
    std::lock_guard<std::mutex> lock(Platform().mutex);
    if (Platform().failThreadCreation) {
        return false;
    }
    Platform().startedThreads.push_back(routine);
    return true;
}

void Sleep(std::uint32_t milliseconds) {
    std::function<void(std::uint32_t)> hook;
    {
        std::lock_guard<std::mutex> lock(Platform().mutex);
        Platform().sleeps.push_back(milliseconds);
        hook = Platform().onSleep;
    }
    if (hook) {
        hook(milliseconds);
    }
    // Never waits; lets a spinning thread give way under emulation.
    sched_yield();
}

std::FILE* OpenForReading(const char* name) {
    return std::fopen(name, "rb");
}

std::FILE* OpenForAppending(const char* name) {
    if (Platform().betweenLogOpens) {
        Platform().betweenLogOpens();
    }
    if (Platform().failAppendOpen) {
        return nullptr;
    }
    return std::fopen(name, "ab");
}

bool CurrentLocalTime(std::tm* out) {
    if (Platform().failLocalTime) {
        return false;
    }
    std::time_t now = Platform().clock;
    return gmtime_r(&now, out) != nullptr;
}

void* AllocateZeroed(std::size_t size) {
    {
        std::lock_guard<std::mutex> lock(Platform().mutex);
        ++Platform().allocations;
        if (Platform().allocations == Platform().failAllocationAt) {
            return nullptr;
        }
    }
    return std::calloc(1, size);
}

void Free(void* block) {
    if (block != nullptr) {
        std::lock_guard<std::mutex> lock(Platform().mutex);
        ++Platform().frees;
    }
    std::free(block);
}

} // namespace quorvane::platform
