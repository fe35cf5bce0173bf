// quorvane_session: runs Quorvane.dll in the simulated game and shows what a
// player would see: the console and the log after a list of script calls.
//
//   quorvane_session [--dll PATH] [CALLS_FILE]
//
// Without a file it runs a short default list. The file format is described
// in session_script.h and in the README.
#include "address_space.h"
#include "console_sim.h"
#include "dll_loader.h"
#include "dll_path.h"
#include "game.h"
#include "msvc_side.h"
#include "session_script.h"
#include "vm_side.h"
#include "windows_shims.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {
namespace fs = std::filesystem;

constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

const char Usage[] = "usage: quorvane_session [--dll PATH] [CALLS_FILE]\n"
                     "Runs Quorvane.dll in a simulated game and prints the console and the log.\n"
                     "CALLS_FILE holds one script call per line, for example:\n"
                     "  PrintMessage Hello 100%\n"
                     "  ExecuteCommand player.additem f 100\n"
                     "  SetSelectedReference chest        (player, lydia, chest or none)\n"
                     "  GetSelectedReference\n"
                     "  GetVersion\n"
                     "  # comments and blank lines are skipped\n";

std::string Shown(const std::string& text) {
    constexpr std::size_t Limit = 60;
    if (text.size() <= Limit) {
        return "\"" + text + "\"";
    }
    return "\"" + text.substr(0, Limit) + "...\" (" + std::to_string(text.size()) + " characters)";
}

std::string ReferenceName(std::uint32_t refHandle) {
    for (const e2e::WorldReference& reference : e2e::World()) {
        if (reference.refHandle == refHandle) {
            return reference.name;
        }
    }
    return "nothing";
}

std::string ResultText(const VmValue& result) {
    if (result.typeTag == 0) {
        return "None";
    }
    if (result.typeTag == 3) {
        return std::to_string(result.datum);
    }
    if (const e2e::WorldReference* reference = e2e::ReferenceInResult(result)) {
        return reference->name;
    }
    std::ostringstream other;
    other << "a value of type " << std::hex << result.typeTag;
    return other.str();
}

struct Transcript {
    std::size_t printed = 0;
    std::size_t commands = 0;
    std::size_t selections = 0;
    std::size_t menuSelections = 0;
    std::string console; // every line the console showed, in order
};

// What one call made the console do, since the last call.
void ReportConsole(testhost::SimulatedConsole& console, Transcript& transcript) {
    std::lock_guard<std::mutex> lock(console.mutex);
    for (; transcript.printed < console.printed.size(); ++transcript.printed) {
        std::string shown;
        const std::string& chunk = console.printed[transcript.printed].text;
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            shown += chunk[i];
            if (chunk[i] == '%' && i + 1 < chunk.size() && chunk[i + 1] == '%') {
                ++i; // the console's formatting shows a doubled "%" as one
            }
        }
        std::cout << "      console prints: " << Shown(shown) << "\n";
        transcript.console += shown + "\n";
    }
    for (; transcript.commands < console.commands.size(); ++transcript.commands) {
        const std::string& text = console.commands[transcript.commands].text;
        std::cout << "      console runs:   " << text << "\n";
        transcript.console += "> " + text + "\n";
    }
    for (; transcript.selections < console.selectedHandles.size(); ++transcript.selections) {
        std::cout << "      console selects: "
                  << ReferenceName(console.selectedHandles[transcript.selections]) << "\n";
    }
    for (; transcript.menuSelections < console.menuSelectionCalls.size();
         ++transcript.menuSelections) {
        std::cout << "      console selection cleared\n";
    }
}

