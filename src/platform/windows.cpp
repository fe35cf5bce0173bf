#include "platform/platform.h"

#include <windows.h>

#include <cstdlib>
#include <share.h>

namespace quorvane::platform {

bool StartThread(ThreadRoutine routine) {
    DWORD threadId = 0;
    HANDLE thread = CreateThread(nullptr, 0, routine, nullptr, 0, &threadId);
    if (thread == nullptr) {
        return false;
    }
    // Nobody waits for the thread; keeping the handle would only leak it.
    CloseHandle(thread);
    return true;
}

void Sleep(std::uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

std::FILE* OpenForReading(const char* name) {
    return _fsopen(name, "rb", _SH_DENYNO);
}

std::FILE* OpenForAppending(const char* name) {
    return _fsopen(name, "ab", _SH_DENYNO);
}

bool CurrentLocalTime(std::tm* out) {
    std::time_t now = std::time(nullptr);
    // The runtime keeps localtime's result per thread.
    const std::tm* local = std::localtime(&now);
    if (local == nullptr) {
        return false;
    }
    *out = *local;
    return true;
}

void* AllocateZeroed(std::size_t size) {
    return std::calloc(1, size);
}

void Free(void* block) {
    std::free(block);
}

} // namespace quorvane::platform
