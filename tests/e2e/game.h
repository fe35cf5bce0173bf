// The game around the loaded DLL: the test host's address range with the
// simulated console, the script VM's side, a string cache for texts of any
// length, the script extender, and a small world of object references. The
// same pieces the unit tests use; here they meet the shipped DLL.
#pragma once

#include "dll_loader.h"
#include "vm_side.h"

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

// A host object reference and the script VM's bound object for it, laid out
// as the host's: class info at 4, the 64-bit handle at 16, the lock word at 24.
struct WorldScriptObject {
    std::uint32_t hostWord0;
    const void* classInfo;
    std::uint32_t hostWords8[2];
    std::uint32_t handleLow;
    std::uint32_t handleHigh;
    std::uint32_t lockWord;
};

struct WorldReference {
    std::string name;
    void* reference;          // the console's simulated TESObjectREFR
    std::uint32_t refHandle;  // the console's 32-bit name of it
    WorldScriptObject* bound; // the VM's object for it
};

// Installs everything above on a freshly reset address range (the tests'
// main resets it; a program of its own calls ResetHostRange, VmReset and
// ExtenderReset first). The console is not up until MarkConsoleUp.
void InstallGame();

const std::vector<WorldReference>& World();
const WorldReference* FindWorldReference(const std::string& name); // null: none or unknown
const void* ReferenceClassInfo();

// Arguments as the VM holds them. A string is the host's cached copy; a
// reference is its bound script object (null: None), and the host's handle
// policy is told which object the handle denotes.
VmValue StringArgument(const std::string& text);
VmValue ReferenceArgument(const WorldReference* reference);

// Before a call that returns a reference: the VM finds the bound object of
// whatever the console has selected, as the host would.
void PrepareReferenceResult();
// The world reference whose bound object a result holds; null for None or
// an object of no reference.
const WorldReference* ReferenceInResult(const VmValue& result);

// Query (accepted runtime), Load and the registration callback with the VM's
// registry, as the extender does at start-up. The initialisation thread is
// run as Windows().threadCreation says. False, with the reason, on the first
// step that fails.
bool StartPlugin(const LoadedDll& dll, std::string* error);

// Calls the run operation (slot 22) of a registered function as the VM does.
VmValue CallScriptFunction(const char* name, VmValue argument, bool* returned = nullptr);

} // namespace e2e