int Run(const std::string& dllPath, const std::vector<e2e::ScriptCall>& calls) {
    testhost::ResetHostRange();
    VmReset();
    ExtenderReset();
    e2e::ResetWindows();
    e2e::Windows().clockMilliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::system_clock::now().time_since_epoch())
                                           .count();
    e2e::InstallGame();
    testhost::SimulatedConsole& console = testhost::Console();
    testhost::MarkConsoleUp();

    std::cout << "Quorvane session: " << dllPath << " (" << fs::file_size(dllPath)
              << " bytes) in the simulated game, runtime 0x09200000\n";
    std::string error;
    e2e::LoadedDll* dll = e2e::LoadDll(dllPath, e2e::Placement::PreferredBase, &error);
    if (dll == nullptr) {
        std::cerr << "quorvane_session: cannot load the DLL: " << error << "\n";
        return ExitFailed;
    }
    if (!e2e::StartPlugin(*dll, &error)) {
        std::cerr << "quorvane_session: " << error << "\n";
        e2e::UnloadDll(dll);
        return ExitFailed;
    }
    std::cout << "  query accepted, load done, registration callback ran\n";
    unsigned long exitCode = e2e::JoinStartedThread(0);
    std::cout << "  console initialisation thread: "
              << (console.initializeSteps.size() == 2 ? "ran both initialisation steps"
                                                      : "did not initialise the console")
              << " after " << e2e::Windows().sleeps.size() << " waits (exit code " << exitCode
              << ")\n\nScript calls\n";

    Transcript transcript;
    int failures = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const e2e::ScriptCall& call = calls[i];
        const char* name = e2e::FunctionName(call.function);
        VmValue argument{0, 0};
        std::string shownArgument;
        switch (call.function) {
        case e2e::ScriptFunction::PrintMessage:
        case e2e::ScriptFunction::ExecuteCommand:
            argument = e2e::StringArgument(call.argument);
            shownArgument = Shown(call.argument);
            break;
        case e2e::ScriptFunction::SetSelectedReference:
            argument = e2e::ReferenceArgument(e2e::FindWorldReference(call.argument));
            shownArgument = call.argument == "none" ? "None" : call.argument;
            break;
        case e2e::ScriptFunction::GetSelectedReference:
            e2e::PrepareReferenceResult();
            break;
        case e2e::ScriptFunction::GetVersion:
            break;
        }
        std::cout << "  " << (i + 1) << ". Ulvaric." << name << "(" << shownArgument << ")\n";
        if (argument.typeTag == 2 && argument.datum == 0) {
            std::cout << "      not called: the simulated game's string cache is full\n";
            ++failures;
            continue;
        }
        bool returned = false;
        VmValue result = e2e::CallScriptFunction(name, argument, &returned);
        ReportConsole(console, transcript);
        if (!returned) {
            std::cout << "      the call reported a failure to the VM\n";
            ++failures;
        }
        std::cout << "      returns " << ResultText(result) << "\n";
    }

    std::cout << "\nConsole\n";
    std::cout << (transcript.console.empty() ? "  (nothing shown)\n" : transcript.console);
    std::cout << "\nLog (Quorvane.txt)\n";
    std::ifstream log("Quorvane.txt", std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    std::string shownLog;
    for (char character : content) {
        if (character != '\r') {
            shownLog += character;
        }
    }
    std::cout << (shownLog.empty() ? "  (no lines: nothing failed)\n" : shownLog);
    e2e::UnloadDll(dll);
    return failures == 0 ? 0 : ExitFailed;
}

} // namespace

int main(int argc, char** argv) {
    std::string dllPath = e2e::ShippedDllPath();
    std::string callsFile;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--dll" && i + 1 < argc) {
            dllPath = argv[++i];
        } else if (argument == "-h" || argument == "--help") {
            std::cout << Usage;
            return 0;
        } else if (!argument.empty() && argument[0] != '-' && callsFile.empty()) {
            callsFile = argument;
        } else {
            std::cerr << Usage;
            return ExitUsage;
        }
    }

    std::vector<e2e::ScriptCall> calls = e2e::DefaultScriptCalls();
    if (!callsFile.empty()) {
        std::ifstream in(callsFile, std::ios::binary);
        if (!in) {
            std::cerr << "quorvane_session: cannot read " << callsFile << "\n";
            return ExitUsage;
        }
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        e2e::ScriptList list = e2e::ParseScriptList(text);
        for (const std::string& message : list.errors) {
            std::cerr << callsFile << ": " << message << "\n";
        }
        if (!list.errors.empty()) {
            return ExitUsage;
        }
        calls = list.calls;
    }

    std::error_code failure;
    fs::path dll = fs::absolute(dllPath, failure);
    if (failure || !fs::is_regular_file(dll)) {
        std::cerr << "quorvane_session: no DLL at " << dllPath << "\n";
        return ExitUsage;
    }
    // The log file lives in the game's current directory: a fresh one, with
    // Quorvane.txt present so that the plugin logs.
    char directory[] = "/tmp/quorvane_session.XXXXXX";
    if (mkdtemp(directory) == nullptr || chdir(directory) != 0) {
        std::perror("quorvane_session: working directory");
        return ExitFailed;
    }
    std::ofstream("Quorvane.txt", std::ios::binary).close();
    int result = Run(dll.string(), calls);
    std::cout.flush();
    fs::remove_all(directory, failure);
    return result;
}
