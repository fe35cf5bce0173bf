// KERNEL32.dll as the DLL's runtime uses it: kernel objects (events,
// semaphores, threads) behind handles, critical sections on pthread mutexes,
// TLS slots in the thread block, and time and sleeps on the virtual clock.
#include "dll_loader.h"
#include "shim_support.h"
#include "thread_block.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <strings.h>

namespace e2e {
namespace {

using BOOL = std::int32_t;
using DWORD = std::uint32_t;
using HANDLE = void*;
using WideChar = std::uint16_t;
using ThreadRoutine = DWORD(__attribute__((stdcall)) *)(void* parameter);

constexpr BOOL True = 1;
constexpr BOOL False = 0;
constexpr DWORD Infinite = 0xFFFFFFFF;
constexpr DWORD WaitObject0 = 0;
constexpr DWORD WaitTimeout = 0x102;
constexpr DWORD WaitFailed = 0xFFFFFFFF;
constexpr DWORD StillActive = 259;
constexpr DWORD CreateSuspended = 0x4;
constexpr DWORD DuplicateCloseSource = 0x1;
constexpr DWORD TlsOutOfIndexes = 0xFFFFFFFF;

constexpr DWORD ErrorNotEnoughMemory = 8;
constexpr DWORD ErrorInvalidHandle = 6;
constexpr DWORD ErrorInvalidParameter = 87;
constexpr DWORD ErrorInsufficientBuffer = 122;
constexpr DWORD ErrorModNotFound = 126;
constexpr DWORD ErrorProcNotFound = 127;
constexpr DWORD ErrorTooManyPosts = 298;
constexpr DWORD ErrorMessageNotFound = 317;

const auto CurrentProcessHandle = reinterpret_cast<HANDLE>(-1);
const auto CurrentThreadHandle = reinterpret_cast<HANDLE>(-2);

// --- kernel objects ----------------------------------------------------------

struct KernelObject {
    enum class Kind { Event, Semaphore, Thread } kind;
    bool signalled = false;
    bool manualReset = false;
    long count = 0;
    long maximum = 0;

