// Constants of the compiled script format (.pex) of this game generation, as publicly
// documented. All integers in the file are big-endian.
//
// This header holds only the format's constants: the writer (writer.cpp) and the test reader
// (tests/tools/pexc) both use it, and share nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pexc::format {

inline constexpr std::uint32_t kMagic = 0xFA57C0DE;
inline constexpr std::uint8_t kMajorVersion = 3;
inline constexpr std::uint8_t kMinorVersion = 2;
inline constexpr std::uint16_t kGameId = 1;

// Strings are a u16 byte length and the bytes; names are u16 indices into the string table.
inline constexpr std::size_t kMaxStringBytes = 0xFFFF;
inline constexpr std::size_t kMaxStrings = 0xFFFF;

// The debug-information flag: 0 means none, and nothing follows it.
inline constexpr std::uint8_t kNoDebugInfo = 0;

// User flags: their names in the user-flag table and their bit indices.
inline constexpr std::string_view kHiddenFlagName = "hidden";
inline constexpr std::uint8_t kHiddenFlagBit = 0;
inline constexpr std::string_view kConditionalFlagName = "conditional";
inline constexpr std::uint8_t kConditionalFlagBit = 1;

// Function flags (the u8 after a function's user flags).
inline constexpr std::uint8_t kFunctionGlobal = 0x01;
inline constexpr std::uint8_t kFunctionNative = 0x02;

// The return type name of a function without a result.
inline constexpr std::string_view kNoneTypeName = "None";

} // namespace pexc::format
