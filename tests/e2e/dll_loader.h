// Loads a PE32 DLL into this 32-bit Linux process the way Windows does: maps
// its sections, applies its base relocations, fills its import address table
// from the shims, sets up its static TLS, and calls its entry point for the
// process and for every thread that runs its code.
#pragma once

#include "pe_file.h"

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

enum class Placement {
    PreferredBase, // at the image base when that range is free, else elsewhere
    Elsewhere,     // never at the image base: every relocation is applied
};

struct LoadedDll {
    std::string path;
    std::uint8_t* base = nullptr;
    std::uint32_t size = 0;
    std::uint32_t preferredBase = 0;
    bool relocated = false;
    std::uint32_t entryPointRva = 0;
    std::vector<PeExport> exports;
    std::vector<std::uint32_t> tlsCallbacks; // addresses, after relocation
    unsigned tlsModuleIndex = 0;
    std::vector<std::uint8_t> tlsTemplate; // initial static TLS data and zero fill
};

// Null on failure, with the reason in *error: a file that is not a PE32 DLL,
// an address range that cannot be had, a relocation of a kind we do not
// apply, an import that we do not provide (named), an entry point that
// refuses the process.
LoadedDll* LoadDll(const std::string& path, Placement placement, std::string* error);

// The address of an export, or null.
const void* FindExport(const LoadedDll& dll, const std::string& name);

// Joins the threads the DLL started, tells the DLL the process is leaving
// (its runtime runs its exit-time handlers) and unmaps it.
void UnloadDll(LoadedDll* dll);

// Per-thread notices to every loaded DLL: static TLS, TLS callbacks and the
// entry point with thread attach or detach.
void NotifyThreadAttach();
void NotifyThreadDetach();

} // namespace e2e
