#include "pex_reader.h"

#include "pex_format.h"

#include <set>
#include <sstream>

namespace pexc_test {

namespace {

namespace format = pexc::format;

class Cursor {
public:
    explicit Cursor(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}

    std::uint64_t number(int size, const char* what) {
        if (bytes_.size() - offset_ < static_cast<std::size_t>(size)) {
            fail(std::string("file ends inside ") + what);
        }
        std::uint64_t value = 0;
        for (int i = 0; i < size; ++i) {
            value = (value << 8) | bytes_[offset_++];
        }
        return value;
    }
    std::uint8_t u8(const char* what) { return static_cast<std::uint8_t>(number(1, what)); }
    std::uint16_t u16(const char* what) { return static_cast<std::uint16_t>(number(2, what)); }
    std::uint32_t u32(const char* what) { return static_cast<std::uint32_t>(number(4, what)); }
    std::uint64_t u64(const char* what) { return number(8, what); }

    std::string str(const char* what) {
        std::size_t length = u16(what);
        if (bytes_.size() - offset_ < length) {
            fail(std::string("file ends inside ") + what);
        }
        std::string text(bytes_.begin() + static_cast<std::ptrdiff_t>(offset_),
                         bytes_.begin() + static_cast<std::ptrdiff_t>(offset_ + length));
        offset_ += length;
        return text;
    }

    [[noreturn]] void fail(const std::string& message) const {
        throw PexReadError("at byte " + std::to_string(offset_) + ": " + message);
    }

    std::size_t offset() const { return offset_; }
    bool at_end() const { return offset_ == bytes_.size(); }

private:
    const std::vector<std::uint8_t>& bytes_;
    std::size_t offset_ = 0;
};

} // namespace

PexFile read_pex(const std::vector<std::uint8_t>& bytes) {
    Cursor in(bytes);
    PexFile file;
    if (in.u32("the magic") != format::kMagic) {
        in.fail("wrong magic");
    }
    file.major_version = in.u8("the major version");
    file.minor_version = in.u8("the minor version");
    file.game_id = in.u16("the game id");
    if (file.major_version != format::kMajorVersion ||
        file.minor_version != format::kMinorVersion || file.game_id != format::kGameId) {
        in.fail("unexpected version or game id");
    }
    file.compilation_time = in.u64("the compilation time");
    file.source_file_name = in.str("the source file name");
    file.user_name = in.str("the user name");
    file.machine_name = in.str("the machine name");

    std::uint16_t string_count = in.u16("the string count");
    std::set<std::string> seen;
    for (std::uint16_t i = 0; i < string_count; ++i) {
        file.strings.push_back(in.str("a string of the string table"));
        if (!seen.insert(file.strings.back()).second) {
            in.fail("the string table holds '" + file.strings.back() + "' twice");
        }
    }
    auto name = [&](const char* what) -> std::string {
        std::uint16_t index = in.u16(what);
        if (index >= file.strings.size()) {
            in.fail(std::string("string index ") + std::to_string(index) + " out of range in " +
                    what);
        }
        return file.strings[index];
    };

    if (in.u8("the debug flag") != format::kNoDebugInfo) {
        in.fail("debug information present");
    }

    std::uint16_t flag_count = in.u16("the user-flag count");
    for (std::uint16_t i = 0; i < flag_count; ++i) {
        std::string flag_name = name("a user flag's name");
        std::uint8_t bit = in.u8("a user flag's bit");
        if (bit > 31) {
            in.fail("user flag bit out of range");
        }
        file.user_flags.emplace_back(flag_name, bit);
    }

    if (in.u16("the object count") != 1) {
        in.fail("expected exactly one object");
    }
    ScriptDecl& script = file.script;
    script.name = name("the object name");
    std::size_t size_at = in.offset();
    std::uint32_t object_size = in.u32("the object size");
    script.parent = name("the parent name");
    script.doc = name("the object's documentation");
    std::uint32_t user_flags = in.u32("the object's user flags");
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
        in.fail("object user flags set that the user-flag table does not name");
    }
    if (!name("the auto-state name").empty()) {
        in.fail("expected no auto state");
    }
    if (in.u16("the variable count") != 0 || in.u16("the property count") != 0) {
        in.fail("expected no variables and no properties");
    }
    if (in.u16("the state count") != 1) {
        in.fail("expected exactly one state");
    }
    if (!name("the state name").empty()) {
        in.fail("expected the state with the empty name");
    }
    std::uint16_t function_count = in.u16("the function count");
    for (std::uint16_t i = 0; i < function_count; ++i) {
        FunctionDecl function;
        function.name = name("a function name");
        function.return_type = name("a return type");
        function.doc = name("a function's documentation");
        if (in.u32("a function's user flags") != 0) {
            in.fail("function user flags set");
        }
        std::uint8_t flags = in.u8("a function's flags");
        if ((flags & ~(format::kFunctionGlobal | format::kFunctionNative)) != 0) {
            in.fail("unknown function flags");
        }
        function.is_global = (flags & format::kFunctionGlobal) != 0;
        function.is_native = (flags & format::kFunctionNative) != 0;
        std::uint16_t param_count = in.u16("a parameter count");
        for (std::uint16_t p = 0; p < param_count; ++p) {
            ParamDecl param;
            param.name = name("a parameter name");
            param.type = name("a parameter type");
            function.params.push_back(std::move(param));
        }
        if (in.u16("a local variable count") != 0 || in.u16("an instruction count") != 0) {
            in.fail("expected a function without locals and instructions");
        }
        script.functions.push_back(std::move(function));
    }
    if (in.offset() - size_at != object_size) {
        in.fail("the object size says " + std::to_string(object_size) + " but the object takes " +
                std::to_string(in.offset() - size_at) + " bytes with its size field");
    }
    if (!in.at_end()) {
        in.fail("bytes after the object");
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

void PrintTo(const ScriptDecl& script, std::ostream* out) { *out << "\n" << to_text(script); }

void PrintTo(const FunctionDecl& function, std::ostream* out) {
    ScriptDecl one;
    one.functions.push_back(function);
    std::string text = to_text(one);
    *out << text.substr(text.find('\n') + 1);
}

} // namespace pexc_test