    ThreadRoutine routine = nullptr;
    void* parameter = nullptr;
    std::uint32_t threadId = 0;
    DWORD exitCode = StillActive;
    bool deferred = false; // waits for the test (or ResumeThread) to start it
    bool started = false;  // a real thread runs or ran it
    bool finished = false;
    bool joined = false;
    pthread_t thread{};
};
using ObjectPtr = std::shared_ptr<KernelObject>;

// One lock and one condition for every kernel object: waits are few and
// short, and a single condition cannot miss a wake-up between objects.
std::mutex kernelMutex;
std::condition_variable kernelChanged;
std::map<std::uintptr_t, ObjectPtr> handles;
std::uintptr_t nextHandle = 0x100;
std::vector<ObjectPtr> startedThreads;

HANDLE NewHandleLocked(ObjectPtr object) {
    std::uintptr_t value = nextHandle;
    nextHandle += 4;
    handles[value] = std::move(object);
    return reinterpret_cast<HANDLE>(value);
}

// The kernel object of the calling thread; threads that the DLL did not
// start get one on first use.
ObjectPtr CurrentThreadObject() {
    ThreadInformationBlock* block = AttachThreadBlock();
    if (block->kernelThread == nullptr) {
        auto object = std::make_shared<KernelObject>();
        object->kind = KernelObject::Kind::Thread;
        object->threadId = block->threadId;
        object->started = true;
        block->kernelThread = new ObjectPtr(object);
    }
    return *static_cast<ObjectPtr*>(block->kernelThread);
}

void ReleaseCurrentThreadObject() {
    ThreadInformationBlock* block = CurrentThreadBlock();
    if (block != nullptr && block->kernelThread != nullptr) {
        delete static_cast<ObjectPtr*>(block->kernelThread);
        block->kernelThread = nullptr;
    }
}

ObjectPtr Lookup(HANDLE handle) {
    if (handle == CurrentThreadHandle) {
        return CurrentThreadObject();
    }
    std::lock_guard<std::mutex> lock(kernelMutex);
    auto found = handles.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == handles.end() ? nullptr : found->second;
}

bool IsSignalled(const KernelObject& object) {
    switch (object.kind) {
    case KernelObject::Kind::Event:
        return object.signalled;
    case KernelObject::Kind::Semaphore:
        return object.count > 0;
    case KernelObject::Kind::Thread:
        return object.finished;
    }
    return false;
}

void Consume(KernelObject& object) {
    if (object.kind == KernelObject::Kind::Event && !object.manualReset) {
        object.signalled = false;
    } else if (object.kind == KernelObject::Kind::Semaphore) {
        --object.count;
    }
}

// A timed wait that would have to wait: virtual time passes instead.
void PassTime(DWORD milliseconds) {
    std::lock_guard<std::recursive_mutex> lock(Windows().mutex);
    Windows().clockMilliseconds += milliseconds;
}

// --- threads -----------------------------------------------------------------

void RunOnThisThread(const ObjectPtr& object) {
    ThreadInformationBlock* block = AttachThreadBlock();
    block->threadId = object->threadId;
    block->kernelThread = new ObjectPtr(object);
    NotifyThreadAttach();
    DWORD exitCode = object->routine(object->parameter);
    NotifyThreadDetach();
    {
        std::lock_guard<std::mutex> lock(kernelMutex);
        object->exitCode = exitCode;
        object->finished = true;
    }
    kernelChanged.notify_all();
    ReleaseCurrentThreadObject();
    DetachThreadBlock();
}

void* ThreadMain(void* argument) {
    std::unique_ptr<ObjectPtr> object(static_cast<ObjectPtr*>(argument));
    RunOnThisThread(*object);
    return nullptr;
}

// Called with kernelMutex held.
void StartRealThreadLocked(const ObjectPtr& object) {
    object->deferred = false;
    object->started = true;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 1 << 20); // the Windows default
    if (pthread_create(&object->thread, &attributes, ThreadMain, new ObjectPtr(object)) != 0) {
        std::fprintf(stderr, "e2e loader: pthread_create failed\n");
        std::abort();
    }
    pthread_attr_destroy(&attributes);
}

void JoinLocked(std::unique_lock<std::mutex>& lock, const ObjectPtr& object) {
    if (!object->started || object->joined) {
        return;
    }
    object->joined = true;
    pthread_t thread = object->thread;
    lock.unlock();
    pthread_join(thread, nullptr);
    lock.lock();
}

HANDLE StartThread(ThreadRoutine routine, void* parameter, DWORD flags, DWORD* threadId) {
    ThreadCreation mode;
    {
        std::lock_guard<std::recursive_mutex> lock(Windows().mutex);
        mode = Windows().threadCreation;
    }
    if (mode == ThreadCreation::Fail || routine == nullptr) {
        SetThreadError(routine == nullptr ? ErrorInvalidParameter : ErrorNotEnoughMemory);
        return nullptr;
    }
    auto object = std::make_shared<KernelObject>();
    object->kind = KernelObject::Kind::Thread;
    object->routine = routine;
    object->parameter = parameter;
    object->threadId = NewThreadId();
    if (threadId != nullptr) {
        *threadId = object->threadId;
    }
    std::lock_guard<std::mutex> lock(kernelMutex);
    startedThreads.push_back(object);
    HANDLE handle = NewHandleLocked(object);
    if (mode == ThreadCreation::RunAtOnce && (flags & CreateSuspended) == 0) {
        StartRealThreadLocked(object);
    } else {
        object->deferred = true;
    }
    return handle;
}

// --- the shims ---------------------------------------------------------------

struct VectoredHandler {
    std::uint32_t first;
    void* handler;
};
std::vector<std::unique_ptr<VectoredHandler>> vectoredHandlers;

QV_WINAPI void* AddVectoredExceptionHandler(std::uint32_t first, void* handler) {
    std::lock_guard<std::mutex> lock(kernelMutex);
    vectoredHandlers.push_back(std::make_unique<VectoredHandler>(VectoredHandler{first, handler}));
    return vectoredHandlers.back().get();
}

QV_WINAPI std::uint32_t RemoveVectoredExceptionHandler(void* token) {
    std::lock_guard<std::mutex> lock(kernelMutex);
    for (auto it = vectoredHandlers.begin(); it != vectoredHandlers.end(); ++it) {
        if (it->get() == token) {
            vectoredHandlers.erase(it);
            return 1;
        }
    }
    return 0;
}

QV_WINAPI BOOL CloseHandle(HANDLE handle) {
    if (handle == CurrentThreadHandle || handle == CurrentProcessHandle) {
        return True;
    }
    std::lock_guard<std::mutex> lock(kernelMutex);
    if (handles.erase(reinterpret_cast<std::uintptr_t>(handle)) == 0) {
        SetThreadError(ErrorInvalidHandle);
        return False;
    }
    return True;
}

QV_WINAPI HANDLE CreateEventA(void*, BOOL manualReset, BOOL initialState, const char*) {
    auto object = std::make_shared<KernelObject>();
    object->kind = KernelObject::Kind::Event;
    object->manualReset = manualReset != 0;
    object->signalled = initialState != 0;
    std::lock_guard<std::mutex> lock(kernelMutex);
    return NewHandleLocked(object);
}

QV_WINAPI HANDLE CreateSemaphoreA(void*, long initialCount, long maximumCount, const char*) {
    if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount) {
        SetThreadError(ErrorInvalidParameter);
        return nullptr;
    }
    auto object = std::make_shared<KernelObject>();
    object->kind = KernelObject::Kind::Semaphore;
    object->count = initialCount;
    object->maximum = maximumCount;
    std::lock_guard<std::mutex> lock(kernelMutex);
    return NewHandleLocked(object);
}

