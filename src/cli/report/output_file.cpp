#include "cli/report/output_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

namespace {

int processId() {
#if defined(_WIN32)
    return _getpid();
#else
    return static_cast<int>(getpid());
#endif
}

// Named for this process, so that two runs writing the same file never share a temporary one.
std::filesystem::path temporaryBeside(const std::filesystem::path& path) {
    return path.parent_path() /
           ("." + path.filename().string() + ".tmp" + std::to_string(processId()));
}

std::string quotedPath(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

} // namespace

std::string whyNotWritable(const std::filesystem::path& path) {
    std::error_code error;
    if (path.empty() || !path.has_filename()) {
        return "cannot write " + quotedPath(path) + ": not a file name";
    }
    if (std::filesystem::is_directory(path, error)) {
        return "cannot write " + quotedPath(path) + ": it is a folder";
    }
    const std::filesystem::path probe = temporaryBeside(path);
    std::FILE* file = std::fopen(probe.string().c_str(), "wb");
    if (!file) {
        return "cannot write " + quotedPath(path) + ": " + std::strerror(errno);
    }
    std::fclose(file);
    std::filesystem::remove(probe, error);
    return {};
}

std::string writeWhole(const std::filesystem::path& path,
                       const std::function<std::string(const std::filesystem::path&)>& write) {
    const std::filesystem::path temporary = temporaryBeside(path);
    std::string why = write(temporary);
    std::error_code error;
    if (why.empty()) {
        std::filesystem::rename(temporary, path, error);
        if (error) {
            why = error.message();
        }
    }
    if (!why.empty()) {
        std::filesystem::remove(temporary, error);
        return "could not write " + quotedPath(path) + ": " + why;
    }
    return {};
}

std::string writeTextWhole(const std::filesystem::path& path, const std::string& text) {
    return writeWhole(path, [&text](const std::filesystem::path& temporary) -> std::string {
        std::FILE* file = std::fopen(temporary.string().c_str(), "wb");
        if (!file) {
            return std::strerror(errno);
        }
        const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
        const int savedErrno = errno;
        const bool closed = std::fclose(file) == 0;
        if (!written || !closed) {
            return std::strerror(written ? errno : savedErrno);
        }
        return {};
    });
}
