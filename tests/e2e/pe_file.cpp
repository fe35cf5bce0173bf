#include "pe_file.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace e2e {
namespace {

struct Reader {
    const std::vector<std::uint8_t>& bytes;
    std::string* error;
    bool failed = false;

    bool Fail(const std::string& message) {
        if (!failed && error != nullptr) {
            *error = message;
        }
        failed = true;
        return false;
    }
    bool Has(std::uint64_t offset, std::uint64_t size) const {
        return offset + size <= bytes.size();
    }
    template <typename T> T At(std::uint64_t offset) {
        T value{};
        if (!Has(offset, sizeof(T))) {
            Fail("the file ends inside a header or table (offset " + std::to_string(offset) + ")");
            return value;
        }
        std::memcpy(&value, bytes.data() + offset, sizeof(T));
        return value;
    }
};

std::optional<std::string> StringAt(const PeFile& file, std::uint32_t rva) {
    auto offset = FileOffsetOf(file, rva);
    if (!offset) {
        return std::nullopt;
    }
    std::string text;
    for (std::uint32_t i = *offset; i < file.bytes.size(); ++i) {
        if (file.bytes[i] == 0) {
            return text;
        }
        text.push_back(static_cast<char>(file.bytes[i]));
    }
    return std::nullopt;
}

bool ReadExports(PeFile& file, PeDirectory directory, Reader& reader) {
    if (directory.rva == 0) {
        return true;
    }
    auto table = FileOffsetOf(file, directory.rva, 40);
    if (!table) {
        return reader.Fail("the export directory lies outside the file");
    }
    auto functionCount = reader.At<std::uint32_t>(*table + 20);
    auto nameCount = reader.At<std::uint32_t>(*table + 24);
    auto functionsRva = reader.At<std::uint32_t>(*table + 28);
    auto namesRva = reader.At<std::uint32_t>(*table + 32);
    auto ordinalsRva = reader.At<std::uint32_t>(*table + 36);
    if (nameCount > 0x10000 || functionCount > 0x10000) {
        return reader.Fail("the export directory claims too many entries");
    }
    for (std::uint32_t i = 0; i < nameCount; ++i) {
        auto nameSlot = FileOffsetOf(file, namesRva + 4 * i, 4);
        auto ordinalSlot = FileOffsetOf(file, ordinalsRva + 2 * i, 2);
        if (!nameSlot || !ordinalSlot) {
            return reader.Fail("an export name entry lies outside the file");
        }
        auto name = StringAt(file, reader.At<std::uint32_t>(*nameSlot));
        std::uint16_t ordinal = reader.At<std::uint16_t>(*ordinalSlot);
        auto functionSlot = FileOffsetOf(file, functionsRva + 4u * ordinal, 4);
        if (!name || ordinal >= functionCount || !functionSlot) {
            return reader.Fail("an export entry is damaged");
        }
        file.exports.push_back(PeExport{*name, reader.At<std::uint32_t>(*functionSlot)});
    }
    return !reader.failed;
}

bool ReadImports(PeFile& file, PeDirectory directory, Reader& reader) {
    if (directory.rva == 0) {
        return true;
    }
    for (std::uint32_t descriptor = directory.rva;; descriptor += 20) {
        auto at = FileOffsetOf(file, descriptor, 20);
        if (!at) {
            return reader.Fail("the import directory runs outside the file");
        }
        auto lookupRva = reader.At<std::uint32_t>(*at);
        auto nameRva = reader.At<std::uint32_t>(*at + 12);
        auto addressRva = reader.At<std::uint32_t>(*at + 16);
        if (nameRva == 0 && addressRva == 0) {
            return !reader.failed;
        }
        auto name = StringAt(file, nameRva);
        if (!name) {
            return reader.Fail("an imported library's name lies outside the file");
        }
        PeImportedLibrary library{*name, {}};
        // The lookup table names the functions; without one the address table does.
        std::uint32_t namesRva = lookupRva != 0 ? lookupRva : addressRva;
        for (std::uint32_t index = 0;; ++index) {
            auto entry = FileOffsetOf(file, namesRva + 4 * index, 4);
            if (!entry || index > 0x10000) {
                return reader.Fail("the imports of " + *name + " run outside the file");
            }
            auto word = reader.At<std::uint32_t>(*entry);
            if (word == 0) {
                break;
            }
            PeImport function;
            function.addressSlotRva = addressRva + 4 * index;
            if ((word & 0x80000000u) != 0) {
                function.ordinal = static_cast<std::uint16_t>(word & 0xFFFF);
            } else {
                auto functionName = StringAt(file, word + 2); // after the 2-byte hint
                if (!functionName) {
                    return reader.Fail("an import name of " + *name + " lies outside the file");
                }
                function.name = *functionName;
            }
            library.functions.push_back(function);
        }
        file.imports.push_back(library);
        if (file.imports.size() > 256) {
            return reader.Fail("the import directory does not end");
        }
    }
}

} // namespace

