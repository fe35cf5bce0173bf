#include "writer.h"

#include "error.h"
#include "pex_format.h"

#include <limits>
#include <string_view>
#include <unordered_map>

namespace pexc {

namespace {

class Bytes {
public:
    void u8(std::uint8_t value) { bytes_.push_back(value); }
    void u16(std::uint16_t value) {
        u8(static_cast<std::uint8_t>(value >> 8));
        u8(static_cast<std::uint8_t>(value));
    }
    void u32(std::uint32_t value) {
        u16(static_cast<std::uint16_t>(value >> 16));
        u16(static_cast<std::uint16_t>(value));
    }
    void u64(std::uint64_t value) {
        u32(static_cast<std::uint32_t>(value >> 32));
        u32(static_cast<std::uint32_t>(value));
    }
    // A u16 byte length and the bytes; the caller has checked the length.
    void str(std::string_view text) {
        u16(static_cast<std::uint16_t>(text.size()));
        bytes_.insert(bytes_.end(), text.begin(), text.end());
    }
    void append(const Bytes& other) {
        bytes_.insert(bytes_.end(), other.bytes_.begin(), other.bytes_.end());
    }
    std::size_t size() const { return bytes_.size(); }
    std::vector<std::uint8_t> take() { return std::move(bytes_); }

private:
    std::vector<std::uint8_t> bytes_;
};

// Each distinct string once, in the order of first use.
class StringTable {
public:
    std::uint16_t add(const std::string& text, int line, std::string_view what) {
        if (text.size() > format::kMaxStringBytes) {
            throw CompileError(line, "expected " + std::string(what) + " of at most " +
                                         std::to_string(format::kMaxStringBytes) +
                                         " bytes, found " + std::to_string(text.size()) +
                                         " bytes");
        }
        if (auto it = index_.find(text); it != index_.end()) {
            return it->second;
        }
        if (strings_.size() == format::kMaxStrings) {
            throw CompileError(line, "expected at most " + std::to_string(format::kMaxStrings) +
                                         " distinct strings in the compiled script, found more "
                                         "(this declaration brings string number " +
                                         std::to_string(format::kMaxStrings + 1) + ")");
        }
        auto index = static_cast<std::uint16_t>(strings_.size());
        strings_.push_back(text);
        index_.emplace(text, index);
        return index;
    }
    const std::vector<std::string>& strings() const { return strings_; }

private:
    std::vector<std::string> strings_;
    std::unordered_map<std::string, std::uint16_t> index_;
};

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

    // The strings are added in a fixed order, close to the order in which the file uses them.
    StringTable strings;
    const int line = script.line;
    std::uint16_t hidden_name = strings.add(std::string(format::kHiddenFlagName), line, "a name");
    std::uint16_t conditional_name =
        strings.add(std::string(format::kConditionalFlagName), line, "a name");

    Bytes object; // the object data, after its name and size
    std::uint16_t object_name = strings.add(script.name, line, "a name");
    std::uint16_t empty = strings.add("", line, "a name");
    object.u16(strings.add(script.parent, line, "a name")); // "" when there is none
    object.u16(strings.add(script.doc, line, "a documentation comment"));
    std::uint32_t user_flags = 0;
    if (script.hidden) {
        user_flags |= 1u << format::kHiddenFlagBit;
    }
    if (script.conditional) {
        user_flags |= 1u << format::kConditionalFlagBit;
    }
    object.u32(user_flags);
    object.u16(empty); // auto state: none
    object.u16(0);     // variables
    object.u16(0);     // properties
    object.u16(1);     // states: the empty-named default state
    object.u16(empty);
    object.u16(static_cast<std::uint16_t>(script.functions.size()));
    for (const Function& function : script.functions) {
        check_count(function.parameters.size(), function.line, "parameters in a function");
        object.u16(strings.add(function.name, function.line, "a name"));
        object.u16(strings.add(function.return_type.name(), function.line, "a type name"));
        object.u16(strings.add(function.doc, function.line, "a documentation comment"));
        object.u32(0); // user flags
        std::uint8_t flags = 0;
        if (function.is_global) {
            flags |= format::kFunctionGlobal;
        }
        if (function.is_native) {
            flags |= format::kFunctionNative;
        }
        object.u8(flags);
        object.u16(static_cast<std::uint16_t>(function.parameters.size()));
        for (const Parameter& parameter : function.parameters) {
            object.u16(strings.add(parameter.name, parameter.line, "a name"));
            object.u16(strings.add(parameter.type.name(), parameter.line, "a type name"));
        }
        object.u16(0); // local variables
        object.u16(0); // instructions
    }
    const std::size_t object_size = object.size() + 4; // the size field counts itself
    if (object_size > std::numeric_limits<std::uint32_t>::max()) {
        throw CompileError(line, "expected a compiled script object of at most 4 GiB, found " +
                                     std::to_string(object_size) + " bytes");
    }

    Bytes out;
    out.u32(format::kMagic);
    out.u8(format::kMajorVersion);
    out.u8(format::kMinorVersion);
    out.u16(format::kGameId);
    out.u64(options.compilation_time);
    out.str(options.source_file_name);
    out.str(kUserName);
    out.str(kMachineName);

    out.u16(static_cast<std::uint16_t>(strings.strings().size()));
    for (const std::string& text : strings.strings()) {
        out.str(text);
    }

    out.u8(format::kNoDebugInfo);

    out.u16(2); // user flags
    out.u16(hidden_name);
    out.u8(format::kHiddenFlagBit);
    out.u16(conditional_name);
    out.u8(format::kConditionalFlagBit);

    out.u16(1); // objects
    out.u16(object_name);
    out.u32(static_cast<std::uint32_t>(object_size));
    out.append(object);
    return out.take();
}

} // namespace pexc
