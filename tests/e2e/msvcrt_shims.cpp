// msvcrt.dll as the DLL's runtime uses it. Memory, strings and files go to
// the C library of this process; time reads the virtual clock; the three
// standard streams are MSVC FILE records in _iob that stand for ours.
#include "shim_support.h"
#include "thread_block.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>

namespace e2e {
namespace {

using ThreadRoutine = unsigned(__attribute__((stdcall)) *)(void* parameter);
using Initializer = void (*)();

// 32-bit msvcrt: time_t is 32 bits, struct tm is the nine standard ints.
using MsvcTime = std::int32_t;
struct MsvcTm {
    int tm_sec, tm_min, tm_hour, tm_mday, tm_mon, tm_year, tm_wday, tm_yday, tm_isdst;
};
static_assert(sizeof(MsvcTm) == 36);

// --- data imports -------------------------------------------------------------

constexpr std::size_t MsvcFileSize = 32; // _ptr _cnt _base _flag _file _charbuf _bufsiz _tmpfname
alignas(4) std::uint8_t iob[3 * MsvcFileSize];
int mbCurMax = 1;

// --- files --------------------------------------------------------------------

std::mutex filesMutex;
std::set<std::FILE*> openFiles;

std::FILE* HostFile(void* file) {
    auto* bytes = static_cast<std::uint8_t*>(file);
    if (bytes >= iob && bytes < iob + sizeof iob) {
        std::size_t index = static_cast<std::size_t>(bytes - iob) / MsvcFileSize;
        return index == 0 ? stdin : index == 1 ? stdout : stderr;
    }
    std::lock_guard<std::mutex> lock(filesMutex);
    if (openFiles.count(static_cast<std::FILE*>(file)) == 0) {
        std::fprintf(stderr, "e2e loader: the DLL passed %p, which is no open file\n", file);
        std::abort();
    }
    return static_cast<std::FILE*>(file);
}

QV_CRTAPI void* _fsopen(const char* name, const char* mode, int) {
    // The share mode only matters between processes; ours denies nothing.
    std::FILE* file = std::fopen(name, mode);
    if (file != nullptr) {
        std::lock_guard<std::mutex> lock(filesMutex);
        openFiles.insert(file);
    }
    return file;
}

QV_CRTAPI int fclose(void* file) {
    std::FILE* host = HostFile(file);
    {
        std::lock_guard<std::mutex> lock(filesMutex);
        openFiles.erase(host);
    }
    return std::fclose(host);
}

QV_CRTAPI std::size_t fwrite(const void* data, std::size_t size, std::size_t count, void* file) {
    return std::fwrite(data, size, count, HostFile(file));
}
QV_CRTAPI int fputc(int character, void* file) {
    return std::fputc(character, HostFile(file));
}
QV_CRTAPI int fputs(const char* text, void* file) {
    return std::fputs(text, HostFile(file));
}
QV_CRTAPI int fflush(void* file) {
    return std::fflush(file == nullptr ? nullptr : HostFile(file));
}

// On 32-bit x86 a va_list is a pointer into the caller's arguments in both
// runtimes, so it passes through unchanged.
QV_CRTAPI int vfprintf(void* file, const char* format, va_list arguments) {
    return std::vfprintf(HostFile(file), format, arguments);
}
QV_CRTAPI int fprintf(void* file, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int written = std::vfprintf(HostFile(file), format, arguments);
    va_end(arguments);
    return written;
}
QV_CRTAPI int printf(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int written = std::vprintf(format, arguments);
    va_end(arguments);
    return written;
}

// --- time -----------------------------------------------------------------------

QV_CRTAPI MsvcTime time(MsvcTime* out) {
    std::int64_t milliseconds;
    {
        std::lock_guard<std::recursive_mutex> lock(Windows().mutex);
        milliseconds = Windows().clockMilliseconds;
    }
    auto seconds = static_cast<MsvcTime>(milliseconds / 1000);
    if (out != nullptr) {
        *out = seconds;
    }
    return seconds;
}

thread_local MsvcTm localTimeResult; // per thread, as in msvcrt

QV_CRTAPI MsvcTm* localtime(const MsvcTime* when) {
    {
        std::lock_guard<std::recursive_mutex> lock(Windows().mutex);
        if (Windows().failLocalTime) {
            return nullptr;
        }
    }
    if (when == nullptr || *when < 0) {
        errno = EINVAL;
        return nullptr;
    }
    std::time_t seconds = *when;
    std::tm converted{};
    if (gmtime_r(&seconds, &converted) == nullptr) { // the simulated zone is UTC
        return nullptr;
    }
    localTimeResult = MsvcTm{converted.tm_sec,  converted.tm_min,  converted.tm_hour,
                             converted.tm_mday, converted.tm_mon,  converted.tm_year,
                             converted.tm_wday, converted.tm_yday, converted.tm_isdst};
    return &localTimeResult;
}

QV_CRTAPI std::size_t strftime(char* target, std::size_t size, const char* format,
                               const MsvcTm* when) {
    std::tm converted{};
    converted.tm_sec = when->tm_sec;
    converted.tm_min = when->tm_min;
    converted.tm_hour = when->tm_hour;
    converted.tm_mday = when->tm_mday;
    converted.tm_mon = when->tm_mon;
    converted.tm_year = when->tm_year;
    converted.tm_wday = when->tm_wday;
    converted.tm_yday = when->tm_yday;
    converted.tm_isdst = when->tm_isdst;
    return std::strftime(target, size, format, &converted);
}

// --- the runtime's own machinery ------------------------------------------------

QV_CRTAPI void _initterm(Initializer* begin, Initializer* end) {
    for (Initializer* entry = begin; entry < end; ++entry) {
        if (*entry != nullptr) {
            (*entry)();
        }
    }
}

constexpr int LockCount = 64;
std::recursive_mutex runtimeLocks[LockCount];

QV_CRTAPI void _lock(int number) {
    if (number < 0 || number >= LockCount) {
        ReportUnimplemented("msvcrt.dll", "_lock (lock number out of range)");
    }
    runtimeLocks[number].lock();
}
QV_CRTAPI void _unlock(int number) {
    if (number < 0 || number >= LockCount) {
        ReportUnimplemented("msvcrt.dll", "_unlock (lock number out of range)");
    }
    runtimeLocks[number].unlock();
}

QV_CRTAPI int* _errno() {
    return &errno;
}

[[noreturn]] QV_CRTAPI void _amsg_exit(int code) {
    std::fprintf(stderr, "e2e loader: the DLL's runtime stopped the process (_amsg_exit %d)\n",
                 code);
    std::fflush(stderr);
    std::abort();
}
[[noreturn]] QV_CRTAPI void abort() {
    std::fprintf(stderr, "e2e loader: the DLL called abort()\n");
    std::fflush(stderr);
    std::abort();
}
// Ending the game process is never the DLL's business: even exit(0) is a failure here.
[[noreturn]] QV_CRTAPI void exit(int code) {
    std::fprintf(stderr, "e2e loader: the DLL called exit(%d)\n", code);
    std::fflush(stderr);
    std::_Exit(125);
}

QV_CRTAPI std::uintptr_t _beginthreadex(void*, unsigned, ThreadRoutine routine, void* parameter,
                                        unsigned flags, unsigned* threadId) {
    void* handle = StartDllThread(reinterpret_cast<void*>(routine), parameter, flags, threadId);
    if (handle == nullptr) {
        errno = EAGAIN;
    }
    return reinterpret_cast<std::uintptr_t>(handle);
}

[[noreturn]] void _endthreadex() {
    ReportUnimplemented("msvcrt.dll", "_endthreadex");
}
[[noreturn]] void _setjmp3() {
    ReportUnimplemented("msvcrt.dll", "_setjmp3");
}
[[noreturn]] void _read() {
    ReportUnimplemented("msvcrt.dll", "_read");
}
[[noreturn]] void _close() {
    ReportUnimplemented("msvcrt.dll", "_close");
}
[[noreturn]] void longjmp() {
    ReportUnimplemented("msvcrt.dll", "longjmp");
}

// --- locale ---------------------------------------------------------------------

struct MsvcLconv {
    const char* decimal_point;
    const char* thousands_sep;
    const char* grouping;
    const char* int_curr_symbol;
    const char* currency_symbol;
    const char* mon_decimal_point;
    const char* mon_thousands_sep;
    const char* mon_grouping;
    const char* positive_sign;
    const char* negative_sign;
    char int_frac_digits, frac_digits, p_cs_precedes, p_sep_by_space, n_cs_precedes, n_sep_by_space,
        p_sign_posn, n_sign_posn;
};
MsvcLconv cLocale{".",      "",       "",       "",       "",       "",
                  "",       "",       "",       "",       CHAR_MAX, CHAR_MAX,
                  CHAR_MAX, CHAR_MAX, CHAR_MAX, CHAR_MAX, CHAR_MAX, CHAR_MAX};

QV_CRTAPI MsvcLconv* localeconv() {
    return &cLocale;
}
// Only the "C" locale exists in the simulated game.
QV_CRTAPI const char* setlocale(int, const char* name) {
    if (name == nullptr || *name == '\0' || std::strcmp(name, "C") == 0) {
        return "C";
    }
    return nullptr;
}

// --- memory and strings -----------------------------------------------------------

QV_CRTAPI void* malloc(std::size_t size) {
    return std::malloc(size);
}
QV_CRTAPI void* calloc(std::size_t count, std::size_t size) {
    return std::calloc(count, size);
}
QV_CRTAPI void* realloc(void* block, std::size_t size) {
    return std::realloc(block, size);
}
QV_CRTAPI void free(void* block) {
    std::free(block);
}
QV_CRTAPI void* memcpy(void* target, const void* source, std::size_t size) {
    return std::memcpy(target, source, size);
}
QV_CRTAPI void* memmove(void* target, const void* source, std::size_t size) {
    return std::memmove(target, source, size);
}
QV_CRTAPI void* memset(void* target, int value, std::size_t size) {
    return std::memset(target, value, size);
}
QV_CRTAPI int memcmp(const void* a, const void* b, std::size_t size) {
    return std::memcmp(a, b, size);
}
QV_CRTAPI const void* memchr(const void* block, int value, std::size_t size) {
    return std::memchr(block, value, size);
}
QV_CRTAPI std::size_t strlen(const char* text) {
    return std::strlen(text);
}
QV_CRTAPI int strcmp(const char* a, const char* b) {
    return std::strcmp(a, b);
}
QV_CRTAPI int strncmp(const char* a, const char* b, std::size_t size) {
    return std::strncmp(a, b, size);
}
QV_CRTAPI const char* strchr(const char* text, int character) {
    return std::strchr(text, character);
}
QV_CRTAPI const char* strrchr(const char* text, int character) {
    return std::strrchr(text, character);
}
QV_CRTAPI const char* strstr(const char* text, const char* part) {
    return std::strstr(text, part);
}
QV_CRTAPI char* strcpy(char* target, const char* source) {
    return std::strcpy(target, source);
}
QV_CRTAPI char* strncpy(char* target, const char* source, std::size_t size) {
    return std::strncpy(target, source, size);
}
QV_CRTAPI char* _strdup(const char* text) {
    return text == nullptr ? nullptr : ::strdup(text);
}
QV_CRTAPI const char* strerror(int number) {
    return std::strerror(number);
}
QV_CRTAPI int atoi(const char* text) {
    return std::atoi(text);
}
// Windows' wchar_t is 16 bits.
QV_CRTAPI std::size_t wcslen(const std::uint16_t* text) {
    std::size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return length;
}

QV_CRTAPI char* _ultoa(unsigned long value, char* target, int radix) {
    if (radix < 2 || radix > 36) {
        *target = '\0';
        return target;
    }
    char digits[33];
    int count = 0;
    do {
        unsigned digit = static_cast<unsigned>(value % static_cast<unsigned>(radix));
        digits[count++] = static_cast<char>(digit < 10 ? '0' + digit : 'a' + digit - 10);
        value /= static_cast<unsigned>(radix);
    } while (value != 0);
    for (int i = 0; i < count; ++i) {
        target[i] = digits[count - 1 - i];
    }
    target[count] = '\0';
    return target;
}

#define QV_SHIM(name)                                                                              \
    Shim {                                                                                         \
#name, reinterpret_cast < const void*>(&name)                                              \
    }
const Shim msvcrtShims[] = {
    Shim{"__mb_cur_max", &mbCurMax},
    Shim{"_iob", iob},
    QV_SHIM(_amsg_exit),
    QV_SHIM(_beginthreadex),
    QV_SHIM(_close),
    QV_SHIM(_endthreadex),
    QV_SHIM(_errno),
    QV_SHIM(_fsopen),
    QV_SHIM(_initterm),
    QV_SHIM(_lock),
    QV_SHIM(_read),
    QV_SHIM(_setjmp3),
    QV_SHIM(_strdup),
    QV_SHIM(_ultoa),
    QV_SHIM(_unlock),
    QV_SHIM(abort),
    QV_SHIM(atoi),
    QV_SHIM(calloc),
    QV_SHIM(exit),
    QV_SHIM(fclose),
    QV_SHIM(fflush),
    QV_SHIM(fprintf),
    QV_SHIM(fputc),
    QV_SHIM(fputs),
    QV_SHIM(free),
    QV_SHIM(fwrite),
    QV_SHIM(localeconv),
    QV_SHIM(localtime),
    QV_SHIM(longjmp),
    QV_SHIM(malloc),
    QV_SHIM(memchr),
    QV_SHIM(memcmp),
    QV_SHIM(memcpy),
    QV_SHIM(memmove),
    QV_SHIM(memset),
    QV_SHIM(printf),
    QV_SHIM(realloc),
    QV_SHIM(setlocale),
    QV_SHIM(strchr),
    QV_SHIM(strcmp),
    QV_SHIM(strcpy),
    QV_SHIM(strerror),
    QV_SHIM(strftime),
    QV_SHIM(strlen),
    QV_SHIM(strncmp),
    QV_SHIM(strncpy),
    QV_SHIM(strrchr),
    QV_SHIM(strstr),
    QV_SHIM(time),
    QV_SHIM(vfprintf),
    QV_SHIM(wcslen),
};
#undef QV_SHIM

} // namespace

const ShimLibrary MsvcrtLibrary{"msvcrt.dll", msvcrtShims, std::size(msvcrtShims)};

} // namespace e2e
