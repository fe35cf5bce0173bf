// pexdump FILE.pex: prints a compiled script's header and declarations, using the tests' own
// reader (not the compiler's code). A helper for people; the tests do not run it.
#include "pex_reader.h"

#include <fstream>
#include <iostream>
#include <iterator>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: pexdump FILE.pex\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cerr << "pexdump: cannot read " << argv[1] << "\n";
        return 1;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    try {
        pexc_test::PexFile file = pexc_test::read_pex(bytes);
        std::cout << "; version " << int(file.major_version) << "." << int(file.minor_version)
                  << ", game " << file.game_id << ", compiled at " << file.compilation_time
                  << " from " << file.source_file_name << " by " << file.user_name << " on "
                  << file.machine_name << "\n; " << file.strings.size() << " strings, "
                  << bytes.size() << " bytes; user flags:";
        for (const auto& [name, bit] : file.user_flags) {
            std::cout << " " << name << "=bit " << int(bit);
        }
        std::cout << "\n" << pexc_test::to_text(file.script);
    } catch (const pexc_test::PexReadError& error) {
        std::cerr << "pexdump: " << argv[1] << ": " << error.what() << "\n";
        return 1;
    }
    return 0;
}