QV_WINAPI HANDLE CreateThread(void*, std::size_t, ThreadRoutine routine, void* parameter,
                              DWORD flags, DWORD* threadId) {
    return StartThread(routine, parameter, flags, threadId);
}

static_assert(sizeof(pthread_mutex_t) == 24, "CRITICAL_SECTION is 24 bytes");

QV_WINAPI void InitializeCriticalSection(void* section) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(static_cast<pthread_mutex_t*>(section), &attributes);
    pthread_mutexattr_destroy(&attributes);
}
QV_WINAPI void DeleteCriticalSection(void* section) {
    pthread_mutex_destroy(static_cast<pthread_mutex_t*>(section));
}
QV_WINAPI void EnterCriticalSection(void* section) {
    pthread_mutex_lock(static_cast<pthread_mutex_t*>(section));
}
QV_WINAPI void LeaveCriticalSection(void* section) {
    pthread_mutex_unlock(static_cast<pthread_mutex_t*>(section));
}
QV_WINAPI BOOL TryEnterCriticalSection(void* section) {
    return pthread_mutex_trylock(static_cast<pthread_mutex_t*>(section)) == 0 ? True : False;
}

QV_WINAPI BOOL DuplicateHandle(HANDLE, HANDLE source, HANDLE, HANDLE* target, DWORD, BOOL,
                               DWORD options) {
    ObjectPtr object = Lookup(source);
    if (object == nullptr || target == nullptr) {
        SetThreadError(ErrorInvalidHandle);
        return False;
    }
    {
        std::lock_guard<std::mutex> lock(kernelMutex);
        *target = NewHandleLocked(object);
    }
    if ((options & DuplicateCloseSource) != 0) {
        CloseHandle(source);
    }
    return True;
}

QV_WINAPI BOOL FreeLibrary(void*) {
    return True;
}
QV_WINAPI HANDLE GetCurrentProcess() {
    return CurrentProcessHandle;
}
QV_WINAPI DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(getpid());
}
QV_WINAPI HANDLE GetCurrentThread() {
    return CurrentThreadHandle;
}
QV_WINAPI DWORD GetCurrentThreadId() {
    return AttachThreadBlock()->threadId;
}

