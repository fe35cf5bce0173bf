// libFuzzer: ReplaceAll with any subject, search and replacement (NUL bytes
// included) against the plain algorithm: find from a position, replace in
// place, go on after the inserted text.
#include "console/console_text.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string ReplaceAllReference(std::string subject, const std::string& search,
                                const std::string& replacement) {
    if (search.empty() || subject.empty()) {
        return subject;
    }
    std::size_t position = 0;
    for (std::size_t at = subject.find(search, position); at != std::string::npos;
         at = subject.find(search, position)) {
        subject.replace(at, search.size(), replacement);
        position = at + replacement.size();
    }
    return subject;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Two length bytes, then search, replacement and subject back to back.
    if (size < 2) {
        return 0;
    }
    const char* bytes = reinterpret_cast<const char*>(data) + 2;
    std::size_t rest = size - 2;
    const std::size_t searchLength = std::min<std::size_t>(data[0] % 8, rest);
    const std::string search(bytes, searchLength);
    bytes += searchLength;
    rest -= searchLength;
    const std::size_t replacementLength = std::min<std::size_t>(data[1] % 16, rest);
    const std::string replacement(bytes, replacementLength);
    bytes += replacementLength;
    rest -= replacementLength;
    const std::string subject(bytes, rest);

    const std::string result = quorvane::ReplaceAll(subject, search, replacement);
    if (result != ReplaceAllReference(subject, search, replacement)) {
        std::fprintf(stderr, "ReplaceAll differs from the reference\n");
        std::abort();
    }
    return 0;
}
