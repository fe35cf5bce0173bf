#include "console/console_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

namespace quorvane {

namespace {

// How often c occurs in [begin, end). A one-byte counter per block of at most
// 255 characters lets the compiler compare sixteen bytes per step; a wider
// counter makes it widen every byte and run several times slower.
std::size_t CountOf(const char* begin, const char* end, char c) {
    constexpr std::size_t Block = 255;
    std::size_t total = 0;
    while (begin != end) {
        const std::size_t length = std::min(static_cast<std::size_t>(end - begin), Block);
        std::uint8_t count = 0;
        for (std::size_t i = 0; i < length; ++i) {
            count += begin[i] == c ? 1 : 0;
        }
        total += count;
        begin += length;
    }
    return total;
}

// Writes the replacement once for each match in the run at in, and moves in
// past the run. Two characters (the console's escaping) get a loop of their
// own: with the length known, each match costs two byte stores.
char* WriteRun(char* out, const char*& in, const char* end, char search, const char* with,
               std::size_t withSize) {
    if (withSize == 2) {
        const char first = with[0];
        const char second = with[1];
        for (; in != end && *in == search; ++in) {
            out[0] = first;
            out[1] = second;
            out += 2;
        }
        return out;
    }
    for (; in != end && *in == search; ++in) {
        for (std::size_t i = 0; i < withSize; ++i) {
            *out++ = with[i];
        }
    }
    return out;
}

// A megabyte of "%" is a million matches: one pass of plain byte copies into
// storage sized once, with no search call or append per match. Runs without
// a match go over in one copy.
std::string ReplaceEveryCharacter(std::string subject, char search,
                                  const std::string& replacement) {
    const char* in = subject.data();
    const char* const end = in + subject.size();
    const std::size_t occurrences = CountOf(in, end, search);
    if (occurrences == 0) {
        return subject;
    }

    const char* const with = replacement.data();
    const std::size_t withSize = replacement.size();
    std::string result(subject.size() - occurrences + occurrences * withSize, '\0');
    char* out = result.data();
    while (in != end) {
        const char* match =
            static_cast<const char*>(std::memchr(in, search, static_cast<std::size_t>(end - in)));
        const char* runEnd = match != nullptr ? match : end;
        std::memcpy(out, in, static_cast<std::size_t>(runEnd - in));
        out += runEnd - in;
        in = runEnd;
        out = WriteRun(out, in, end, search, with, withSize);
    }
    return result;
}

} // namespace

std::string ReplaceAll(std::string subject, std::string search, std::string replacement) {
    if (search.empty() || subject.empty()) {
        return subject;
    }
    if (search.size() == 1) {
        return ReplaceEveryCharacter(std::move(subject), search[0], replacement);
    }

    // Count first so that the result is allocated once: shifting the tail
    // once per occurrence would make a long text quadratic.
    std::size_t occurrences = 0;
    for (std::size_t at = subject.find(search); at != std::string::npos;
         at = subject.find(search, at + search.size())) {
        ++occurrences;
    }
    if (occurrences == 0) {
        return subject;
    }

    std::string result;
    result.reserve(subject.size() - occurrences * search.size() + occurrences * replacement.size());
    std::size_t position = 0;
    for (std::size_t at = subject.find(search); at != std::string::npos;
         at = subject.find(search, position)) {
        result.append(subject, position, at - position);
        result.append(replacement);
        position = at + search.size();
    }
    result.append(subject, position, std::string::npos);
    return result;
}

std::string EscapeForConsole(std::string text) {
    return ReplaceAll(std::move(text), "%", "%%");
}

std::size_t NextChunkLength(std::string_view escaped, std::size_t offset) {
    if (offset >= escaped.size()) {
        return 0;
    }
    std::size_t remaining = escaped.size() - offset;
    if (remaining <= ConsoleChunkLimit) {
        return remaining;
    }

    // Every "%" of the escaped text is one of a pair, and chunks start on pair
    // boundaries. So the chunk's last character opens a pair (whose second
    // half would land in the next chunk) exactly when the chunk holds an odd
    // number of "%". Counting is one vectorised pass over at most 1023 bytes;
    // walking back over a run of "%" is not needed.
    const char* begin = escaped.data() + offset;
    const char* last = begin + ConsoleChunkLimit - 1;
    if (*last != '%' || last[1] != '%') {
        return ConsoleChunkLimit;
    }
    std::size_t percents = CountOf(begin, last + 1, '%');
    return percents % 2 == 1 ? ConsoleChunkLimit - 1 : ConsoleChunkLimit;
}

} // namespace quorvane