QV_WINAPI BOOL GetHandleInformation(HANDLE handle, DWORD* flags) {
    if (handle != CurrentProcessHandle && Lookup(handle) == nullptr) {
        SetThreadError(ErrorInvalidHandle);
        return False;
    }
    if (flags != nullptr) {
        *flags = 0;
    }
    return True;
}

QV_WINAPI DWORD GetLastError() {
    return AttachThreadBlock()->lastError;
}
QV_WINAPI void SetLastError(DWORD error) {
    SetThreadError(error);
}

// No module of ours is known by name: the runtime then keeps to its own
// static unwinder registration.
QV_WINAPI void* GetModuleHandleA(const char*) {
    SetThreadError(ErrorModNotFound);
    return nullptr;
}
QV_WINAPI void* GetModuleHandleW(const WideChar*) {
    SetThreadError(ErrorModNotFound);
    return nullptr;
}
QV_WINAPI void* LoadLibraryA(const char*) {
    SetThreadError(ErrorModNotFound);
    return nullptr;
}
QV_WINAPI void* LoadLibraryW(const WideChar*) {
    SetThreadError(ErrorModNotFound);
    return nullptr;
}

// No message tables here: callers fall back to their own text.
QV_WINAPI DWORD FormatMessageA(DWORD, const void*, DWORD, DWORD, char*, DWORD, void*) {
    SetThreadError(ErrorMessageNotFound);
    return 0;
}
// Only FormatMessageA hands out local memory, and it never does here.
QV_WINAPI void* LocalFree(void* block) {
    if (block != nullptr) {
        ReportUnimplemented("KERNEL32.dll", "LocalFree (of memory this process never gave)");
    }
    return nullptr;
}

QV_WINAPI void* GetProcAddress(void*, const char*) {
    SetThreadError(ErrorProcNotFound);
    return nullptr;
}

QV_WINAPI BOOL GetProcessAffinityMask(HANDLE, std::uintptr_t* process, std::uintptr_t* system) {
    if (process != nullptr) {
        *process = 1;
    }
    if (system != nullptr) {
        *system = 1;
    }
    return True;
}
QV_WINAPI BOOL SetProcessAffinityMask(HANDLE, std::uintptr_t) {
    return True;
}

QV_WINAPI void GetSystemTimeAsFileTime(std::uint32_t* fileTime) {
    std::int64_t milliseconds;
    {
        std::lock_guard<std::recursive_mutex> lock(Windows().mutex);
        milliseconds = Windows().clockMilliseconds;
    }
    // 100-nanosecond units since 1601.
    std::uint64_t value = static_cast<std::uint64_t>(milliseconds) * 10000 + 116444736000000000ull;
    fileTime[0] = static_cast<std::uint32_t>(value);
    fileTime[1] = static_cast<std::uint32_t>(value >> 32);
}

QV_WINAPI std::uint64_t GetTickCount64() {
    std::lock_guard<std::recursive_mutex> lock(Windows().mutex);
    return static_cast<std::uint64_t>(Windows().clockMilliseconds);
}

QV_WINAPI int GetThreadPriority(HANDLE) {
    return 0; // normal
}
QV_WINAPI BOOL SetThreadPriority(HANDLE, int) {
    return True;
}

QV_WINAPI BOOL IsDBCSLeadByteEx(std::uint32_t, std::uint8_t) {
    return False;
}
QV_WINAPI BOOL IsDebuggerPresent() {
    return False;
}

// Code page conversions for the byte range: each byte is the code unit of
// the same value (Latin-1), which is all the plugin's ASCII texts need.
QV_WINAPI int MultiByteToWideChar(std::uint32_t, DWORD, const char* source, int sourceLength,
                                  WideChar* target, int targetLength) {
    if (source == nullptr || sourceLength == 0 || targetLength < 0) {
        SetThreadError(ErrorInvalidParameter);
        return 0;
    }
    int length = sourceLength < 0 ? static_cast<int>(std::strlen(source)) + 1 : sourceLength;
    if (targetLength == 0) {
        return length;
    }
    if (targetLength < length) {
        SetThreadError(ErrorInsufficientBuffer);
        return 0;
    }
    for (int i = 0; i < length; ++i) {
        target[i] = static_cast<std::uint8_t>(source[i]);
    }
    return length;
}

