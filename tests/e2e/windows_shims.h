// What the simulated game process offers the DLL in place of KERNEL32.dll and
// msvcrt.dll: one table of shims per library, looked up by name, and the
// control through which a test owns time, sleeps and threads. Sleep never
// waits: it advances a virtual clock and records the request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace e2e {

struct Shim {
    const char* name;
    const void* address; // a function, or data for data imports
};

struct ShimLibrary {
    const char* name;
    const Shim* shims;
    std::size_t count;
};

// The address that stands for library!name, or null when we do not offer it.
// Library names compare without regard to case, as on Windows.
const void* FindShim(const std::string& library, const std::string& name);

enum class ThreadCreation {
    RunAtOnce, // a real thread with a thread block of its own starts at once
    Defer,     // recorded; RunDeferredThread runs it when the test says so
    Fail,      // CreateThread gives no thread
};

struct WindowsControl {
    ThreadCreation threadCreation = ThreadCreation::RunAtOnce;

    // Virtual time: milliseconds since 1970 UTC. time() reads its seconds;
    // localtime reads it as UTC, or fails.
    std::int64_t clockMilliseconds = 0;
    bool failLocalTime = false;

    // Every Sleep request, in order, and a hook run at each one (on the
    // sleeping thread) so the test can change the world between polls.
    std::vector<std::uint32_t> sleeps;
    std::function<void(std::uint32_t milliseconds)> onSleep;

    std::vector<std::string> debugOutput; // OutputDebugStringA

    std::recursive_mutex mutex; // guards the fields above against the DLL's threads
};

WindowsControl& Windows();

// Back to the defaults; joins every thread that the DLL started and forgets
// the deferred ones.
void ResetWindows();

// Threads that the DLL asked for through CreateThread or _beginthreadex.
std::size_t StartedThreadCount();
// Runs a deferred thread on a real thread of its own and returns its exit code.
unsigned long RunDeferredThread(std::size_t index);
// Waits until a thread that runs at once has ended; returns its exit code.
unsigned long JoinStartedThread(std::size_t index);
void JoinAllStartedThreads();

// Calls into the DLL from a thread that the DLL did not start (the script
// VM's threads): the thread gets its block and the DLL its attach notice.
void EnterDllThread();
void LeaveDllThread();

} // namespace e2e
