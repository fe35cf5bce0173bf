#include "scratch_directory.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdlib.h>

namespace testhost {
namespace fs = std::filesystem;

namespace {
fs::path home;
fs::path scratch;
} // namespace

void EnterScratchDirectory() {
    home = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "quorvane-test-XXXXXX").string();
    scratch = mkdtemp(pattern.data());
    fs::current_path(scratch);
}

void LeaveScratchDirectory() {
    if (scratch.empty()) {
        return;
    }
    fs::current_path(home);
    std::error_code ignored;
    fs::permissions(scratch, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(scratch, ignored);
    scratch.clear();
}

std::string ReadFile(const char* name) {
    std::ifstream in(name, std::ios::binary);
    if (!in) {
        return "<missing>";
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool FileExists(const char* name) {
    return fs::exists(name);
}

} // namespace testhost
