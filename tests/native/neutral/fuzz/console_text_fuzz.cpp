// libFuzzer: the text path of a console print for any text. What the console
// is handed must show the script's text exactly: every chunk holds 1 to 1023
// characters and "%" only in whole "%%" pairs, a chunk is cut short only where
// the full length would split a pair, and the chunks read back (each "%%" as
// "%") give the text again.
#include "console/console_text.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

[[noreturn]] void Fail(const char* what, std::size_t at) {
    std::fprintf(stderr, "%s (at %zu)\n", what, at);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The script's text ends at its first NUL, as a cached string does.
    std::string text(reinterpret_cast<const char*>(data), size);
    text.resize(std::strlen(text.c_str()));

    const std::string escaped = quorvane::EscapeForConsole(text);

    std::string shown;
    std::size_t offset = 0;
    quorvane::ForEachChunk(escaped, [&](const char* chunk) {
        const std::size_t length = std::strlen(chunk);
        if (length == 0 || length > quorvane::ConsoleChunkLimit) {
            Fail("chunk length out of range", offset);
        }
        if (escaped.compare(offset, length, chunk) != 0) {
            Fail("chunk is not the next part of the escaped text", offset);
        }
        for (std::size_t i = 0; i < length; ++i) {
            shown += chunk[i];
            if (chunk[i] == '%') {
                if (i + 1 == length || chunk[i + 1] != '%') {
                    Fail("lone '%' in a chunk", offset + i);
                }
                ++i;
            }
        }
        offset += length;
        const bool last = offset == escaped.size();
        if (!last && length < quorvane::ConsoleChunkLimit) {
            // Only a pair that the full length would split shortens a chunk.
            if (length != quorvane::ConsoleChunkLimit - 1 || escaped[offset] != '%' ||
                escaped[offset + 1] != '%') {
                Fail("chunk cut short without need", offset);
            }
            std::size_t run = 0;
            for (std::size_t i = offset; i > 0 && escaped[i - 1] == '%'; --i) {
                ++run;
            }
            if (run % 2 != 0) {
                Fail("chunk cut short inside a run of pairs", offset);
            }
        }
    });
    if (offset != escaped.size()) {
        Fail("chunks end before the text", offset);
    }
    if (shown != text) {
        Fail("chunks do not give the text back", 0);
    }
    return 0;
}
