#include "dll_loader.h"

#include "shim_support.h"
#include "thread_block.h"
#include "windows_shims.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace e2e {
namespace {

using EntryPoint = std::int32_t(__attribute__((stdcall)) *)(void* instance, std::uint32_t reason,
                                                            void* reserved);
using TlsCallback = void(__attribute__((stdcall)) *)(void* instance, std::uint32_t reason,
                                                     void* reserved);

constexpr std::uint32_t ProcessDetach = 0;
constexpr std::uint32_t ProcessAttach = 1;
constexpr std::uint32_t ThreadAttach = 2;
constexpr std::uint32_t ThreadDetach = 3;

constexpr std::uint16_t RelocationAbsolute = 0;
constexpr std::uint16_t RelocationHighLow = 3;

// The loader lock: entry points run under it, as on Windows.
std::recursive_mutex loaderMutex;
std::vector<LoadedDll*> loaded;
bool moduleIndexUsed[ModuleTlsCount];

std::uint32_t Address(const void* pointer) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

std::uint32_t Word(const std::uint8_t* image, std::uint32_t offset) {
    std::uint32_t value;
    std::memcpy(&value, image + offset, sizeof value);
    return value;
}

// --- the image mapper --------------------------------------------------------

std::uint8_t* MapImage(const PeFile& file, Placement placement, std::string* error) {
    const int protection = PROT_READ | PROT_WRITE | PROT_EXEC;
    const int flags = MAP_PRIVATE | MAP_ANONYMOUS;
    void* at = MAP_FAILED;
    if (placement == Placement::PreferredBase) {
        at = mmap(reinterpret_cast<void*>(static_cast<std::uintptr_t>(file.imageBase)),
                  file.sizeOfImage, protection, flags | MAP_FIXED_NOREPLACE, -1, 0);
        if (at != MAP_FAILED && Address(at) != file.imageBase) { // an old kernel's hint
            munmap(at, file.sizeOfImage);
            at = MAP_FAILED;
        }
    }
    if (at == MAP_FAILED) {
        // Twice the size, then keep a part that does not overlap the image base.
        std::size_t span = std::size_t{file.sizeOfImage} * 2 + 0x10000;
        void* region = mmap(nullptr, span, protection, flags, -1, 0);
        if (region == MAP_FAILED) {
            *error = "no address range for the image";
            return nullptr;
        }
        std::uint32_t begin = Address(region);
        std::uint32_t chosen = begin;
        if (chosen + file.sizeOfImage > file.imageBase &&
            chosen < file.imageBase + file.sizeOfImage) {
            chosen = begin + file.sizeOfImage + 0x10000;
        }
        chosen = (chosen + 0xFFFF) & ~0xFFFFu; // Windows aligns images to 64 KiB
        if (chosen > begin) {
            munmap(region, chosen - begin);
        }
        std::uint32_t end = begin + static_cast<std::uint32_t>(span);
        if (chosen + file.sizeOfImage < end) {
            munmap(reinterpret_cast<void*>(static_cast<std::uintptr_t>(chosen + file.sizeOfImage)),
                   end - chosen - file.sizeOfImage);
        }
        at = reinterpret_cast<void*>(static_cast<std::uintptr_t>(chosen));
    }
    auto* image = static_cast<std::uint8_t*>(at);
    std::memcpy(image, file.bytes.data(),
                std::min<std::size_t>({file.sizeOfHeaders, file.bytes.size(), file.sizeOfImage}));
    for (const PeSection& section : file.sections) {
        std::memcpy(image + section.virtualAddress, file.bytes.data() + section.rawOffset,
                    section.rawSize);
    }
    return image;
}

bool ApplyRelocations(const PeFile& file, std::uint8_t* image, std::uint32_t delta,
                      std::string* error) {
    if (delta == 0) {
        return true;
    }
    const PeDirectory& directory = file.relocations;
    if (directory.rva == 0 || directory.size == 0) {
        *error = "the image has no relocations and cannot be moved from its base";
        return false;
    }
    std::uint64_t end = std::uint64_t{directory.rva} + directory.size;
    if (end > file.sizeOfImage) {
        *error = "the relocation table runs outside the image";
        return false;
    }
    for (std::uint32_t block = directory.rva; block + 8 <= end;) {
        std::uint32_t page = Word(image, block);
        std::uint32_t blockSize = Word(image, block + 4);
        if (blockSize < 8 || block + blockSize > end) {
            *error = "a relocation block is damaged";
            return false;
        }
        for (std::uint32_t entry = block + 8; entry + 2 <= block + blockSize; entry += 2) {
            std::uint16_t word;
            std::memcpy(&word, image + entry, sizeof word);
            auto type = static_cast<std::uint16_t>(word >> 12);
            std::uint64_t target = std::uint64_t{page} + (word & 0xFFFu);
            if (type == RelocationAbsolute) {
                continue;
            }
            if (type != RelocationHighLow) {
                *error = "relocation of type " + std::to_string(type) + " is not applied here";
                return false;
            }
            if (target + 4 > file.sizeOfImage) {
                *error = "a relocation points outside the image";
                return false;
            }
            std::uint32_t value = Word(image, static_cast<std::uint32_t>(target)) + delta;
            std::memcpy(image + target, &value, sizeof value);
        }
        block += blockSize;
    }
    return true;
}

// --- the import resolver -------------------------------------------------------

bool ResolveImports(const PeFile& file, std::uint8_t* image, std::string* error) {
    std::string missing;
    for (const PeImportedLibrary& library : file.imports) {
        for (const PeImport& function : library.functions) {
            const void* shim =
                function.name.empty() ? nullptr : FindShim(library.name, function.name);
            if (shim == nullptr) {
                missing += missing.empty() ? "" : ", ";
                missing += library.name + "!" +
                           (function.name.empty() ? "#" + std::to_string(function.ordinal)
                                                  : function.name);
                continue;
            }
            if (std::uint64_t{function.addressSlotRva} + 4 > file.sizeOfImage) {
                *error = "an import address slot lies outside the image";
                return false;
            }
            std::uint32_t address = Address(shim);
            std::memcpy(image + function.addressSlotRva, &address, sizeof address);
        }
    }
    if (!missing.empty()) {
        *error = "the DLL imports what the simulated game does not provide: " + missing;
        return false;
    }
    return true;
}

// --- static TLS and notices ----------------------------------------------------

bool PrepareTls(const PeFile& file, LoadedDll& dll, std::string* error) {
    if (file.tls.rva == 0) {
        return true;
    }
    if (std::uint64_t{file.tls.rva} + 24 > file.sizeOfImage) {
        *error = "the TLS directory lies outside the image";
        return false;
    }
    std::uint32_t base = Address(dll.base);
    auto inImage = [&](std::uint32_t address, std::uint32_t size) {
        return address >= base && std::uint64_t{address} + size <= std::uint64_t{base} + dll.size;
    };
    std::uint32_t start = Word(dll.base, file.tls.rva);
    std::uint32_t end = Word(dll.base, file.tls.rva + 4);
    std::uint32_t indexAddress = Word(dll.base, file.tls.rva + 8);
    std::uint32_t callbacks = Word(dll.base, file.tls.rva + 12);
    std::uint32_t zeroFill = Word(dll.base, file.tls.rva + 16);
    if (end < start || (start != 0 && !inImage(start, end - start)) || zeroFill > 0x100000 ||
        (indexAddress != 0 && !inImage(indexAddress, 4))) {
        *error = "the TLS directory is damaged";
        return false;
    }
    unsigned index = 0;
    while (index < ModuleTlsCount && moduleIndexUsed[index]) {
        ++index;
    }
    if (index == ModuleTlsCount) {
        *error = "too many DLLs with static TLS loaded at once";
        return false;
    }
    moduleIndexUsed[index] = true;
    dll.tlsModuleIndex = index;
    if (start != 0) {
        dll.tlsTemplate.assign(dll.base + (start - base), dll.base + (end - base));
    }
    dll.tlsTemplate.resize(dll.tlsTemplate.size() + zeroFill, 0);
    if (indexAddress != 0) {
        std::memcpy(dll.base + (indexAddress - base), &index, sizeof index);
    }
    for (std::uint32_t slot = callbacks; slot != 0; slot += 4) {
        if (!inImage(slot, 4) || dll.tlsCallbacks.size() > 64) {
            *error = "the TLS callback list is damaged";
            return false;
        }
        std::uint32_t callback = Word(dll.base, slot - base);
        if (callback == 0) {
            break;
        }
        dll.tlsCallbacks.push_back(callback);
    }
    return true;
}

void GiveThreadTls(const LoadedDll& dll) {
    ThreadInformationBlock* block = AttachThreadBlock();
    if (block->moduleTls[dll.tlsModuleIndex] == nullptr) {
        void* copy = std::calloc(1, dll.tlsTemplate.size() + 16);
        if (!dll.tlsTemplate.empty()) {
            std::memcpy(copy, dll.tlsTemplate.data(), dll.tlsTemplate.size());
        }
        block->moduleTls[dll.tlsModuleIndex] = copy;
    }
}

void TakeThreadTls(const LoadedDll& dll) {
    ThreadInformationBlock* block = CurrentThreadBlock();
    if (block != nullptr) {
        std::free(block->moduleTls[dll.tlsModuleIndex]);
        block->moduleTls[dll.tlsModuleIndex] = nullptr;
    }
}

// Windows tells the TLS callbacks first, then the entry point.
std::int32_t Notify(const LoadedDll& dll, std::uint32_t reason) {
    for (std::uint32_t callback : dll.tlsCallbacks) {
        reinterpret_cast<TlsCallback>(static_cast<std::uintptr_t>(callback))(dll.base, reason,
                                                                             nullptr);
    }
    if (dll.entryPointRva == 0) {
        return 1;
    }
    auto entry = reinterpret_cast<EntryPoint>(dll.base + dll.entryPointRva);
    return entry(dll.base, reason, nullptr);
}

} // namespace

