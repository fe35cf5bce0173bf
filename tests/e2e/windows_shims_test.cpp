// The simulated process's own KERNEL32, called as the DLL calls it: through
// the shim table, stdcall.
#include "thread_block.h"
#include "windows_shims.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {
using e2e::Windows;

#define QV_STDCALL __attribute__((stdcall))
using Handle = void*;

template <typename Fn> Fn Kernel32(const char* name) {
    const void* shim = e2e::FindShim("kernel32.DLL", name); // names compare without case
    EXPECT_NE(shim, nullptr) << name;
    return reinterpret_cast<Fn>(const_cast<void*>(shim));
}

constexpr std::uint32_t WaitObject0 = 0;
constexpr std::uint32_t WaitTimeout = 0x102;

class Kernel32Shims : public testing::Test {
  protected:
    void SetUp() override {
        e2e::ResetWindows();
        e2e::AttachThreadBlock();
    }
    void TearDown() override { e2e::ResetWindows(); }

    Handle(QV_STDCALL* createEvent)(void*, int, int, const char*) =
        Kernel32<Handle(QV_STDCALL*)(void*, int, int, const char*)>("CreateEventA");
    std::uint32_t(QV_STDCALL* wait)(Handle, std::uint32_t) =
        Kernel32<std::uint32_t(QV_STDCALL*)(Handle, std::uint32_t)>("WaitForSingleObject");
    int(QV_STDCALL* setEvent)(Handle) = Kernel32<int(QV_STDCALL*)(Handle)>("SetEvent");
    std::uint32_t(QV_STDCALL* lastError)() = Kernel32<std::uint32_t(QV_STDCALL*)()>("GetLastError");
};

TEST_F(Kernel32Shims, EventsAutoResetOrStaySignalledAndTimedWaitsPassVirtualTime) {
    Handle automatic = createEvent(nullptr, 0, 1, nullptr);
    Handle manual = createEvent(nullptr, 1, 1, nullptr);
    Windows().clockMilliseconds = 1000;
    EXPECT_EQ(wait(automatic, 0), WaitObject0);
    EXPECT_EQ(wait(automatic, 250), WaitTimeout);
    EXPECT_EQ(Windows().clockMilliseconds, 1250);
    EXPECT_EQ(wait(manual, 0), WaitObject0);
    EXPECT_EQ(wait(manual, 0), WaitObject0);
    EXPECT_EQ(setEvent(automatic), 1);
    EXPECT_EQ(wait(automatic, 0xFFFFFFFF), WaitObject0);
    EXPECT_TRUE(Windows().sleeps.empty()) << "a wait is no sleep";
}

TEST_F(Kernel32Shims, SemaphoresKeepTheirMaximumAndReportMisuse) {
    auto create = Kernel32<Handle(QV_STDCALL*)(void*, long, long, const char*)>("CreateSemaphoreA");
    auto release = Kernel32<int(QV_STDCALL*)(Handle, long, long*)>("ReleaseSemaphore");
    auto close = Kernel32<int(QV_STDCALL*)(Handle)>("CloseHandle");
    Handle semaphore = create(nullptr, 0, 2, nullptr);
    ASSERT_NE(semaphore, nullptr);
    long previous = -1;
    EXPECT_EQ(release(semaphore, 2, &previous), 1);
    EXPECT_EQ(previous, 0);
    EXPECT_EQ(release(semaphore, 1, nullptr), 0);
    EXPECT_EQ(lastError(), 298u); // too many posts
    EXPECT_EQ(wait(semaphore, 0), WaitObject0);
    EXPECT_EQ(wait(semaphore, 0), WaitObject0);
    EXPECT_EQ(wait(semaphore, 0), WaitTimeout);
    EXPECT_EQ(close(semaphore), 1);
    EXPECT_EQ(close(semaphore), 0);
    EXPECT_EQ(lastError(), 6u); // invalid handle
    EXPECT_EQ(wait(semaphore, 0), 0xFFFFFFFFu);
}

