// libFuzzer: WriteLog with any message format free of conversions, of any
// length, at any clock value. The file must hold exactly one line: the stamp
// (or none where the clock cannot be read as local time), the message cut at
// 511 characters, CR LF; AddressSanitizer catches any write past the buffers.
#include "log/log.h"

#include "platform_control.h"
#include "scratch_directory.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

// The stamp as the log file's format defines it; the test host reads its clock
// as UTC.
std::string ExpectedStamp(std::time_t clock) {
    std::tm when{};
    if (gmtime_r(&clock, &when) == nullptr) {
        return "";
    }
    char stamp[80];
    return std::string(stamp, std::strftime(stamp, sizeof stamp, "%d %b %H:%M:%S ", &when));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    testhost::EnterScratchDirectory();
    std::atexit(testhost::LeaveScratchDirectory);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::int64_t clock = 0;
    if (size >= sizeof clock) {
        std::memcpy(&clock, data, sizeof clock);
        data += sizeof clock;
        size -= sizeof clock;
    }
    testhost::Platform().clock = static_cast<std::time_t>(clock);

    // The message as the file should show it, and a format that says exactly
    // that: each "%" doubled, so that the format holds no conversion.
    std::string message(reinterpret_cast<const char*>(data), size);
    message.resize(std::strlen(message.c_str()));
    std::string format;
    for (char c : message) {
        format += c;
        if (c == '%') {
            format += '%';
        }
    }

    std::fclose(std::fopen(quorvane::LogFileName, "wb"));
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wformat-security"
    quorvane::WriteLog(format.c_str());
#pragma clang diagnostic pop

    const std::string expected =
        ExpectedStamp(static_cast<std::time_t>(clock)) + message.substr(0, 511) + "\r\n";
    const std::string written = testhost::ReadFile(quorvane::LogFileName);
    if (written != expected) {
        std::fprintf(stderr, "log line differs\n expected: [%s]\n written:  [%s]\n",
                     expected.c_str(), written.c_str());
        std::abort();
    }
    return 0;
}
