#include "log/log.h"

#include "platform/platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace quorvane {

namespace {
constexpr std::size_t StampBufferSize = 80;
constexpr std::size_t MessageBufferSize = 512;
} // namespace

void WriteLog(const char* format, ...) noexcept {
    // The file's existence is the switch: an append open would create it.
    std::FILE* probe = platform::OpenForReading(LogFileName);
    if (probe == nullptr) {
        return;
    }
    std::fclose(probe);

    std::FILE* file = platform::OpenForAppending(LogFileName);
    if (file == nullptr) {
        return;
    }

    std::tm now{};
    if (platform::CurrentLocalTime(&now)) {
        char stamp[StampBufferSize];
        std::size_t length = std::strftime(stamp, sizeof stamp, "%d %b %H:%M:%S ", &now);
        std::fwrite(stamp, 1, length, file);
    }

    char message[MessageBufferSize];
    va_list arguments;
    va_start(arguments, format);
    int expanded = std::vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    // A longer message is cut to what fits; a formatting error writes no
    // message but still ends the line.
    message[sizeof message - 1] = '\0';
    std::size_t length = expanded < 0 ? 0 : std::strlen(message);
    std::fwrite(message, 1, length, file);

    std::fwrite("\r\n", 1, 2, file);
    std::fclose(file);
}

} // namespace quorvane
