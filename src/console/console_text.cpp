#include "console/console_text.h"

namespace quorvane {

std::string ReplaceAll(std::string subject, std::string search, std::string replacement) {
    if (search.empty() || subject.empty()) {
        return subject;
    }

    // Count first so that the result is allocated once: a megabyte of "%"
    // must not turn into a cascade of reallocations, let alone shifting the
    // tail once per occurrence.
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

std::string EscapeForConsole(std::string_view text) {
    return ReplaceAll(std::string(text), "%", "%%");
}

std::size_t NextChunkLength(std::string_view escaped, std::size_t offset) {
    if (offset >= escaped.size()) {
        return 0;
    }
    std::size_t remaining = escaped.size() - offset;
    if (remaining <= ConsoleChunkLimit) {
        return remaining;
    }

    // Chunks start on pair boundaries, so within this chunk a run of "%"
    // that ends on the last character pairs up from its start: an odd run
    // means the last "%" opens a pair whose second half would land in the
    // next chunk.
    std::size_t last = offset + ConsoleChunkLimit - 1;
    std::size_t run = 0;
    for (std::size_t i = last + 1; i > offset && escaped[i - 1] == '%'; --i) {
        ++run;
    }
    return run % 2 == 1 ? ConsoleChunkLimit - 1 : ConsoleChunkLimit;
}

} // namespace quorvane