QV_WINAPI int WideCharToMultiByte(std::uint32_t, DWORD, const WideChar* source, int sourceLength,
                                  char* target, int targetLength, const char* defaultChar,
                                  BOOL* usedDefault) {
    if (source == nullptr || sourceLength == 0 || targetLength < 0) {
        SetThreadError(ErrorInvalidParameter);
        return 0;
    }
    int length = sourceLength;
    if (length < 0) {
        length = 1;
        while (source[length - 1] != 0) {
            ++length;
        }
    }
    if (targetLength == 0) {
        return length;
    }
    if (targetLength < length) {
        SetThreadError(ErrorInsufficientBuffer);
        return 0;
    }
    for (int i = 0; i < length; ++i) {
        if (source[i] > 0xFF) {
            target[i] = defaultChar != nullptr ? *defaultChar : '?';
            if (usedDefault != nullptr) {
                *usedDefault = True;
            }
        } else {
            target[i] = static_cast<char>(source[i]);
        }
    }
    return length;
}

QV_WINAPI void OutputDebugStringA(const char* text) {
    std::lock_guard<std::recursive_mutex> lock(Windows().mutex);
    Windows().debugOutput.emplace_back(text != nullptr ? text : "");
}

QV_WINAPI BOOL SetEvent(HANDLE handle) {
    ObjectPtr object = Lookup(handle);
    if (object == nullptr || object->kind != KernelObject::Kind::Event) {
        SetThreadError(ErrorInvalidHandle);
        return False;
    }
    {
        std::lock_guard<std::mutex> lock(kernelMutex);
        object->signalled = true;
    }
    kernelChanged.notify_all();
    return True;
}

QV_WINAPI BOOL ResetEvent(HANDLE handle) {
    ObjectPtr object = Lookup(handle);
    if (object == nullptr || object->kind != KernelObject::Kind::Event) {
        SetThreadError(ErrorInvalidHandle);
        return False;
    }
    std::lock_guard<std::mutex> lock(kernelMutex);
    object->signalled = false;
    return True;
}

QV_WINAPI BOOL ReleaseSemaphore(HANDLE handle, long releaseCount, long* previousCount) {
    ObjectPtr object = Lookup(handle);
    if (object == nullptr || object->kind != KernelObject::Kind::Semaphore) {
        SetThreadError(ErrorInvalidHandle);
        return False;
    }
    {
        std::lock_guard<std::mutex> lock(kernelMutex);
        if (releaseCount <= 0 || object->count > object->maximum - releaseCount) {
            SetThreadError(releaseCount <= 0 ? ErrorInvalidParameter : ErrorTooManyPosts);
            return False;
        }
        if (previousCount != nullptr) {
            *previousCount = object->count;
        }
        object->count += releaseCount;
    }
    kernelChanged.notify_all();
    return True;
}

QV_WINAPI DWORD ResumeThread(HANDLE handle) {
    ObjectPtr object = Lookup(handle);
    if (object == nullptr || object->kind != KernelObject::Kind::Thread) {
        SetThreadError(ErrorInvalidHandle);
        return 0xFFFFFFFF;
    }
    std::lock_guard<std::mutex> lock(kernelMutex);
    if (!object->deferred) {
        return 0;
    }
    StartRealThreadLocked(object);
    return 1;
}

QV_WINAPI void Sleep(DWORD milliseconds) {
    std::function<void(std::uint32_t)> hook;
    {
        std::lock_guard<std::recursive_mutex> lock(Windows().mutex);
        Windows().sleeps.push_back(milliseconds);
        Windows().clockMilliseconds += milliseconds;
        hook = Windows().onSleep;
    }
    if (hook) {
        hook(milliseconds);
    }
    sched_yield(); // lets other emulated threads run; never waits
}

