#include "console_sim.h"

#include "address_space.h"

#include <cstring>

extern "C" {
extern const void* testhost_console_trashing_targets[16];
extern std::uint32_t testhost_console_entry_registers[64];
void testhost_console_trashing_stub_0();
void testhost_console_trashing_stub_1();
void testhost_console_trashing_stub_2();
void testhost_console_trashing_stub_3();
void testhost_console_trashing_stub_4();
void testhost_console_trashing_stub_5();
void testhost_console_trashing_stub_6();
void testhost_console_trashing_stub_7();
void testhost_console_trashing_stub_8();
void testhost_console_trashing_stub_9();
}

namespace testhost {
namespace host = quorvane::host;

namespace {

SimulatedConsole* console = new SimulatedConsole; // never destroyed: threads may outlive main

void (*const Entrances[])() = {
    testhost_console_trashing_stub_0, testhost_console_trashing_stub_1,
    testhost_console_trashing_stub_2, testhost_console_trashing_stub_3,
    testhost_console_trashing_stub_4, testhost_console_trashing_stub_5,
    testhost_console_trashing_stub_6, testhost_console_trashing_stub_7,
    testhost_console_trashing_stub_8, testhost_console_trashing_stub_9,
};

template <host::PreservedShape Shape>
void InstallPreserved(host::PreservedRoutine<Shape> routine, PreservedEntrance entrance,
                      const void* target) {
    auto index = static_cast<unsigned>(entrance);
    testhost_console_trashing_targets[index] = target;
    InstallRoutine(routine.address, reinterpret_cast<const void*>(Entrances[index]));
}

void Printed(const void* manager, const char* format, const void* arguments) {
    PrintedChunk chunk{format, manager, {}, arguments == nullptr, std::this_thread::get_id()};
    if (arguments != nullptr) {
        std::memcpy(chunk.argumentWords.data(), arguments, sizeof chunk.argumentWords);
    }
    std::function<void(const PrintedChunk&)> hook;
    {
        std::lock_guard<std::mutex> lock(console->mutex);
        if (!PercentOnlyInPairs(chunk.text)) {
            ++console->chunksWithLonePercent;
        }
        console->events.push_back(
            {ConsoleEvent::Kind::Print, console->printed.size(), chunk.thread});
        console->printed.push_back(chunk);
        hook = console->onPrint;
    }
    if (hook) {
        hook(chunk);
    }
}

void CommandRan(const void* record) {
    CommandRun run{};
    run.recordAddress = reinterpret_cast<std::uintptr_t>(record);
    std::memcpy(run.bytes.data(), record, run.bytes.size());
    const char* text = reinterpret_cast<const char*>(run.Word(36));
    run.text = text != nullptr ? text : "<null>";
    run.consoleMenuReferences =
        console->consoleMenu != nullptr ? MenuReferences(console->consoleMenu) : -1;
    run.thread = std::this_thread::get_id();
    std::function<void(const CommandRun&)> hook;
    {
        std::lock_guard<std::mutex> lock(console->mutex);
        console->events.push_back(
            {ConsoleEvent::Kind::Command, console->commands.size(), run.thread});
        console->commands.push_back(run);
        hook = console->onCommand;
    }
    if (hook) {
        hook(run);
    }
}

void ReferenceSelected(unsigned handle) {
    std::lock_guard<std::mutex> lock(console->mutex);
    console->selectedHandles.push_back(handle);
    Set(host::ConsoleSelectionGlobal, static_cast<host::ReferenceHandle>(handle));
}

void MenuReferenceSet(const void* menu, unsigned argument) {
    std::lock_guard<std::mutex> lock(console->mutex);
    console->menuSelectionCalls.push_back({menu, argument});
    if (argument == 0) {
        Set(host::ConsoleSelectionGlobal, InvalidHandle);
    }
}

void InitializeStep(unsigned step) {
    std::function<void(unsigned)> hook;
    {
        std::lock_guard<std::mutex> lock(console->mutex);
        console->initializeSteps.push_back(step);
        hook = console->onInitializeStep;
    }
    if (hook) {
        hook(step);
    }
}

void StringCached(const char* text) {
    std::function<void(const char*)> hook;
    {
        std::lock_guard<std::mutex> lock(console->mutex);
        hook = console->onStringCached;
    }
    if (hook) {
        hook(text);
    }
}

void BuildDefaultMenuTable() {
    constexpr std::uint32_t Buckets = 16;
    SetMenuTable(Buckets, true);
    const char* names[] = {"HUD Menu", "Journal Menu", "Console", "MessageBoxMenu"};
    void* menus[] = {SimulatedMenu(1), SimulatedMenu(2), SimulatedMenu(0), SimulatedMenu(3)};
    for (std::size_t i = 0; i < std::size(names); ++i) {
        const char* key = CachedString(names[i]);
        AddMenuEntry(BucketOf(key, Buckets), key, menus[i]);
    }
}

} // namespace

std::uint32_t CommandRun::Word(std::size_t offset) const {
    std::uint32_t word;
    std::memcpy(&word, bytes.data() + offset, sizeof word);
    return word;
}

std::string SimulatedConsole::ShownText() {
    std::lock_guard<std::mutex> lock(mutex);
    std::string shown;
    for (const PrintedChunk& chunk : printed) {
        for (std::size_t i = 0; i < chunk.text.size(); ++i) {
            shown += chunk.text[i];
            if (chunk.text[i] == '%' && i + 1 < chunk.text.size() && chunk.text[i + 1] == '%') {
                ++i;
            }
        }
    }
    return shown;
}

const ConsoleSideCounts& SimulatedConsole::Counts() const {
    return *ConsoleSideCounted();
}

SimulatedConsole& InstallSimulatedConsole() {
    static const ConsoleSideHooks hooks{Printed,          CommandRan,     ReferenceSelected,
                                        MenuReferenceSet, InitializeStep, StringCached};
    ConsoleSideReset(&hooks);
    {
        std::lock_guard<std::mutex> lock(console->mutex);
        console->printed.clear();
        console->commands.clear();
        console->events.clear();
        console->selectedHandles.clear();
        console->menuSelectionCalls.clear();
        console->initializeSteps.clear();
        console->chunksWithLonePercent = 0;
        console->onPrint = nullptr;
        console->onCommand = nullptr;
        console->onInitializeStep = nullptr;
        console->onStringCached = nullptr;
    }
    console->consoleManager = static_cast<host::ConsoleManager*>(ConsoleSideConsoleManager());
    console->menuManager = static_cast<host::MenuManager*>(ConsoleSideMenuManager());
    console->consoleMenu = SimulatedMenu(0);
    console->consoleName = CachedString("Console");

    ConsoleSideRoutines routines{};
    ConsoleSideGetRoutines(&routines);
    InstallRoutine(host::ConsoleManagerPrint.address, routines.consoleManagerPrint);
    InstallRoutine(host::InitStringCacheRef.address, routines.initStringCacheRef);
    InstallRoutine(host::HashStringKey.address, routines.hashStringKey);
    InstallPreserved(host::MenuAddReference, PreservedEntrance::MenuAddReference,
                     routines.menuAddReference);
    InstallPreserved(host::MenuReleaseReference, PreservedEntrance::MenuReleaseReference,
                     routines.menuReleaseReference);
    InstallPreserved(host::RunConsoleCommand, PreservedEntrance::RunConsoleCommand,
                     routines.runConsoleCommand);
    InstallPreserved(host::GetReferenceHandle, PreservedEntrance::GetReferenceHandle,
                     routines.getReferenceHandle);
    InstallPreserved(host::SelectConsoleReference, PreservedEntrance::SelectConsoleReference,
                     routines.selectConsoleReference);
    InstallPreserved(host::SetConsoleMenuReference, PreservedEntrance::SetConsoleMenuReference,
                     routines.setConsoleMenuReference);
    InstallPreserved(host::LookUpReferenceByHandle, PreservedEntrance::LookUpReferenceByHandle,
                     routines.lookUpReferenceByHandle);
    InstallPreserved(host::ReleaseReferencePointer, PreservedEntrance::ReleaseReferencePointer,
                     routines.releaseReferencePointer);
    InstallPreserved(host::InitializeConsoleStep1, PreservedEntrance::InitializeConsoleStep1,
                     routines.initializeConsoleStep1);
    InstallPreserved(host::InitializeConsoleStep2, PreservedEntrance::InitializeConsoleStep2,
                     routines.initializeConsoleStep2);

    Set(host::ConsoleManagerGlobal, console->consoleManager);
    Set(host::MenuManagerGlobal, console->menuManager);
    Set(host::InvalidReferenceHandleGlobal, InvalidHandle);
    Set(host::ConsoleSelectionGlobal, InvalidHandle);
    MarkConsoleUp(false);
    BuildDefaultMenuTable();
    return *console;
}

SimulatedConsole& Console() {
    return *console;
}

const char* CachedString(const char* text) {
    return ConsoleSideCachedString(text);
}

std::uint32_t BucketOf(const char* text, std::uint32_t bucketCount) {
    return ConsoleSideHash(text) & (bucketCount - 1);
}

void SetMenuTable(std::uint32_t bucketCount, bool withBuckets) {
    ConsoleSideSetMenuTable(bucketCount, withBuckets ? 1 : 0);
}

void AddMenuEntry(std::uint32_t bucket, const char* key, void* menu) {
    ConsoleSideAddMenuEntry(bucket, key, menu);
}

void SetStaleBucket(std::uint32_t bucket, const char* key, void* menu) {
    ConsoleSideSetStaleBucket(bucket, key, menu);
}

void SetChainEnd(const char* key, void* menu) {
    ConsoleSideSetChainEnd(key, menu);
}

void* SimulatedMenu(unsigned index) {
    return ConsoleSideMenu(index);
}

int MenuReferences(const void* menu) {
    return ConsoleSideMenuReferences(menu);
}

host::TESObjectREFR* SimulatedReference(unsigned index, std::uint32_t handle, bool live) {
    void* reference = ConsoleSideReference(index);
    ConsoleSideSetReference(reference, handle, live ? 1 : 0);
    return static_cast<host::TESObjectREFR*>(reference);
}

int ReferenceCount(const host::TESObjectREFR* reference) {
    return ConsoleSideReferenceCount(reference);
}

void MarkConsoleUp(bool up) {
    // Any non-null value will do: the plugin only compares them with zero.
    static const int somewhere[3] = {};
    Set(host::ConsoleReadinessGlobal1, up ? static_cast<const void*>(&somewhere[0]) : nullptr);
    Set(host::ConsoleReadinessGlobal2, up ? static_cast<const void*>(&somewhere[1]) : nullptr);
    Set(host::ConsoleReadinessGlobal3, up ? static_cast<const void*>(&somewhere[2]) : nullptr);
}

CalleeSavedRegisters EntryRegisters(PreservedEntrance entrance) {
    const std::uint32_t* saved =
        &testhost_console_entry_registers[4 * static_cast<unsigned>(entrance)];
    return {saved[0], saved[1], saved[2], saved[3]};
}

bool PercentOnlyInPairs(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            if (i + 1 == text.size() || text[i + 1] != '%') {
                return false;
            }
            ++i;
        }
    }
    return true;
}

} // namespace testhost
