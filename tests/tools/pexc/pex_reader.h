// A reader for the compiled script format (.pex), written for the tests on its own: it shares
// only the format's constants (pex_format.h) with the writer. It is strict: anything that a
// declaration-only script compiled by pexc would not hold is an error (PexReadError, with the
// byte offset).
#pragma once

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace pexc_test {

struct ParamDecl {
    std::string name;
    std::string type;
    bool operator==(const ParamDecl&) const = default;
};

struct FunctionDecl {
    std::string name;
    std::string return_type; // "None" for no result
    std::string doc;
    bool is_global = true;
    bool is_native = true;
    std::vector<ParamDecl> params;
    bool operator==(const FunctionDecl&) const = default;
};

// The declarations of a script, as they come back out of a compiled file.
struct ScriptDecl {
    std::string name;
    std::string parent;
    std::string doc;
    bool hidden = false;
    bool conditional = false;
    std::vector<FunctionDecl> functions;
    bool operator==(const ScriptDecl&) const = default;
};

// Everything in a compiled file.
struct PexFile {
    std::uint8_t major_version = 0;
    std::uint8_t minor_version = 0;
    std::uint16_t game_id = 0;
    std::uint64_t compilation_time = 0;
    std::string source_file_name;
    std::string user_name;
    std::string machine_name;
    std::vector<std::string> strings;
    std::vector<std::pair<std::string, std::uint8_t>> user_flags; // name, bit index
    ScriptDecl script;
};

struct PexReadError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

PexFile read_pex(const std::vector<std::uint8_t>& bytes);

// The declarations in script-source form, one per line (also gtest's printer for them).
std::string to_text(const ScriptDecl& script);
void PrintTo(const ScriptDecl& script, std::ostream* out);
void PrintTo(const FunctionDecl& function, std::ostream* out);

} // namespace pexc_test