std::mutex tlsMutex;
bool tlsUsed[TlsSlotCount + TlsExpansionSlotCount];

QV_WINAPI DWORD TlsAlloc() {
    std::lock_guard<std::mutex> lock(tlsMutex);
    for (DWORD index = 0; index < TlsSlotCount + TlsExpansionSlotCount; ++index) {
        if (!tlsUsed[index]) {
            tlsUsed[index] = true;
            return index;
        }
    }
    SetThreadError(ErrorNotEnoughMemory);
    return TlsOutOfIndexes;
}

std::uint32_t* TlsSlot(DWORD index) {
    ThreadInformationBlock* block = AttachThreadBlock();
    if (index < TlsSlotCount) {
        return &block->tlsSlots[index];
    }
    if (index < TlsSlotCount + TlsExpansionSlotCount) {
        return &block->tlsExpansion[index - TlsSlotCount];
    }
    return nullptr;
}

QV_WINAPI void* TlsGetValue(DWORD index) {
    std::uint32_t* slot = TlsSlot(index);
    if (slot == nullptr) {
        SetThreadError(ErrorInvalidParameter);
        return nullptr;
    }
    SetThreadError(0); // callers tell a stored null from a failure by this
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(*slot));
}

QV_WINAPI BOOL TlsSetValue(DWORD index, void* value) {
    std::uint32_t* slot = TlsSlot(index);
    if (slot == nullptr) {
        SetThreadError(ErrorInvalidParameter);
        return False;
    }
    *slot = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(value));
    return True;
}

// The whole image and every other mapping is readable, writable and
// executable here, so protection changes have nothing to do.
constexpr DWORD PageExecuteReadWrite = 0x40;
constexpr DWORD MemCommit = 0x1000;
constexpr DWORD MemImage = 0x1000000;

QV_WINAPI BOOL VirtualProtect(void*, std::size_t, DWORD, DWORD* oldProtection) {
    if (oldProtection == nullptr) {
        SetThreadError(ErrorInvalidParameter);
        return False;
    }
    *oldProtection = PageExecuteReadWrite;
    return True;
}

struct MemoryBasicInformation {
    std::uint32_t baseAddress;
    std::uint32_t allocationBase;
    DWORD allocationProtect;
    std::uint32_t regionSize;
    DWORD state;
    DWORD protect;
    DWORD type;
};
static_assert(sizeof(MemoryBasicInformation) == 28);

QV_WINAPI std::size_t VirtualQuery(const void* address, MemoryBasicInformation* information,
                                   std::size_t length) {
    if (information == nullptr || length < sizeof(MemoryBasicInformation)) {
        SetThreadError(ErrorInsufficientBuffer);
        return 0;
    }
    auto page = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address)) & ~0xFFFu;
    *information = MemoryBasicInformation{
        page, page, PageExecuteReadWrite, 0x1000, MemCommit, PageExecuteReadWrite, MemImage};
    return sizeof(MemoryBasicInformation);
}

DWORD WaitFor(const std::vector<ObjectPtr>& objects, bool all, DWORD milliseconds) {
    std::unique_lock<std::mutex> lock(kernelMutex);
    for (;;) {
        std::size_t ready = objects.size();
        bool allReady = true;
        for (std::size_t i = 0; i < objects.size(); ++i) {
            if (IsSignalled(*objects[i])) {
                ready = std::min(ready, i);
            } else {
                allReady = false;
            }
        }
        if (all && allReady) {
            for (const ObjectPtr& object : objects) {
                Consume(*object);
            }
            return WaitObject0;
        }
        if (!all && ready < objects.size()) {
            Consume(*objects[ready]);
            return WaitObject0 + static_cast<DWORD>(ready);
        }
        if (milliseconds != Infinite) {
            lock.unlock();
            PassTime(milliseconds);
            return WaitTimeout;
        }
        for (const ObjectPtr& object : objects) {
            if (object->kind == KernelObject::Kind::Thread && object->deferred) {
                // The test holds this thread back: the wait would never end.
                std::fprintf(stderr, "e2e loader: the DLL waits without end for a thread "
                                     "that the test has deferred\n");
                std::abort();
            }
        }
        kernelChanged.wait(lock);
    }
}

