#include "writer.h"

#include "error.h"
#include "pex_format.h"

#include <limits>
#include <string_view>
#include <unordered_map>

namespace pexc {

namespace {

void put_u8(std::vector<std::uint8_t>& out, std::uint8_t value) {
    out.push_back(value);
}

void put_u16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    put_u8(out, static_cast<std::uint8_t>(value >> 8));
    put_u8(out, static_cast<std::uint8_t>(value));
}

void put_u32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    put_u16(out, static_cast<std::uint16_t>(value >> 16));
    put_u16(out, static_cast<std::uint16_t>(value));
}

void put_u64(std::vector<std::uint8_t>& out, std::uint64_t value) {
    put_u32(out, static_cast<std::uint32_t>(value >> 32));
    put_u32(out, static_cast<std::uint32_t>(value));
}

// A u16 byte length and the bytes; the caller has checked the length.
void put_string(std::vector<std::uint8_t>& out, std::string_view text) {
    put_u16(out, static_cast<std::uint16_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

// Each distinct string once, in the order of first use.
struct StringTable {
    std::vector<std::string> strings;
    std::unordered_map<std::string, std::uint16_t> index;
};

// The string's index, adding it to the table when it is new. line and what name the declaration
// and the kind of string in an error.
std::uint16_t add_string(StringTable& table, const std::string& text, int line,
                         std::string_view what) {
    if (text.size() > format::kMaxStringBytes) {
        throw CompileError(line, "expected " + std::string(what) + " of at most " +
                                     std::to_string(format::kMaxStringBytes) + " bytes, found " +
                                     std::to_string(text.size()) + " bytes");
    }
    if (auto it = table.index.find(text); it != table.index.end()) {
        return it->second;
    }
    if (table.strings.size() == format::kMaxStrings) {
        throw CompileError(line, "expected at most " + std::to_string(format::kMaxStrings) +
                                     " distinct strings in the compiled script, found more (this "
                                     "declaration brings string number " +
                                     std::to_string(format::kMaxStrings + 1) + ")");
    }
    auto index = static_cast<std::uint16_t>(table.strings.size());
    table.strings.push_back(text);
    table.index.emplace(text, index);
    return index;
}

void check_count(std::size_t count, int line, std::string_view what) {
    if (count > std::numeric_limits<std::uint16_t>::max()) {
        throw CompileError(line, "expected at most 65535 " + std::string(what) + ", found " +
                                     std::to_string(count));
    }
}

} // namespace

std::vector<std::uint8_t> write_pex(const Script& script, const WriteOptions& options) {
    if (options.source_file_name.size() > format::kMaxStringBytes) {
        throw CompileError(script.line, "expected a source file name of at most 65535 bytes");
    }
    check_count(script.functions.size(), script.line, "functions in a script");

    // The object comes first so that the string table is complete when the file is laid out.
    // Strings are added in a fixed order, close to the order in which the file uses them.
    StringTable strings;
    const int line = script.line;
    std::uint16_t hidden_name =
        add_string(strings, std::string(format::kHiddenFlagName), line, "a name");
    std::uint16_t conditional_name =
        add_string(strings, std::string(format::kConditionalFlagName), line, "a name");

    std::vector<std::uint8_t> object; // the object data, after its name and size
    std::uint16_t object_name = add_string(strings, script.name, line, "a name");
    std::uint16_t empty = add_string(strings, "", line, "a name");
    put_u16(object, add_string(strings, script.parent, line, "a name")); // "" when none
    put_u16(object, add_string(strings, script.doc, script.doc_line ? script.doc_line : line,
                               "a documentation comment"));
    std::uint32_t user_flags = 0;
    if (script.hidden) {
        user_flags |= 1u << format::kHiddenFlagBit;
    }
    if (script.conditional) {
        user_flags |= 1u << format::kConditionalFlagBit;
    }
    put_u32(object, user_flags);
    put_u16(object, empty); // auto state: none
    put_u16(object, 0);     // variables
    put_u16(object, 0);     // properties
    put_u16(object, 1);     // states: the default state, whose name is empty
    put_u16(object, empty);
    put_u16(object, static_cast<std::uint16_t>(script.functions.size()));
    for (const Function& function : script.functions) {
        check_count(function.parameters.size(), function.line, "parameters in a function");
        put_u16(object, add_string(strings, function.name, function.line, "a name"));
        put_u16(object,
                add_string(strings, type_name(function.return_type), function.line, "a type name"));
        put_u16(object, add_string(strings, function.doc,
                                   function.doc_line ? function.doc_line : function.line,
                                   "a documentation comment"));
        put_u32(object, 0); // user flags
        std::uint8_t flags = 0;
        if (function.is_global) {
            flags |= format::kFunctionGlobal;
        }
        if (function.is_native) {
            flags |= format::kFunctionNative;
        }
        put_u8(object, flags);
        put_u16(object, static_cast<std::uint16_t>(function.parameters.size()));
        for (const Parameter& parameter : function.parameters) {
            put_u16(object, add_string(strings, parameter.name, parameter.line, "a name"));
            put_u16(object,
                    add_string(strings, type_name(parameter.type), parameter.line, "a type name"));
        }
        put_u16(object, 0); // local variables
        put_u16(object, 0); // instructions
    }
    const std::size_t object_size = object.size() + 4; // the size field counts itself
    if (object_size > std::numeric_limits<std::uint32_t>::max()) {
        throw CompileError(line, "expected a compiled script object of at most 4 GiB, found " +
                                     std::to_string(object_size) + " bytes");
    }

    std::vector<std::uint8_t> out;
    put_u32(out, format::kMagic);
    put_u8(out, format::kMajorVersion);
    put_u8(out, format::kMinorVersion);
    put_u16(out, format::kGameId);
    put_u64(out, options.compilation_time);
    put_string(out, options.source_file_name);
    put_string(out, kUserName);
    put_string(out, kMachineName);

    put_u16(out, static_cast<std::uint16_t>(strings.strings.size()));
    for (const std::string& text : strings.strings) {
        put_string(out, text);
    }

    put_u8(out, format::kNoDebugInfo);

    put_u16(out, 2); // user flags
    put_u16(out, hidden_name);
    put_u8(out, format::kHiddenFlagBit);
    put_u16(out, conditional_name);
    put_u8(out, format::kConditionalFlagBit);

    put_u16(out, 1); // objects
    put_u16(out, object_name);
    put_u32(out, static_cast<std::uint32_t>(object_size));
    out.insert(out.end(), object.begin(), object.end());
    return out;
}

} // namespace pexc
