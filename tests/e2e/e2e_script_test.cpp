// Script calls of the real DLL's five functions, made by the script VM's
// side (MSVC-ABI code) through the objects that the DLL registered: the
// results as the VM reads them, the console's view, the stack after every
// slot, and the log file's bytes.
#include "console_sim.h"
#include "dll_loader.h"
#include "dll_path.h"
#include "game.h"
#include "host_call.h"
#include "msvc_side.h"
#include "scratch_directory.h"
#include "vm_side.h"
#include "windows_shims.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <pthread.h>
#include <string>
#include <vector>

namespace {
using e2e::CallScriptFunction;
using e2e::Windows;
using testhost::ReadFile;

const char* const FunctionNames[] = {"PrintMessage", "ExecuteCommand", "SetSelectedReference",
                                     "GetSelectedReference", "GetVersion"};

std::uint32_t Word(const void* pointer) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

class RegisteredDll : public testing::Test {
  protected:
    void SetUp() override {
        e2e::ResetWindows();
        Windows().clockMilliseconds =
            static_cast<std::int64_t>(testhost::NinthOfDecember2026()) * 1000;
        e2e::InstallGame();
        console = &testhost::Console();
        testhost::MarkConsoleUp();
        std::string error;
        dll = e2e::LoadDll(e2e::ShippedDllPath(), e2e::Placement::PreferredBase, &error);
        ASSERT_NE(dll, nullptr) << error;
        ASSERT_TRUE(e2e::StartPlugin(*dll, &error)) << error;
        ASSERT_EQ(e2e::JoinStartedThread(0), 0u);
        std::fclose(std::fopen("Quorvane.txt", "wb"));
    }
    void TearDown() override {
        e2e::UnloadDll(dll);
        e2e::ResetWindows();
    }