QV_WINAPI DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    ObjectPtr object = Lookup(handle);
    if (object == nullptr) {
        SetThreadError(ErrorInvalidHandle);
        return WaitFailed;
    }
    return WaitFor({object}, false, milliseconds);
}

QV_WINAPI DWORD WaitForMultipleObjects(DWORD count, const HANDLE* list, BOOL waitAll,
                                       DWORD milliseconds) {
    if (count == 0 || count > 64 || list == nullptr) {
        SetThreadError(ErrorInvalidParameter);
        return WaitFailed;
    }
    std::vector<ObjectPtr> objects;
    for (DWORD i = 0; i < count; ++i) {
        objects.push_back(Lookup(list[i]));
        if (objects.back() == nullptr) {
            SetThreadError(ErrorInvalidHandle);
            return WaitFailed;
        }
    }
    return WaitFor(objects, waitAll != 0, milliseconds);
}

// Imported by the runtime for paths this process never takes (thread
// suspension for debugging, raising structured exceptions).
[[noreturn]] void GetThreadContext() {
    ReportUnimplemented("KERNEL32.dll", "GetThreadContext");
}
[[noreturn]] void SetThreadContext() {
    ReportUnimplemented("KERNEL32.dll", "SetThreadContext");
}
[[noreturn]] void SuspendThread() {
    ReportUnimplemented("KERNEL32.dll", "SuspendThread");
}
[[noreturn]] void OpenProcess() {
    ReportUnimplemented("KERNEL32.dll", "OpenProcess");
}
[[noreturn]] void RaiseException() {
    ReportUnimplemented("KERNEL32.dll", "RaiseException");
}

#define QV_SHIM(name)                                                                              \
    Shim {                                                                                         \
#name, reinterpret_cast < const void*>(&name)                                              \
    }
const Shim kernel32Shims[] = {
    QV_SHIM(AddVectoredExceptionHandler),
    QV_SHIM(CloseHandle),
    QV_SHIM(CreateEventA),
    QV_SHIM(CreateSemaphoreA),
    QV_SHIM(CreateThread),
    QV_SHIM(DeleteCriticalSection),
    QV_SHIM(DuplicateHandle),
    QV_SHIM(EnterCriticalSection),
    QV_SHIM(FormatMessageA),
    QV_SHIM(FreeLibrary),
    QV_SHIM(GetCurrentProcess),
    QV_SHIM(GetCurrentProcessId),
    QV_SHIM(GetCurrentThread),
    QV_SHIM(GetCurrentThreadId),
    QV_SHIM(GetHandleInformation),
    QV_SHIM(GetLastError),
    QV_SHIM(GetModuleHandleA),
    QV_SHIM(GetModuleHandleW),
    QV_SHIM(GetProcAddress),
    QV_SHIM(GetProcessAffinityMask),
    QV_SHIM(GetSystemTimeAsFileTime),
    QV_SHIM(GetThreadContext),
    QV_SHIM(GetThreadPriority),
    QV_SHIM(GetTickCount64),
    QV_SHIM(InitializeCriticalSection),
    QV_SHIM(IsDBCSLeadByteEx),
    QV_SHIM(IsDebuggerPresent),
    QV_SHIM(LeaveCriticalSection),
    QV_SHIM(LoadLibraryA),
    QV_SHIM(LoadLibraryW),
    QV_SHIM(LocalFree),
    QV_SHIM(MultiByteToWideChar),
    QV_SHIM(OpenProcess),
    QV_SHIM(OutputDebugStringA),
    QV_SHIM(RaiseException),
    QV_SHIM(ReleaseSemaphore),
    QV_SHIM(RemoveVectoredExceptionHandler),
    QV_SHIM(ResetEvent),
    QV_SHIM(ResumeThread),
    QV_SHIM(SetEvent),
    QV_SHIM(SetLastError),
    QV_SHIM(SetProcessAffinityMask),
    QV_SHIM(SetThreadContext),
    QV_SHIM(SetThreadPriority),
    QV_SHIM(Sleep),
    QV_SHIM(SuspendThread),
    QV_SHIM(TlsAlloc),
    QV_SHIM(TlsGetValue),
    QV_SHIM(TlsSetValue),
    QV_SHIM(TryEnterCriticalSection),
    QV_SHIM(VirtualProtect),
    QV_SHIM(VirtualQuery),
    QV_SHIM(WaitForMultipleObjects),
    QV_SHIM(WaitForSingleObject),
    QV_SHIM(WideCharToMultiByte),
};
#undef QV_SHIM

} // namespace