std::optional<std::uint32_t> FileOffsetOf(const PeFile& file, std::uint32_t rva,
                                          std::uint32_t size) {
    auto fits = [&](std::uint64_t offset) { return offset + size <= file.bytes.size(); };
    if (rva < file.sizeOfHeaders) {
        return fits(rva) ? std::optional<std::uint32_t>(rva) : std::nullopt;
    }
    for (const PeSection& section : file.sections) {
        std::uint64_t begin = section.virtualAddress;
        std::uint64_t end = begin + section.rawSize;
        if (rva >= begin && std::uint64_t{rva} + size <= end) {
            std::uint64_t offset = section.rawOffset + (rva - begin);
            return fits(offset) ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(offset))
                                : std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<PeFile> ParsePe(std::vector<std::uint8_t> bytes, std::string* error) {
    PeFile file;
    file.bytes = std::move(bytes);
    Reader reader{file.bytes, error};

    if (!reader.Has(0, 64) || file.bytes[0] != 'M' || file.bytes[1] != 'Z') {
        reader.Fail("not an MZ executable");
        return std::nullopt;
    }
    auto peOffset = reader.At<std::uint32_t>(0x3C);
    if (reader.At<std::uint32_t>(peOffset) != 0x00004550) { // "PE\0\0"
        reader.Fail("no PE signature");
        return std::nullopt;
    }
    std::uint64_t header = std::uint64_t{peOffset} + 4;
    file.machine = reader.At<std::uint16_t>(header);
    auto sectionCount = reader.At<std::uint16_t>(header + 2);
    auto optionalSize = reader.At<std::uint16_t>(header + 16);
    file.characteristics = reader.At<std::uint16_t>(header + 18);
    std::uint64_t optional = header + 20;
    file.optionalMagic = reader.At<std::uint16_t>(optional);
    if (reader.failed) {
        return std::nullopt;
    }
    if (file.optionalMagic != OptionalMagicPe32 || optionalSize < 96 + 16 * 8) {
        reader.Fail("not a PE32 image (optional header magic " +
                    std::to_string(file.optionalMagic) + ")");
        return std::nullopt;
    }
    file.entryPointRva = reader.At<std::uint32_t>(optional + 16);
    file.imageBase = reader.At<std::uint32_t>(optional + 28);
    file.sizeOfImage = reader.At<std::uint32_t>(optional + 56);
    file.sizeOfHeaders = reader.At<std::uint32_t>(optional + 60);
    auto directoryCount = reader.At<std::uint32_t>(optional + 92);
    auto directory = [&](std::uint32_t index) {
        if (index >= directoryCount) {
            return PeDirectory{};
        }
        return PeDirectory{reader.At<std::uint32_t>(optional + 96 + 8 * index),
                           reader.At<std::uint32_t>(optional + 100 + 8 * index)};
    };
    PeDirectory exportDirectory = directory(0);
    PeDirectory importDirectory = directory(1);
    file.relocations = directory(5);
    file.tls = directory(9);

    std::uint64_t sectionTable = optional + optionalSize;
    for (std::uint32_t i = 0; i < sectionCount; ++i) {
        std::uint64_t at = sectionTable + 40 * i;
        if (!reader.Has(at, 40)) {
            reader.Fail("the section table runs outside the file");
            return std::nullopt;
        }
        PeSection section;
        const char* name = reinterpret_cast<const char*>(file.bytes.data() + at);
        section.name.assign(name, strnlen(name, 8));
        section.virtualSize = reader.At<std::uint32_t>(at + 8);
        section.virtualAddress = reader.At<std::uint32_t>(at + 12);
        section.rawSize = reader.At<std::uint32_t>(at + 16);
        section.rawOffset = reader.At<std::uint32_t>(at + 20);
        if (section.rawSize != 0 &&
            std::uint64_t{section.rawOffset} + section.rawSize > file.bytes.size()) {
            reader.Fail("section " + section.name + " runs outside the file");
            return std::nullopt;
        }
        if (std::uint64_t{section.virtualAddress} + section.virtualSize > file.sizeOfImage ||
            std::uint64_t{section.virtualAddress} + section.rawSize > file.sizeOfImage) {
            reader.Fail("section " + section.name + " runs outside the image");
            return std::nullopt;
        }
        file.sections.push_back(section);
    }
    if (!ReadExports(file, exportDirectory, reader) ||
        !ReadImports(file, importDirectory, reader)) {
        return std::nullopt;
    }
    return file;
}

std::optional<PeFile> ReadPeFile(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error != nullptr) {
            *error = "cannot open " + path;
        }
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    return ParsePe(std::move(bytes), error);
}

} // namespace e2e
