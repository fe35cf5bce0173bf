// The thread information block that Windows code finds through FS. A Linux
// process has no such segment, so each thread that runs the DLL's code gets a
// block of its own: an LDT entry made with modify_ldt, its selector loaded
// into FS before the first instruction of the DLL runs on that thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace e2e {

inline constexpr std::size_t TlsSlotCount = 64;
inline constexpr std::size_t TlsExpansionSlotCount = 1024;
inline constexpr std::size_t ModuleTlsCount = 16;

// The 32-bit layout, at the offsets Windows code reads. Fields that nothing
// here uses stay zero.
struct ThreadInformationBlock {
    std::uint32_t exceptionList;   // 0x00: end of the chain (0xFFFFFFFF)
    std::uint32_t stackBase;       // 0x04: top of the stack
    std::uint32_t stackLimit;      // 0x08: lowest usable address
    std::uint8_t unused0C[0x0C];   // 0x0C
    std::uint32_t self;            // 0x18: linear address of this block
    std::uint32_t environment;     // 0x1C
    std::uint32_t processId;       // 0x20
    std::uint32_t threadId;        // 0x24
    std::uint32_t activeRpcHandle; // 0x28
    std::uint32_t tlsPointer;      // 0x2C: the static TLS array below
    std::uint32_t peb;             // 0x30: a zeroed process block
    std::uint32_t lastError;       // 0x34
    std::uint8_t unused38[0xE10 - 0x38];
    std::uint32_t tlsSlots[TlsSlotCount]; // 0xE10: TlsAlloc's slots
    std::uint8_t unusedF10[0x1000 - 0xF10];

    // Not part of the Windows layout: the loader's own per-thread records,
    // beyond the page that Windows code reads.
    void* moduleTls[ModuleTlsCount];                   // static TLS blocks, indexed by module
    std::uint32_t tlsExpansion[TlsExpansionSlotCount]; // TlsAlloc's slots past the first 64
    unsigned ldtEntry;
    void* kernelThread; // the thread's kernel object (kernel32_shims.cpp)
};
static_assert(offsetof(ThreadInformationBlock, stackBase) == 0x04);
static_assert(offsetof(ThreadInformationBlock, self) == 0x18);
static_assert(offsetof(ThreadInformationBlock, threadId) == 0x24);
static_assert(offsetof(ThreadInformationBlock, tlsPointer) == 0x2C);
static_assert(offsetof(ThreadInformationBlock, lastError) == 0x34);
static_assert(offsetof(ThreadInformationBlock, tlsSlots) == 0xE10);
static_assert(offsetof(ThreadInformationBlock, moduleTls) == 0x1000);

// The calling thread's block, made and loaded into FS on first use. The
// block lives until DetachThreadBlock.
ThreadInformationBlock* AttachThreadBlock();

// A thread id that no block has had yet.
std::uint32_t NewThreadId();

// The calling thread's block, or null when it has none.
ThreadInformationBlock* CurrentThreadBlock();

// Frees the calling thread's block and LDT entry; FS becomes null.
void DetachThreadBlock();

// What FS holds on the calling thread (for tests of this module).
std::uint16_t CurrentFsSelector();

// Reads the 32-bit word at offset of the FS segment, as Windows code does.
std::uint32_t ReadFsWord(std::uint32_t offset);

} // namespace e2e