LoadedDll* LoadDll(const std::string& path, Placement placement, std::string* error) {
    std::string ignored;
    if (error == nullptr) {
        error = &ignored;
    }
    auto file = ReadPeFile(path, error);
    if (!file) {
        return nullptr;
    }
    if (file->machine != MachineI386 || (file->characteristics & CharacteristicDll) == 0) {
        *error = path + " is not a 32-bit x86 DLL";
        return nullptr;
    }
    AttachThreadBlock(); // the loading thread is the process's thread from now on

    std::lock_guard<std::recursive_mutex> lock(loaderMutex);
    std::uint8_t* image = MapImage(*file, placement, error);
    if (image == nullptr) {
        return nullptr;
    }
    auto* dll = new LoadedDll;
    dll->path = path;
    dll->base = image;
    dll->size = file->sizeOfImage;
    dll->preferredBase = file->imageBase;
    dll->relocated = Address(image) != file->imageBase;
    dll->entryPointRva = file->entryPointRva;
    dll->exports = file->exports;
    auto fail = [&]() -> LoadedDll* {
        munmap(image, file->sizeOfImage);
        delete dll;
        return nullptr;
    };
    if (!ApplyRelocations(*file, image, Address(image) - file->imageBase, error) ||
        !ResolveImports(*file, image, error) || !PrepareTls(*file, *dll, error)) {
        if (!dll->tlsCallbacks.empty() || !dll->tlsTemplate.empty()) {
            moduleIndexUsed[dll->tlsModuleIndex] = false;
        }
        return fail();
    }
    GiveThreadTls(*dll);
    loaded.push_back(dll);
    if (Notify(*dll, ProcessAttach) == 0) {
        *error = "the DLL's entry point refused the process";
        // As on Windows: the DLL is told the process is leaving before it goes.
        Notify(*dll, ProcessDetach);
        loaded.pop_back();
        TakeThreadTls(*dll);
        moduleIndexUsed[dll->tlsModuleIndex] = false;
        return fail();
    }
    return dll;
}

const void* FindExport(const LoadedDll& dll, const std::string& name) {
    for (const PeExport& entry : dll.exports) {
        if (entry.name == name && entry.rva < dll.size) {
            return dll.base + entry.rva;
        }
    }
    return nullptr;
}

void UnloadDll(LoadedDll* dll) {
    if (dll == nullptr) {
        return;
    }
    JoinAllStartedThreads(); // nothing may run the image once it is gone
    std::lock_guard<std::recursive_mutex> lock(loaderMutex);
    Notify(*dll, ProcessDetach);
    std::erase(loaded, dll);
    TakeThreadTls(*dll);
    moduleIndexUsed[dll->tlsModuleIndex] = false;
    munmap(dll->base, dll->size);
    delete dll;
}

void NotifyThreadAttach() {
    std::lock_guard<std::recursive_mutex> lock(loaderMutex);
    for (LoadedDll* dll : loaded) {
        GiveThreadTls(*dll);
        Notify(*dll, ThreadAttach);
    }
}

void NotifyThreadDetach() {
    std::lock_guard<std::recursive_mutex> lock(loaderMutex);
    for (LoadedDll* dll : loaded) {
        Notify(*dll, ThreadDetach);
        TakeThreadTls(*dll);
    }
}

} // namespace e2e
