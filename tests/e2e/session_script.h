// The session runner's list of script calls: one call per line, as a script
// author would write them.
//
//   # a comment; blank lines are skipped
//   PrintMessage Hello 100%          the rest of the line, exactly, is the text
//   ExecuteCommand player.additem f 100
//   SetSelectedReference chest       a reference of the simulated world, or none
//   GetSelectedReference
//   GetVersion
#pragma once

#include <string>
#include <vector>

namespace e2e {

enum class ScriptFunction {
    PrintMessage,
    ExecuteCommand,
    SetSelectedReference,
    GetSelectedReference,
    GetVersion
};

struct ScriptCall {
    ScriptFunction function;
    std::string argument; // the text, or the reference's name ("none" for None)
    int line = 0;
};

struct ScriptList {
    std::vector<ScriptCall> calls;
    std::vector<std::string> errors; // "line N: ..."; a list with errors is not run
};

// The references that SetSelectedReference can name besides none.
const std::vector<std::string>& WorldReferenceNames();

ScriptList ParseScriptList(const std::string& text);

// The calls run when no list is given: a message with "%", a long message, a
// command, setting and reading the selection, and the version.
std::vector<ScriptCall> DefaultScriptCalls();

const char* FunctionName(ScriptFunction function);

} // namespace e2e
