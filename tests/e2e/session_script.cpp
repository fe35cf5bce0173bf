#include "session_script.h"

#include <algorithm>
#include <sstream>

namespace e2e {
namespace {

struct Known {
    const char* name;
    ScriptFunction function;
    bool takesArgument;
};
const Known Functions[] = {
    {"PrintMessage", ScriptFunction::PrintMessage, true},
    {"ExecuteCommand", ScriptFunction::ExecuteCommand, true},
    {"SetSelectedReference", ScriptFunction::SetSelectedReference, true},
    {"GetSelectedReference", ScriptFunction::GetSelectedReference, false},
    {"GetVersion", ScriptFunction::GetVersion, false},
};

std::string Trimmed(const std::string& text) {
    auto begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) {
        return "";
    }
    return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

} // namespace

const std::vector<std::string>& WorldReferenceNames() {
    static const std::vector<std::string> names{"player", "lydia", "chest"};
    return names;
}

const char* FunctionName(ScriptFunction function) {
    for (const Known& known : Functions) {
        if (known.function == function) {
            return known.name;
        }
    }
    return "?";
}

ScriptList ParseScriptList(const std::string& text) {
    ScriptList list;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::string trimmed = Trimmed(line);
        if (trimmed.empty() || trimmed[0] == '#') {
            continue;
        }
        auto error = [&](const std::string& message) {
            list.errors.push_back("line " + std::to_string(number) + ": " + message);
        };
        // The name ends at the first blank; a text argument is everything
        // after that one blank, kept exactly (inner and trailing blanks too).
        std::string afterIndent = line.substr(line.find_first_not_of(" \t"));
        std::size_t blank = afterIndent.find_first_of(" \t");
        std::string name = afterIndent.substr(0, blank);
        std::string argument = blank == std::string::npos ? "" : afterIndent.substr(blank + 1);
        auto known = std::find_if(std::begin(Functions), std::end(Functions),
                                  [&](const Known& entry) { return name == entry.name; });
        if (known == std::end(Functions)) {
            error("unknown function \"" + name +
                  "\" (PrintMessage, ExecuteCommand, SetSelectedReference, "
                  "GetSelectedReference, GetVersion)");
            continue;
        }
        if (!known->takesArgument && !Trimmed(argument).empty()) {
            error(std::string(known->name) + " takes no argument");
            continue;
        }
        if (known->function == ScriptFunction::SetSelectedReference) {
            argument = Trimmed(argument);
            const auto& names = WorldReferenceNames();
            if (argument != "none" &&
                std::find(names.begin(), names.end(), argument) == names.end()) {
                std::string choices;
                for (const std::string& choice : names) {
                    choices += choice + ", ";
                }
                error("no reference \"" + argument + "\" (" + choices + "none)");
                continue;
            }
        }
        list.calls.push_back(
            ScriptCall{known->function, known->takesArgument ? argument : "", number});
    }
    return list;
}

std::vector<ScriptCall> DefaultScriptCalls() {
    std::string longMessage;
    while (longMessage.size() < 1500) {
        longMessage += "The console shows long messages whole, in pieces the game can take. ";
    }
    return {
        {ScriptFunction::PrintMessage, "Hello from Quorvane: 100% of the calls arrive.", 0},
        {ScriptFunction::PrintMessage, longMessage, 0},
        {ScriptFunction::ExecuteCommand, "player.additem f 100", 0},
        {ScriptFunction::SetSelectedReference, "chest", 0},
        {ScriptFunction::GetSelectedReference, "", 0},
        {ScriptFunction::SetSelectedReference, "none", 0},
        {ScriptFunction::GetSelectedReference, "", 0},
        {ScriptFunction::GetVersion, "", 0},
    };
}

} // namespace e2e
