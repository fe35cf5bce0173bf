// The DLL as players get it: a 32-bit x86 PE DLL that exports exactly the two
// entry points by their plain names and needs nothing beyond KERNEL32.dll and
// msvcrt.dll, which every Windows installation has.
#include "dll_path.h"
#include "pe_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <strings.h>

namespace {
using e2e::PeFile;

std::vector<std::string> ProblemsOf(const PeFile& file) {
    std::vector<std::string> problems;
    if (file.machine != e2e::MachineI386) {
        problems.push_back("machine is not i386");
    }
    if (file.optionalMagic != e2e::OptionalMagicPe32) {
        problems.push_back("not PE32");
    }
    if ((file.characteristics & e2e::CharacteristicDll) == 0) {
        problems.push_back("not marked as a DLL");
    }
    if ((file.characteristics & e2e::Characteristic32BitMachine) == 0) {
        problems.push_back("not marked for a 32-bit machine");
    }
    std::multiset<std::string> exports;
    for (const e2e::PeExport& entry : file.exports) {
        exports.insert(entry.name);
    }
    if (exports != std::multiset<std::string>{"SKSEPlugin_Load", "SKSEPlugin_Query"}) {
        std::string names;
        for (const std::string& name : exports) {
            names += " " + name;
        }
        problems.push_back("exports are" + names);
    }
    for (const e2e::PeImportedLibrary& library : file.imports) {
        // Windows compares library names without regard to case.
        if (strcasecmp(library.name.c_str(), "KERNEL32.dll") != 0 &&
            strcasecmp(library.name.c_str(), "msvcrt.dll") != 0) {
            problems.push_back("imports from " + library.name);
        }
    }
    return problems;
}

PeFile ReadShipped() {
    std::string error;
    auto file = e2e::ReadPeFile(e2e::ShippedDllPath(), &error);
    if (!file) {
        ADD_FAILURE() << e2e::ShippedDllPath() << ": " << error;
        return PeFile{};
    }
    return *file;
}

TEST(ShippedDll, IsA32BitDllWithTwoExportsAndTheTwoSystemLibraries) {
    PeFile file = ReadShipped();
    ASSERT_FALSE(file.bytes.empty());
    EXPECT_EQ(ProblemsOf(file), std::vector<std::string>{});
    // Both libraries are there: a plugin that imports neither is not this one.
    ASSERT_EQ(file.imports.size(), 2u);
    for (const e2e::PeImportedLibrary& library : file.imports) {
        EXPECT_FALSE(library.functions.empty()) << library.name;
    }
}

// The check itself catches each way the build could go wrong.
struct Damage {
    const char* what;
    const char* find;   // bytes of the file to overwrite (first occurrence)
    const char* change; // same length
};

class DamagedDll : public testing::TestWithParam<Damage> {};

TEST_P(DamagedDll, IsRejected) {
    PeFile file = ReadShipped();
    ASSERT_FALSE(file.bytes.empty());
    std::vector<std::uint8_t> bytes = file.bytes;
    const Damage& damage = GetParam();
    std::size_t length = std::strlen(damage.find);
    ASSERT_EQ(length, std::strlen(damage.change));
    auto at = std::search(bytes.begin(), bytes.end(), damage.find, damage.find + length);
    ASSERT_NE(at, bytes.end()) << damage.find;
    std::copy(damage.change, damage.change + length, at);

    std::string error;
    auto damaged = e2e::ParsePe(bytes, &error);
    ASSERT_TRUE(damaged.has_value()) << error;
    EXPECT_FALSE(ProblemsOf(*damaged).empty()) << damage.what;
}

INSTANTIATE_TEST_SUITE_P(Damages, DamagedDll,
                         testing::Values(Damage{"a decorated export", "SKSEPlugin_Load",
                                                "_SKSEPlugin_Loa"},
                                         Damage{"a third library", "msvcrt.dll", "msvcp1.dll"},
                                         Damage{"another kernel", "KERNEL32.dll", "KERNEL64.dll"}),
                         [](const testing::TestParamInfo<Damage>& info) {
                             std::string name = info.param.what;
                             std::replace(name.begin(), name.end(), ' ', '_');
                             return name;
                         });

TEST(ShippedDll, HeaderFlagsAreChecked) {
    PeFile file = ReadShipped();
    ASSERT_FALSE(file.bytes.empty());
    PeFile notDll = file;
    notDll.characteristics &= static_cast<std::uint16_t>(~e2e::CharacteristicDll);
    EXPECT_FALSE(ProblemsOf(notDll).empty());
    PeFile x64 = file;
    x64.machine = 0x8664;
    EXPECT_FALSE(ProblemsOf(x64).empty());
}

TEST(PeFile, RejectsDamagedHeadersWithoutReadingOutsideTheFile) {
    PeFile file = ReadShipped();
    ASSERT_FALSE(file.bytes.empty());
    std::string error;
    for (std::size_t length : {std::size_t{0}, std::size_t{2}, std::size_t{0x40},
                               std::size_t{0x100}, std::size_t{0x200}}) {
        std::vector<std::uint8_t> cut(file.bytes.begin(),
                                      file.bytes.begin() + static_cast<long>(length));
        EXPECT_FALSE(e2e::ParsePe(cut, &error).has_value()) << length;
    }
    std::vector<std::uint8_t> sectionsCut(file.bytes.begin(), file.bytes.end() - 0x1000);
    EXPECT_FALSE(e2e::ParsePe(sectionsCut, &error).has_value());
    EXPECT_FALSE(error.empty());
}

} // namespace
