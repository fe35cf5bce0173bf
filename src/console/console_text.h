// Text handling for console output, free of any host dependency so that it can
// be built and exercised on its own (sanitizers, fuzzing, benchmarks).
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace quorvane {

// The most characters the console's print operation is handed at once.
inline constexpr std::size_t ConsoleChunkLimit = 1023;

// subject with every occurrence of search replaced by replacement, scanning
// left to right and never looking inside text just inserted. An empty search
// or subject gives subject unchanged. Linear in the size of the result.
std::string ReplaceAll(std::string subject, std::string search, std::string replacement);

// The console formats what it prints; doubling every "%" makes it show the
// text exactly as given. Takes the text by value: a caller that owns its copy
// moves it in, and a text without "%" comes back without another copy.
std::string EscapeForConsole(std::string text);

// The length of the chunk of escaped that starts at offset: at most
// ConsoleChunkLimit, and one less when the limit would cut a "%%" pair in two.
// 0 once offset has reached the end. offset must start at 0 and advance by
// the lengths returned; the whole walk is then linear in the text.
std::size_t NextChunkLength(std::string_view escaped, std::size_t offset);

// Hands print each chunk of escaped, in order, as a NUL-terminated text in
// storage that lives only until print returns.
template <typename Print> void ForEachChunk(std::string_view escaped, Print&& print) {
    char chunk[ConsoleChunkLimit + 1];
    std::size_t offset = 0;
    while (offset < escaped.size()) {
        std::size_t length = NextChunkLength(escaped, offset);
        std::memcpy(chunk, escaped.data() + offset, length);
        chunk[length] = '\0';
        offset += length;
        print(static_cast<const char*>(chunk));
    }
}

} // namespace quorvane