    e2e::LoadedDll* dll = nullptr;
    testhost::SimulatedConsole* console = nullptr;
};

TEST_F(RegisteredDll, RegistersTheFiveFunctionsUnderUlvaricWithTheirFlag) {
    const VmRegistryLog* registry = VmRegistryRecorded();
    EXPECT_EQ(registry->unexpectedSlots, 0u);
    const VmFunctionBaseLog* bases = VmFunctionBaseRecorded();
    ASSERT_EQ(bases->initCount, 5u);
    const unsigned parameterCounts[] = {1, 1, 1, 0, 0};
    std::vector<unsigned> slots;
    for (unsigned i = 0; i < registry->count; ++i) {
        slots.push_back(registry->calls[i].slot);
    }
    // Each object: the class info for reference types (slot 10) as it is
    // built, then AddNativeFunction (23) and the flag (25).
    EXPECT_EQ(slots, (std::vector<unsigned>{23, 25, 23, 25, 10, 23, 25, 10, 23, 25, 23, 25}));
    for (unsigned i = 0; i < 5; ++i) {
        SCOPED_TRACE(FunctionNames[i]);
        EXPECT_STREQ(bases->inits[i].functionName, FunctionNames[i]);
        EXPECT_STREQ(bases->inits[i].className, "Ulvaric");
        EXPECT_EQ(bases->inits[i].staticFlag, 1u);
        EXPECT_EQ(bases->inits[i].parameterCount, parameterCounts[i]);
        void* function = VmRegisteredFunction(FunctionNames[i]);
        ASSERT_NE(function, nullptr);
        EXPECT_EQ(function, bases->inits[i].object);
    }
    for (unsigned i = 0; i < registry->count; ++i) {
        if (registry->calls[i].slot == 25) {
            EXPECT_STREQ(reinterpret_cast<const char*>(registry->calls[i].words[0]), "Ulvaric");
            EXPECT_EQ(registry->calls[i].words[2], 1u);
        }
    }
}

TEST_F(RegisteredDll, PrintMessageShowsTheTextExactlyInPiecesTheConsoleTakes) {
    bool returned = false;
    VmValue result =
        CallScriptFunction("PrintMessage", e2e::StringArgument("Hello 100%"), &returned);
    EXPECT_TRUE(returned);
    EXPECT_EQ(result.typeTag, 0u);
    EXPECT_EQ(result.datum, 0u);
    ASSERT_EQ(console->printed.size(), 1u);
    EXPECT_EQ(console->printed[0].text, "Hello 100%%");

    std::string longText(2500, 'x');
    CallScriptFunction("PrintMessage", e2e::StringArgument(longText));
    ASSERT_EQ(console->printed.size(), 4u);
    EXPECT_EQ(console->printed[1].text.size(), 1023u);
    EXPECT_EQ(console->printed[2].text.size(), 1023u);
    EXPECT_EQ(console->printed[3].text.size(), 454u);
    EXPECT_EQ(console->chunksWithLonePercent, 0u);
    EXPECT_EQ(console->ShownText(), "Hello 100%" + longText);

    // A value that is no string prints nothing.
    CallScriptFunction("PrintMessage", VmValue{3, 42});
    EXPECT_EQ(console->printed.size(), 4u);
    EXPECT_EQ(ReadFile("Quorvane.txt"), "");
}

TEST_F(RegisteredDll, ExecuteCommandHandsTheConsoleItsRecord) {
    int referencesBefore = testhost::MenuReferences(console->consoleMenu);
    VmValue result =
        CallScriptFunction("ExecuteCommand", e2e::StringArgument("player.additem f 100%"));
    EXPECT_EQ(result.typeTag, 0u);
    EXPECT_EQ(result.datum, 0u);
    ASSERT_EQ(console->commands.size(), 1u);
    const testhost::CommandRun& run = console->commands[0];
    EXPECT_EQ(run.text, "player.additem f 100%");
    EXPECT_EQ(run.Word(16), Word(console->consoleMenu));
    EXPECT_EQ(run.Word(24), run.recordAddress + 28);
    for (std::size_t offset = 0; offset < 64; offset += 4) {
        if (offset != 16 && offset != 24 && offset != 36) {
            EXPECT_EQ(run.Word(offset), 0u) << "offset " << offset;
        }
    }
    EXPECT_EQ(run.consoleMenuReferences, referencesBefore + 1);
    EXPECT_EQ(testhost::MenuReferences(console->consoleMenu), referencesBefore);
    EXPECT_EQ(ReadFile("Quorvane.txt"), "");
}

TEST_F(RegisteredDll, SelectionIsSetReadAndCleared) {
    const e2e::WorldReference* chest = e2e::FindWorldReference("chest");
    CallScriptFunction("SetSelectedReference", e2e::ReferenceArgument(chest));
    EXPECT_EQ(console->selectedHandles, (std::vector<std::uint32_t>{chest->refHandle}));

    e2e::PrepareReferenceResult();
    bool returned = false;
    VmValue result = CallScriptFunction("GetSelectedReference", VmValue{0, 0}, &returned);
    EXPECT_TRUE(returned);
    EXPECT_EQ(result.typeTag, Word(e2e::ReferenceClassInfo()));
    EXPECT_EQ(e2e::ReferenceInResult(result), chest);
    EXPECT_EQ(
        testhost::ReferenceCount(static_cast<quorvane::host::TESObjectREFR*>(chest->reference)), 0);

    CallScriptFunction("SetSelectedReference", e2e::ReferenceArgument(nullptr));
    ASSERT_EQ(console->menuSelectionCalls.size(), 1u);
    EXPECT_EQ(console->menuSelectionCalls[0].argument, 0u);
    e2e::PrepareReferenceResult();
    result = CallScriptFunction("GetSelectedReference", VmValue{0, 0});
    EXPECT_EQ(result.typeTag, 0u);
    EXPECT_EQ(result.datum, 0u);
    EXPECT_EQ(ReadFile("Quorvane.txt"), "");
}

TEST_F(RegisteredDll, GetVersionAnswersTwo) {
    VmValue result = CallScriptFunction("GetVersion", VmValue{0, 0});
    EXPECT_EQ(result.typeTag, 3u);
    EXPECT_EQ(result.datum, 2u);
}

TEST_F(RegisteredDll, MissingConsoleMenuIsLoggedByteForByte) {
    testhost::SetMenuTable(16, true); // a table without the console
    CallScriptFunction("ExecuteCommand", e2e::StringArgument("coc riverwood"));
    CallScriptFunction("SetSelectedReference", e2e::ReferenceArgument(nullptr));
    EXPECT_TRUE(console->commands.empty());
    EXPECT_EQ(ReadFile("Quorvane.txt"),
              "09 Dec 17:06:05 Failed to get console pointer!\r\n"
              "09 Dec 17:06:05 Failed to get console pointer in set reference!\r\n");
}

// --- the objects at the byte level ---------------------------------------------

struct SlotCall {
    unsigned slot;
    int argumentCount;
};
// Slots 1 to 21 with the number of stack words the host passes to each; the
// forwarding slots (6, 15, 16, 18) take what the host's own operations take.
const SlotCall SharedSlots[] = {{1, 0},  {2, 0},  {3, 0},  {5, 0},  {6, 3},  {7, 0},  {8, 0},
                                {9, 0},  {10, 0}, {11, 0}, {12, 0}, {13, 0}, {14, 1}, {15, 2},
                                {16, 1}, {17, 2}, {18, 3}, {19, 0}, {20, 1}, {21, 0}};

const void* SlotAddress(void* object, unsigned slot) {
    return (*static_cast<const void* const* const*>(object))[slot];
}

TEST_F(RegisteredDll, EverySlotLeavesTheStackAsTheHostExpects) {
    for (const char* name : FunctionNames) {
        SCOPED_TRACE(name);
        void* function = VmRegisteredFunction(name);
        ASSERT_NE(function, nullptr);
        for (const SlotCall& call : SharedSlots) {
            std::uint32_t output = 0xFFFFFFFF;
            std::uint32_t arguments[3] = {0x16161616u, Word(&output), 7};
            std::uint32_t registers[2] = {};
            EXPECT_EQ(HostCall(SlotAddress(function, call.slot), HostThiscall, function, arguments,
                               call.argumentCount, registers),
                      0)
                << "slot " << call.slot;
        }
        // Slot 22 with the VM's five words.
        VmStack stack{};
        VmMakeStack(&stack, e2e::StringArgument(""));
        VmValue result{};
        std::uint32_t runArguments[5] = {0x11111111u, Word(VmRegistry()), 0x33333333u,
                                         Word(&result), Word(&stack)};
        std::uint32_t registers[2] = {};
        e2e::PrepareReferenceResult();
        EXPECT_EQ(
            HostCall(SlotAddress(function, 22), HostThiscall, function, runArguments, 5, registers),
            0);
        EXPECT_EQ(registers[0] & 0xFF, 1u) << "the run operation answers true in AL";
    }
}

TEST_F(RegisteredDll, SlotFourReturnsTheTypeThroughTheCallersStorage) {
    const std::uint32_t expected[] = {0, 0, 0, Word(e2e::ReferenceClassInfo()), 3};
    for (unsigned i = 0; i < 5; ++i) {
        SCOPED_TRACE(FunctionNames[i]);
        void* function = VmRegisteredFunction(FunctionNames[i]);
        EXPECT_EQ(VmCopyReturnType(function), expected[i]);

        std::uint32_t storage = 0xEEEEEEEE;
        std::uint32_t arguments[1] = {Word(&storage)};
        std::uint32_t registers[2] = {};
        EXPECT_EQ(
            HostCall(SlotAddress(function, 4), HostThiscall, function, arguments, 1, registers), 0);
        EXPECT_EQ(storage, expected[i]);
        EXPECT_EQ(registers[0], Word(&storage)) << "EAX holds the storage's address";
    }
}

TEST_F(RegisteredDll, SlotZeroTearsDownAndFreesOnlyWithBitZero) {
    const VmHeapLog* heap = VmHeap();
    const VmFunctionBaseLog* bases = VmFunctionBaseRecorded();
    void* kept = VmRegisteredFunction("GetVersion");
    void* freed = VmRegisteredFunction("PrintMessage");
    unsigned freesBefore = heap->frees;

    std::uint32_t flags[1] = {0};
    std::uint32_t registers[2] = {};
    EXPECT_EQ(HostCall(SlotAddress(kept, 0), HostThiscall, kept, flags, 1, registers), 0);
    EXPECT_EQ(registers[0], Word(kept));
    ASSERT_EQ(bases->destroyCount, 1u);
    EXPECT_EQ(bases->destroyed[0], kept);
    EXPECT_EQ(heap->frees, freesBefore);

    VmDeleteFunction(freed); // the VM's `delete`: slot 0 with flags 1
    ASSERT_EQ(bases->destroyCount, 2u);
    EXPECT_EQ(bases->destroyed[1], freed);
    ASSERT_EQ(heap->frees, freesBefore + 1);
    EXPECT_EQ(heap->freed[freesBefore], freed);
    EXPECT_EQ(heap->lastFreeExtra, 0u);

    void* alsoFreed = VmRegisteredFunction("ExecuteCommand");
    flags[0] = 1;
    EXPECT_EQ(HostCall(SlotAddress(alsoFreed, 0), HostThiscall, alsoFreed, flags, 1, registers), 0);
    EXPECT_EQ(registers[0], Word(alsoFreed));
    ASSERT_EQ(heap->frees, freesBefore + 2);
    EXPECT_EQ(heap->freed[freesBefore + 1], alsoFreed);
}

// --- the VM's threads ------------------------------------------------------------

// Two VM threads print long messages at once: the console lock of the real
// DLL (a recursive mutex on the runtime's critical sections and semaphores)
// keeps the pieces of each message together.
TEST_F(RegisteredDll, MessagesFromTwoThreadsKeepTheirPiecesTogether) {
    struct Printer {
        char letter;
        static void* Run(void* self) {
            e2e::EnterDllThread();
            char letter = static_cast<Printer*>(self)->letter;
            for (int i = 0; i < 8; ++i) {
                CallScriptFunction("PrintMessage", e2e::StringArgument(std::string(2100, letter)));
            }
            e2e::LeaveDllThread();
            return nullptr;
        }
    };
    Printer printers[2] = {{'a'}, {'b'}};
    pthread_t threads[2];
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(pthread_create(&threads[i], nullptr, Printer::Run, &printers[i]), 0);
    }
    for (pthread_t thread : threads) {
        pthread_join(thread, nullptr);
    }
    std::lock_guard<std::mutex> lock(console->mutex);
    ASSERT_EQ(console->printed.size(), 2u * 8u * 3u);
    for (std::size_t i = 0; i < console->printed.size(); i += 3) {
        char letter = console->printed[i].text[0];
        EXPECT_EQ(console->printed[i].text, std::string(1023, letter));
        EXPECT_EQ(console->printed[i + 1].text, std::string(1023, letter));
        EXPECT_EQ(console->printed[i + 2].text, std::string(54, letter));
    }
}

} // namespace
