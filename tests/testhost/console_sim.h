// The game's console, simulated at its real addresses for tests of the
// console functions and for the end-to-end run of the real DLL.
//
//   testhost::SimulatedConsole& console = testhost::InstallSimulatedConsole();
//
// Call it once per test, after the test host has reset the game's address
// range (testhost_main does so before every test). It installs:
//
// - ConsoleManagerGlobal: a console manager whose ConsoleManagerPrint (a
//   thiscall member taking format and argument list) records every chunk it is
//   handed in `printed`, without formatting it.
// - MenuManagerGlobal: a menu manager with its menu table at 0xA4 (16 buckets,
//   chains ending at a sentinel), holding "Console" -> `consoleMenu` and a few
//   other menus. Menus count their references (MenuReferences). Build other
//   tables with SetMenuTable / AddMenuEntry / SetStaleBucket / SetChainEnd.
// - InitStringCacheRef and HashStringKey: cached strings (equal texts share
//   one pointer for the life of the process, see CachedString; up to 64
//   distinct texts of up to 63 characters) and their hash.
// - RunConsoleCommand: records the 64-byte command record byte for byte in
//   `commands`, with the console menu's reference count during the call.
// - GetReferenceHandle, SelectConsoleReference, SetConsoleMenuReference,
//   LookUpReferenceByHandle, ReleaseReferencePointer over a few simulated
//   references (SimulatedReference), with ConsoleSelectionGlobal and
//   InvalidReferenceHandleGlobal (= InvalidHandle). Selecting writes the
//   selection global; SetConsoleMenuReference with 0 sets it to InvalidHandle.
// - InitializeConsoleStep1/2, recorded in `initializeSteps`; the three
//   readiness globals stay null until MarkConsoleUp.
//
// Every host routine is MSVC-ABI code (msvc/console_side.cpp). The routines
// that the plugin calls as state-preserving calls are entered through stubs
// that scramble every register but ECX (Scrambled*), so a caller that does not
// save and restore around them breaks; EntryRegisters tells what a routine was
// entered with.
//
// The records are guarded by `mutex` (lock it to read while other threads may
// still call in). The hooks (onPrint, onCommand, ...) run on the calling thread
// after the call is recorded, outside the mutex, so they may call the plugin
// again (re-entry).
#pragma once

#include "console_side.h"
#include "host/entry_points.h"

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace testhost {

struct PrintedChunk {
    std::string text;
    const void* console;
    std::array<std::uint32_t, 4> argumentWords; // what the argument list points to
    bool argumentListNull;
    std::thread::id thread;
};

struct CommandRun {
    std::uintptr_t recordAddress;
    std::array<std::uint8_t, 64> bytes;
    std::string text; // the command text as the record points to it
    int consoleMenuReferences;
    std::thread::id thread;

    std::uint32_t Word(std::size_t offset) const;
};

struct ConsoleEvent {
    enum class Kind { Print, Command };
    Kind kind;
    std::size_t index; // into printed or commands
    std::thread::id thread;
};

struct MenuSelectionCall {
    const void* menu;
    std::uint32_t argument;
};

struct SimulatedConsole {
    quorvane::host::ConsoleManager* consoleManager = nullptr;
    quorvane::host::MenuManager* menuManager = nullptr;
    void* consoleMenu = nullptr;
    const char* consoleName = nullptr; // the cached "Console"

    std::mutex mutex;
    std::vector<PrintedChunk> printed;
    std::vector<CommandRun> commands;
    std::vector<ConsoleEvent> events; // prints and commands in the order they came
    std::vector<std::uint32_t> selectedHandles;
    std::vector<MenuSelectionCall> menuSelectionCalls;
    std::vector<unsigned> initializeSteps;
    unsigned chunksWithLonePercent = 0; // a "%" not doubled would make the host format

    std::function<void(const PrintedChunk&)> onPrint;
    std::function<void(const CommandRun&)> onCommand;
    std::function<void(unsigned step)> onInitializeStep;
    std::function<void(const char* text)> onStringCached; // inside InitStringCacheRef

    // All chunks put together with each "%%" read as "%": what the player sees.
    std::string ShownText();
    const ConsoleSideCounts& Counts() const;
};

// Installs everything above and returns the console (one per process).
SimulatedConsole& InstallSimulatedConsole();
SimulatedConsole& Console();

inline constexpr std::uint32_t InvalidHandle = 0x00100000;

// The menu table.
const char* CachedString(const char* text);
std::uint32_t BucketOf(const char* text, std::uint32_t bucketCount);
void SetMenuTable(std::uint32_t bucketCount, bool withBuckets);
void AddMenuEntry(std::uint32_t bucket, const char* key, void* menu);
void SetStaleBucket(std::uint32_t bucket, const char* key, void* menu);
void SetChainEnd(const char* key, void* menu);
void* SimulatedMenu(unsigned index); // 0 is the console menu
int MenuReferences(const void* menu);

// References: handle 0 means none; a dead one is not found by its handle.
quorvane::host::TESObjectREFR* SimulatedReference(unsigned index, std::uint32_t handle,
                                                  bool live = true);
int ReferenceCount(const quorvane::host::TESObjectREFR* reference);

// The three readiness globals.
void MarkConsoleUp(bool up = true);

// The state-preserving routines, in the order of their entrances.
enum class PreservedEntrance : unsigned {
    MenuAddReference,
    MenuReleaseReference,
    RunConsoleCommand,
    GetReferenceHandle,
    SelectConsoleReference,
    SetConsoleMenuReference,
    LookUpReferenceByHandle,
    ReleaseReferencePointer,
    InitializeConsoleStep1,
    InitializeConsoleStep2,
};
struct CalleeSavedRegisters {
    std::uint32_t ebx, esi, edi, ebp;
    bool operator==(const CalleeSavedRegisters&) const = default;
};
inline constexpr CalleeSavedRegisters ScrambledRegisters{0xB0B0B0B0, 0x51515151, 0xD1D1D1D1,
                                                         0xBEBEBEBE};
// What the routine's entrance last found in EBX, ESI, EDI and EBP.
CalleeSavedRegisters EntryRegisters(PreservedEntrance entrance);

bool PercentOnlyInPairs(std::string_view text);

} // namespace testhost
