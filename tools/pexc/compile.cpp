#include "compile.h"

#include "error.h"
#include "parser.h"
#include "writer.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <system_error>

namespace pexc {

namespace {

std::string read_file(const std::filesystem::path& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        throw ToolError("pexc: cannot read " + path.string() + ": " + std::strerror(errno));
    }
    std::string text;
    char buffer[65536];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, count);
    }
    bool failed = std::ferror(file) != 0;
    int error = errno;
    std::fclose(file);
    if (failed) {
        throw ToolError("pexc: cannot read " + path.string() + ": " + std::strerror(error));
    }
    return text;
}

// A name for the temporary file in the output's folder that no other file has.
std::filesystem::path temporary_beside(const std::filesystem::path& output) {
    std::random_device random;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".tmp-%08x%08x", random(), random());
    std::filesystem::path temporary = output;
    temporary += suffix;
    return temporary;
}

void write_atomically(const std::filesystem::path& output, const std::vector<std::uint8_t>& bytes) {
    std::filesystem::path temporary;
    std::FILE* file = nullptr;
    for (int attempt = 0; attempt < 100 && file == nullptr; ++attempt) {
        temporary = temporary_beside(output);
        file = std::fopen(temporary.c_str(), "wbx"); // fails if the name is taken
        if (file == nullptr && errno != EEXIST) {
            break;
        }
    }
    if (file == nullptr) {
        throw ToolError("pexc: cannot write " + output.string() + ": cannot create " +
                        temporary.string() + ": " + std::strerror(errno));
    }
    errno = 0;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    written = std::fflush(file) == 0 && written;
    int error = errno;
    written = std::fclose(file) == 0 && written;
    if (!written) {
        if (error == 0) {
            error = errno;
        }
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        throw ToolError("pexc: cannot write " + temporary.string() + ": " + std::strerror(error));
    }
    std::error_code renamed;
    std::filesystem::rename(temporary, output, renamed);
    if (renamed) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        throw ToolError("pexc: cannot write " + output.string() + ": " + renamed.message());
    }
}

} // namespace

std::vector<std::uint8_t> compile_source(std::string_view source, std::string_view source_file_name,
                                         std::uint64_t compilation_time) {
    Script script = parse_script(source, source_file_name);
    return write_pex(script, WriteOptions{std::string(source_file_name), compilation_time});
}

std::uint64_t compilation_time(const char* source_date_epoch, const std::filesystem::path& source) {
    if (source_date_epoch != nullptr && *source_date_epoch != '\0') {
        std::string_view text = source_date_epoch;
        std::uint64_t seconds = 0;
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
        if (error != std::errc() || end != text.data() + text.size()) {
            throw ToolError("pexc: SOURCE_DATE_EPOCH: expected a whole number of seconds since "
                            "1970 (0 to 18446744073709551615), found '" +
                            std::string(text) + "'");
        }
        return seconds;
    }
    std::error_code error;
    auto written = std::filesystem::last_write_time(source, error);
    if (error) {
        throw ToolError("pexc: cannot read " + source.string() + ": " + error.message());
    }
    auto since_1970 = std::chrono::file_clock::to_sys(written).time_since_epoch();
    auto seconds = std::chrono::floor<std::chrono::seconds>(since_1970).count();
    return seconds < 0 ? 0 : static_cast<std::uint64_t>(seconds);
}

void compile_file(const std::filesystem::path& input, const std::filesystem::path& output,
                  const char* source_date_epoch) {
    std::error_code ignored;
    if (std::filesystem::equivalent(input, output, ignored)) {
        throw ToolError("pexc: the output " + output.string() + " is the input");
    }
    std::uint64_t time = compilation_time(source_date_epoch, input);
    std::string source = read_file(input);
    std::vector<std::uint8_t> bytes = compile_source(source, input.filename().string(), time);
    write_atomically(output, bytes);
}

int run(const std::vector<std::string>& args, const char* source_date_epoch, std::ostream& err) {
    if (args.size() != 3) {
        err << "usage: pexc INPUT.psc OUTPUT.pex\n"
               "Compiles a script source that declares only global native functions.\n"
               "The compilation time is SOURCE_DATE_EPOCH when set, else the source's mtime.\n";
        return 2;
    }
    try {
        compile_file(args[1], args[2], source_date_epoch);
        return 0;
    } catch (const CompileError& error) {
        err << format_error(args[1], error) << "\n";
    } catch (const ToolError& error) {
        err << error.what() << "\n";
    } catch (const std::exception& error) {
        err << "pexc: " << error.what() << "\n";
    }
    return 1;
}

} // namespace pexc
