// A PE32 file as read from disk: the headers, sections and tables that the
// loader and the checks of the shipped DLL need. Plain records; nothing here
// maps or runs the image.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

struct PeSection {
    std::string name;
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t rawOffset = 0;
    std::uint32_t rawSize = 0;
};

struct PeExport {
    std::string name;
    std::uint32_t rva = 0;
};

// One imported function: by name, or by ordinal when name is empty.
struct PeImport {
    std::string name;
    std::uint16_t ordinal = 0;
    std::uint32_t addressSlotRva = 0; // the import address table entry the loader fills
};

struct PeImportedLibrary {
    std::string name;
    std::vector<PeImport> functions;
};

struct PeDirectory {
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
};

struct PeFile {
    std::vector<std::uint8_t> bytes;
    std::uint16_t machine = 0;
    std::uint16_t characteristics = 0;
    std::uint16_t optionalMagic = 0;
    std::uint32_t imageBase = 0;
    std::uint32_t sizeOfImage = 0;
    std::uint32_t sizeOfHeaders = 0;
    std::uint32_t entryPointRva = 0;
    std::vector<PeSection> sections;
    std::vector<PeExport> exports;
    std::vector<PeImportedLibrary> imports;
    PeDirectory relocations;
    PeDirectory tls;
};

inline constexpr std::uint16_t MachineI386 = 0x14C;
inline constexpr std::uint16_t OptionalMagicPe32 = 0x10B;
inline constexpr std::uint16_t CharacteristicDll = 0x2000;
inline constexpr std::uint16_t Characteristic32BitMachine = 0x0100;
inline constexpr std::uint16_t CharacteristicExecutable = 0x0002;

// Parses a PE file. Every offset and count is checked against the file, so a
// damaged file gives an error instead of a wild read.
std::optional<PeFile> ParsePe(std::vector<std::uint8_t> bytes, std::string* error);
std::optional<PeFile> ReadPeFile(const std::string& path, std::string* error);

// File offset of an image-relative address, or nullopt when no section (or
// the headers) holds it with at least size bytes of file data.
std::optional<std::uint32_t> FileOffsetOf(const PeFile& file, std::uint32_t rva,
                                          std::uint32_t size = 1);

} // namespace e2e
