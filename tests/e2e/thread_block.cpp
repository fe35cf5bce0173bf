#include "thread_block.h"

#include <asm/ldt.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

namespace e2e {
namespace {

thread_local ThreadInformationBlock* current = nullptr;

// A zeroed process block for code that looks at it.
alignas(16) std::uint8_t processBlock[0x1000];

std::mutex entriesMutex;
std::vector<unsigned> freeEntries;
unsigned nextEntry = 1;
std::atomic<std::uint32_t> nextThreadId{0x1000};

unsigned TakeEntry() {
    std::lock_guard<std::mutex> lock(entriesMutex);
    if (!freeEntries.empty()) {
        unsigned entry = freeEntries.back();
        freeEntries.pop_back();
        return entry;
    }
    if (nextEntry >= LDT_ENTRIES) {
        std::fprintf(stderr, "e2e loader: out of LDT entries\n");
        std::abort();
    }
    return nextEntry++;
}

void LoadFs(std::uint16_t selector) {
    asm volatile("movw %w0, %%fs" : : "q"(selector) : "memory");
}

std::uint16_t Selector(unsigned entry) {
    return static_cast<std::uint16_t>((entry << 3) | 0x7); // LDT, privilege 3
}

void StackBounds(std::uint32_t* top, std::uint32_t* bottom) {
    pthread_attr_t attributes;
    void* address = nullptr;
    std::size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
        pthread_attr_getstack(&attributes, &address, &size);
        pthread_attr_destroy(&attributes);
    }
    *bottom = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address));
    *top = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address) + size);
}

} // namespace

ThreadInformationBlock* AttachThreadBlock() {
    if (current != nullptr) {
        return current;
    }
    void* storage = nullptr;
    if (posix_memalign(&storage, 0x1000, sizeof(ThreadInformationBlock)) != 0) {
        std::fprintf(stderr, "e2e loader: no memory for a thread block\n");
        std::abort();
    }
    auto* block = new (storage) ThreadInformationBlock{};
    auto address = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(block));
    block->exceptionList = 0xFFFFFFFFu;
    StackBounds(&block->stackBase, &block->stackLimit);
    block->self = address;
    block->processId = static_cast<std::uint32_t>(getpid());
    block->threadId = NewThreadId();
    block->tlsPointer =
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&block->moduleTls[0]));
    block->peb = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(processBlock));
    block->ldtEntry = TakeEntry();

    user_desc descriptor{};
    descriptor.entry_number = block->ldtEntry;
    descriptor.base_addr = address;
    descriptor.limit = 0xFFF; // one page, the part Windows code reads
    descriptor.seg_32bit = 1;
    descriptor.contents = MODIFY_LDT_CONTENTS_DATA;
    descriptor.useable = 1;
    if (syscall(SYS_modify_ldt, 1, &descriptor, sizeof descriptor) != 0) {
        std::perror("e2e loader: modify_ldt");
        std::abort();
    }
    LoadFs(Selector(block->ldtEntry));
    current = block;
    return block;
}

std::uint32_t NewThreadId() {
    return nextThreadId.fetch_add(4);
}

ThreadInformationBlock* CurrentThreadBlock() {
    return current;
}

void DetachThreadBlock() {
    ThreadInformationBlock* block = current;
    if (block == nullptr) {
        return;
    }
    LoadFs(0);
    user_desc empty{};
    empty.entry_number = block->ldtEntry;
    empty.read_exec_only = 1;
    empty.seg_not_present = 1;
    syscall(SYS_modify_ldt, 1, &empty, sizeof empty);
    {
        std::lock_guard<std::mutex> lock(entriesMutex);
        freeEntries.push_back(block->ldtEntry);
    }
    current = nullptr;
    block->~ThreadInformationBlock();
    std::free(block);
}

std::uint16_t CurrentFsSelector() {
    std::uint16_t selector = 0;
    asm volatile("movw %%fs, %w0" : "=q"(selector));
    return selector;
}

std::uint32_t ReadFsWord(std::uint32_t offset) {
    std::uint32_t value = 0;
    asm volatile("movl %%fs:(%1), %0" : "=r"(value) : "r"(offset) : "memory");
    return value;
}

} // namespace e2e
