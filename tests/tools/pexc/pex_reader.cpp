#include "pex_reader.h"

#include "pex_format.h"

#include <set>
#include <sstream>

namespace pexc_test {

namespace {

namespace format = pexc::format;

// Where the reader stands in the file.
struct Cursor {
    const std::vector<std::uint8_t>& bytes;
    std::size_t offset = 0;
};

[[noreturn]] void fail(const Cursor& in, const std::string& message) {
    throw PexReadError("at byte " + std::to_string(in.offset) + ": " + message);
}

std::uint64_t read_number(Cursor& in, int size, const char* what) {
    if (in.bytes.size() - in.offset < static_cast<std::size_t>(size)) {
        fail(in, std::string("file ends inside ") + what);
    }
    std::uint64_t value = 0;
    for (int i = 0; i < size; ++i) {
        value = (value << 8) | in.bytes[in.offset++];
    }
    return value;
}

std::uint8_t read_u8(Cursor& in, const char* what) {
    return static_cast<std::uint8_t>(read_number(in, 1, what));
}
std::uint16_t read_u16(Cursor& in, const char* what) {
    return static_cast<std::uint16_t>(read_number(in, 2, what));
}
std::uint32_t read_u32(Cursor& in, const char* what) {
    return static_cast<std::uint32_t>(read_number(in, 4, what));
}

std::string read_string(Cursor& in, const char* what) {
    std::size_t length = read_u16(in, what);
    if (in.bytes.size() - in.offset < length) {
        fail(in, std::string("file ends inside ") + what);
    }
    auto first = in.bytes.begin() + static_cast<std::ptrdiff_t>(in.offset);
    in.offset += length;
    return std::string(first, first + static_cast<std::ptrdiff_t>(length));
}

// A u16 index into the string table, and the string it names.
std::string read_name(Cursor& in, const std::vector<std::string>& strings, const char* what) {
    std::uint16_t index = read_u16(in, what);
    if (index >= strings.size()) {
        fail(in, "string index " + std::to_string(index) + " out of range in " + what);
    }
    return strings[index];
}

} // namespace

PexFile read_pex(const std::vector<std::uint8_t>& bytes) {
    Cursor in{bytes};
    PexFile file;
    if (read_u32(in, "the magic") != format::kMagic) {
        fail(in, "wrong magic");
    }
    file.major_version = read_u8(in, "the major version");
    file.minor_version = read_u8(in, "the minor version");
    file.game_id = read_u16(in, "the game id");
    if (file.major_version != format::kMajorVersion ||
        file.minor_version != format::kMinorVersion || file.game_id != format::kGameId) {
        fail(in, "unexpected version or game id");
    }
    file.compilation_time = read_number(in, 8, "the compilation time");
    file.source_file_name = read_string(in, "the source file name");
    file.user_name = read_string(in, "the user name");
    file.machine_name = read_string(in, "the machine name");

    std::uint16_t string_count = read_u16(in, "the string count");
    std::set<std::string> seen;
    for (std::uint16_t i = 0; i < string_count; ++i) {
        file.strings.push_back(read_string(in, "a string of the string table"));
        if (!seen.insert(file.strings.back()).second) {
            fail(in, "the string table holds '" + file.strings.back() + "' twice");
        }
    }

    if (read_u8(in, "the debug flag") != format::kNoDebugInfo) {
        fail(in, "debug information present");
    }

    std::uint16_t flag_count = read_u16(in, "the user-flag count");
    for (std::uint16_t i = 0; i < flag_count; ++i) {
        std::string flag_name = read_name(in, file.strings, "a user flag's name");
        std::uint8_t bit = read_u8(in, "a user flag's bit");
        if (bit > 31) {
            fail(in, "user flag bit out of range");
        }
        file.user_flags.emplace_back(flag_name, bit);
    }

    if (read_u16(in, "the object count") != 1) {
        fail(in, "expected exactly one object");
    }
    ScriptDecl& script = file.script;
    script.name = read_name(in, file.strings, "the object name");
    std::size_t size_at = in.offset;
    std::uint32_t object_size = read_u32(in, "the object size");
    script.parent = read_name(in, file.strings, "the parent name");
    script.doc = read_name(in, file.strings, "the object's documentation");
    std::uint32_t user_flags = read_u32(in, "the object's user flags");
    for (const auto& [flag_name, bit] : file.user_flags) {
        bool set = (user_flags >> bit) & 1u;
        if (flag_name == format::kHiddenFlagName) {
            script.hidden = set;
        } else if (flag_name == format::kConditionalFlagName) {
            script.conditional = set;
        }
        user_flags &= ~(1u << bit);
    }
    if (user_flags != 0) {
        fail(in, "object user flags set that the user-flag table does not name");
    }
    if (!read_name(in, file.strings, "the auto-state name").empty()) {
        fail(in, "expected no auto state");
    }
    if (read_u16(in, "the variable count") != 0 || read_u16(in, "the property count") != 0) {
        fail(in, "expected no variables and no properties");
    }
    if (read_u16(in, "the state count") != 1) {
        fail(in, "expected exactly one state");
    }
    if (!read_name(in, file.strings, "the state name").empty()) {
        fail(in, "expected the state with the empty name");
    }
    std::uint16_t function_count = read_u16(in, "the function count");
    for (std::uint16_t i = 0; i < function_count; ++i) {
        FunctionDecl function;
        function.name = read_name(in, file.strings, "a function name");
        function.return_type = read_name(in, file.strings, "a return type");
        function.doc = read_name(in, file.strings, "a function's documentation");
        if (read_u32(in, "a function's user flags") != 0) {
            fail(in, "function user flags set");
        }
        std::uint8_t flags = read_u8(in, "a function's flags");
        if ((flags & ~(format::kFunctionGlobal | format::kFunctionNative)) != 0) {
            fail(in, "unknown function flags");
        }
        function.is_global = (flags & format::kFunctionGlobal) != 0;
        function.is_native = (flags & format::kFunctionNative) != 0;
        std::uint16_t param_count = read_u16(in, "a parameter count");
        for (std::uint16_t p = 0; p < param_count; ++p) {
            ParamDecl param;
            param.name = read_name(in, file.strings, "a parameter name");
            param.type = read_name(in, file.strings, "a parameter type");
            function.params.push_back(std::move(param));
        }
        if (read_u16(in, "a local variable count") != 0 ||
            read_u16(in, "an instruction count") != 0) {
            fail(in, "expected a function without locals and instructions");
        }
        script.functions.push_back(std::move(function));
    }
    if (in.offset - size_at != object_size) {
        fail(in, "the object size says " + std::to_string(object_size) + " but the object takes " +
                     std::to_string(in.offset - size_at) + " bytes with its size field");
    }
    if (in.offset != bytes.size()) {
        fail(in, "bytes after the object");
    }
    return file;
}

std::string to_text(const ScriptDecl& script) {
    std::ostringstream out;
    out << "Scriptname " << script.name;
    if (!script.parent.empty()) {
        out << " extends " << script.parent;
    }
    if (script.hidden) {
        out << " Hidden";
    }
    if (script.conditional) {
        out << " Conditional";
    }
    out << "\n";
    if (!script.doc.empty()) {
        out << "{" << script.doc << "}\n";
    }
    for (const FunctionDecl& function : script.functions) {
        if (function.return_type != format::kNoneTypeName) {
            out << function.return_type << " ";
        }
        out << "Function " << function.name << "(";
        for (std::size_t i = 0; i < function.params.size(); ++i) {
            out << (i ? ", " : "") << function.params[i].type << " " << function.params[i].name;
        }
        out << ")";
        if (function.is_global) {
            out << " Global";
        }
        if (function.is_native) {
            out << " Native";
        }
        out << "\n";
        if (!function.doc.empty()) {
            out << "{" << function.doc << "}\n";
        }
    }
    return out.str();
}

void PrintTo(const ScriptDecl& script, std::ostream* out) {
    *out << "\n" << to_text(script);
}

void PrintTo(const FunctionDecl& function, std::ostream* out) {
    ScriptDecl one;
    one.functions.push_back(function);
    std::string text = to_text(one);
    *out << text.substr(text.find('\n') + 1);
}

} // namespace pexc_test