std::uint32_t QV_STDCALL ThreadRoutine(void* parameter) {
    // The routine runs with a thread block of its own, whose id CreateThread gave.
    auto* seen = static_cast<std::uint32_t*>(parameter);
    seen[0] = e2e::ReadFsWord(0x24);
    seen[1] =
        e2e::ReadFsWord(0x18) ==
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(e2e::CurrentThreadBlock()));
    return 7;
}

TEST_F(Kernel32Shims, ThreadsRunAtOnceOrWaitForTheTestOrFail) {
    using CreateThread =
        Handle(QV_STDCALL*)(void*, std::size_t, void*, void*, std::uint32_t, std::uint32_t*);
    auto create = Kernel32<CreateThread>("CreateThread");
    std::uint32_t seen[2] = {};
    std::uint32_t id = 0;
    Handle thread = create(nullptr, 0, reinterpret_cast<void*>(&ThreadRoutine), seen, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(wait(thread, 0xFFFFFFFF), WaitObject0);
    EXPECT_EQ(seen[0], id);
    EXPECT_EQ(seen[1], 1u);

    Windows().threadCreation = e2e::ThreadCreation::Defer;
    std::uint32_t deferredSeen[2] = {};
    Handle deferred =
        create(nullptr, 0, reinterpret_cast<void*>(&ThreadRoutine), deferredSeen, 0, nullptr);
    EXPECT_EQ(wait(deferred, 0), WaitTimeout);
    EXPECT_EQ(e2e::RunDeferredThread(1), 7u);
    EXPECT_EQ(wait(deferred, 0), WaitObject0);

    Windows().threadCreation = e2e::ThreadCreation::Fail;
    EXPECT_EQ(create(nullptr, 0, reinterpret_cast<void*>(&ThreadRoutine), seen, 0, nullptr),
              nullptr);
    EXPECT_EQ(lastError(), 8u);
    EXPECT_EQ(e2e::StartedThreadCount(), 2u);
}

TEST_F(Kernel32Shims, TlsSlotsAreThreadsOwnAndReadsClearTheLastError) {
    auto alloc = Kernel32<std::uint32_t(QV_STDCALL*)()>("TlsAlloc");
    auto get = Kernel32<void*(QV_STDCALL*)(std::uint32_t)>("TlsGetValue");
    auto set = Kernel32<int(QV_STDCALL*)(std::uint32_t, void*)>("TlsSetValue");
    auto setLastError = Kernel32<void(QV_STDCALL*)(std::uint32_t)>("SetLastError");
    std::uint32_t index = alloc();
    ASSERT_NE(index, 0xFFFFFFFFu);
    int value = 0;
    EXPECT_EQ(set(index, &value), 1);
    setLastError(5);
    EXPECT_EQ(get(index), &value);
    EXPECT_EQ(lastError(), 0u);
    EXPECT_EQ(get(5000), nullptr);
    EXPECT_EQ(lastError(), 87u);
}

TEST_F(Kernel32Shims, SleepRecordsAdvancesTheClockAndNeverWaits) {
    auto sleep = Kernel32<void(QV_STDCALL*)(std::uint32_t)>("Sleep");
    std::vector<std::int64_t> clockAtHook;
    Windows().onSleep = [&](std::uint32_t) { clockAtHook.push_back(Windows().clockMilliseconds); };
    sleep(50);
    sleep(0);
    sleep(3600000);
    EXPECT_EQ(Windows().sleeps, (std::vector<std::uint32_t>{50, 0, 3600000}));
    EXPECT_EQ(clockAtHook, (std::vector<std::int64_t>{50, 50, 3600050}));
}

TEST(ShimTable, OffersNothingUnderOtherNames) {
    EXPECT_EQ(e2e::FindShim("KERNEL32.dll", "ExitProcess"), nullptr);
    EXPECT_EQ(e2e::FindShim("user32.dll", "Sleep"), nullptr);
    EXPECT_NE(e2e::FindShim("MSVCRT.DLL", "_iob"), nullptr);
}

} // namespace
