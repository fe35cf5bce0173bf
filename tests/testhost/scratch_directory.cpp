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

void CreateLogFile(const std::string& content) {
    std::ofstream out("Quorvane.txt", std::ios::binary | std::ios::trunc);
    out << content;
}

std::time_t NinthOfDecember2026() {
    std::tm when{};
    when.tm_year = 2026 - 1900;
    when.tm_mon = 11;
    when.tm_mday = 9;
    when.tm_hour = 17;
    when.tm_min = 6;
    when.tm_sec = 5;
    return timegm(&when);
}

} // namespace testhost
