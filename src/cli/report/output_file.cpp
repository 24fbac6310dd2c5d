#include "cli/report/output_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#if defined(_WIN32)
#include <cwchar>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#else
#include <sys/vfs.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// Links followed before a chain of them is taken for a loop, as the system's own limit.
constexpr int kMaxLinks = 40;

int processId() {
#if defined(_WIN32)
    return _getpid();
#else
    return static_cast<int>(getpid());
#endif
}

bool isStandardOutput(const fs::path& path) {
    return path == "-";
}

// Named for this process, so that two runs writing the same file never share a temporary one.
fs::path temporaryBeside(const fs::path& path) {
    return path.parent_path() /
           ("." + path.filename().string() + ".tmp" + std::to_string(processId()));
}

std::string quotedPath(const fs::path& path) {
    return "'" + path.string() + "'";
}

// Whether `folder` belongs to a file system of the kernel's own (/proc, /sys), whose files look
// regular but are not a place for ours.
bool isSystemFolder(const fs::path& folder) {
#if defined(_WIN32)
    (void)folder;
    return false;
#else
    constexpr long kProcMagic = 0x9fa0;
    constexpr long kSysfsMagic = 0x62656572;
    struct statfs system {};
    return statfs(folder.empty() ? "." : folder.c_str(), &system) == 0 &&
           (system.f_type == kProcMagic || system.f_type == kSysfsMagic);
#endif
}

// The file `path` names once every symbolic link on the way is followed, or empty with `why`.
fs::path finalTarget(const fs::path& path, std::string& why) {
    fs::path target = path;
    for (int links = 0; links <= kMaxLinks; ++links) {
        if (isSystemFolder(target.parent_path())) {
            why = "it is a file of the system's, not a regular one";
            return {};
        }
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(target, error))) {
            return target;
        }
        const fs::path next = fs::read_symlink(target, error);
        if (error) {
            why = error.message();
            return {};
        }
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    why = "too many levels of symbolic links";
    return {};
}

// The regular file (present or not) that writing `path` would replace, or empty with `why`.
fs::path replaceableTarget(const fs::path& path, std::string& why) {
    if (path.empty() || !path.has_filename()) {
        why = "not a file name";
        return {};
    }
    const fs::path target = finalTarget(path, why);
    if (target.empty()) {
        return {};
    }
    std::error_code error;
    const fs::file_status status = fs::status(target, error);
    if (fs::is_directory(status)) {
        why = "it is a folder";
    } else if (fs::exists(status) && !fs::is_regular_file(status)) {
        why = "it is not a regular file (a device, FIFO or socket)";
    } else {
        return target;
    }
    return {};
}

// Writes `write`'s file to standard output, by way of a temporary one.
std::string copyToStandardOutput(const std::function<std::string(const fs::path&)>& write) {
    std::error_code error;
    const fs::path temporary =
        fs::temp_directory_path(error) / ("tarvelo-cli.tmp" + std::to_string(processId()));
    std::string why = error ? error.message() : write(temporary);
    if (why.empty()) {
        if (std::FILE* file = std::fopen(temporary.string().c_str(), "rb")) {
#if defined(_WIN32)
            _setmode(_fileno(stdout), _O_BINARY);
#endif
            char block[65536];
            std::size_t read = 0;
            while (why.empty() && (read = std::fread(block, 1, sizeof block, file)) > 0) {
                if (std::fwrite(block, 1, read, stdout) != read) {
                    why = std::strerror(errno);
                }
            }
            std::fclose(file);
            if (why.empty() && std::fflush(stdout) != 0) {
                why = std::strerror(errno);
            }
        } else {
            why = std::strerror(errno);
        }
    }
    fs::remove(temporary, error);
    return why.empty() ? std::string() : "could not write to standard output: " + why;
}

} // namespace

std::string whyNotWritable(const fs::path& path) {
    if (isStandardOutput(path)) {
        return {};
    }
    std::string why;
    const fs::path target = replaceableTarget(path, why);
    if (target.empty()) {
        return "cannot write " + quotedPath(path) + ": " + why;
    }
    const fs::path probe = temporaryBeside(target);
    std::FILE* file = std::fopen(probe.string().c_str(), "wb");
    if (!file) {
        return "cannot write " + quotedPath(path) + ": " + std::strerror(errno);
    }
    std::fclose(file);
    std::error_code error;
    fs::remove(probe, error);
    return {};
}

bool sameOutput(const fs::path& first, const fs::path& second) {
    if (isStandardOutput(first) || isStandardOutput(second)) {
        return isStandardOutput(first) && isStandardOutput(second);
    }
    std::string why;
    const fs::path one = finalTarget(first, why);
    const fs::path other = finalTarget(second, why);
    if (one.empty() || other.empty()) {
        return false;
    }
    // A file that exists is known by its identity (device and inode, or Windows' file id); one
    // still to be made by its folder's identity and its name.
    std::error_code error;
    if (fs::exists(one, error) && fs::exists(other, error)) {
        return fs::equivalent(one, other, error);
    }
    const auto folder = [](const fs::path& file) {
        return file.parent_path().empty() ? fs::path(".") : file.parent_path();
    };
#if defined(_WIN32)
    // Windows' names differ only in case for one file.
    const bool sameName = _wcsicmp(one.filename().c_str(), other.filename().c_str()) == 0;
#else
    const bool sameName = one.filename() == other.filename();
#endif
    return sameName && fs::equivalent(folder(one), folder(other), error);
}

std::string writeWhole(const fs::path& path,
                       const std::function<std::string(const fs::path&)>& write) {
    if (isStandardOutput(path)) {
        return copyToStandardOutput(write);
    }
    std::string why;
    const fs::path target = replaceableTarget(path, why);
    if (target.empty()) {
        return "could not write " + quotedPath(path) + ": " + why;
    }
    const fs::path temporary = temporaryBeside(target);
    why = write(temporary);
    std::error_code error;
    if (why.empty()) {
        fs::rename(temporary, target, error);
        if (error) {
            why = error.message();
        }
    }
    if (!why.empty()) {
        fs::remove(temporary, error);
        return "could not write " + quotedPath(path) + ": " + why;
    }
    return {};
}

std::string writeTextWhole(const fs::path& path, const std::string& text) {
    return writeWhole(path, [&text](const fs::path& temporary) -> std::string {
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