const ShimLibrary Kernel32Library{"KERNEL32.dll", kernel32Shims, std::size(kernel32Shims)};

void* StartDllThread(void* routine, void* parameter, std::uint32_t flags, std::uint32_t* threadId) {
    return StartThread(reinterpret_cast<ThreadRoutine>(routine), parameter, flags, threadId);
}

void SetThreadError(std::uint32_t error) {
    AttachThreadBlock()->lastError = error;
}

[[noreturn]] void ReportUnimplemented(const char* library, const char* name) {
    std::fprintf(stderr,
                 "e2e loader: the DLL called %s!%s, which the simulated game does not "
                 "implement\n",
                 library, name);
    std::fflush(stderr);
    std::abort();
}

const void* FindShim(const std::string& library, const std::string& name) {
    for (const ShimLibrary* offered : {&Kernel32Library, &MsvcrtLibrary}) {
        if (strcasecmp(offered->name, library.c_str()) != 0) {
            continue;
        }
        for (std::size_t i = 0; i < offered->count; ++i) {
            if (name == offered->shims[i].name) {
                return offered->shims[i].address;
            }
        }
    }
    return nullptr;
}

WindowsControl& Windows() {
    static WindowsControl* control = new WindowsControl; // threads may outlive main
    return *control;
}

void ResetWindows() {
    JoinAllStartedThreads();
    {
        std::lock_guard<std::mutex> lock(kernelMutex);
        startedThreads.clear();
        handles.clear();
    }
    std::lock_guard<std::recursive_mutex> lock(Windows().mutex);
    Windows().threadCreation = ThreadCreation::RunAtOnce;
    Windows().clockMilliseconds = 0;
    Windows().failLocalTime = false;
    Windows().sleeps.clear();
    Windows().onSleep = nullptr;
    Windows().debugOutput.clear();
}

std::size_t StartedThreadCount() {
    std::lock_guard<std::mutex> lock(kernelMutex);
    return startedThreads.size();
}

unsigned long RunDeferredThread(std::size_t index) {
    std::unique_lock<std::mutex> lock(kernelMutex);
    ObjectPtr object = startedThreads.at(index);
    if (object->deferred) {
        StartRealThreadLocked(object);
    }
    JoinLocked(lock, object);
    return object->exitCode;
}

unsigned long JoinStartedThread(std::size_t index) {
    std::unique_lock<std::mutex> lock(kernelMutex);
    ObjectPtr object = startedThreads.at(index);
    JoinLocked(lock, object);
    return object->exitCode;
}

void JoinAllStartedThreads() {
    std::unique_lock<std::mutex> lock(kernelMutex);
    std::vector<ObjectPtr> threads = startedThreads;
    for (const ObjectPtr& object : threads) {
        JoinLocked(lock, object);
    }
}

void EnterDllThread() {
    bool fresh = CurrentThreadBlock() == nullptr;
    CurrentThreadObject();
    if (fresh) {
        NotifyThreadAttach();
    }
}

void LeaveDllThread() {
    NotifyThreadDetach();
    ReleaseCurrentThreadObject();
    DetachThreadBlock();
}

} // namespace e2e
