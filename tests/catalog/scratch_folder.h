#pragma once
// A folder of its own under the system's temporary folder, removed with all it holds; gives the
// file-existence test real files, a real folder and real missing paths.

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

class ScratchFolder {
public:
    ScratchFolder() {
        std::random_device seed;
        const auto base = std::filesystem::temp_directory_path();
        do {
            m_path = base / ("tarvelo-catalog-" + std::to_string(seed()));
        } while (!std::filesystem::create_directory(m_path));
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string folder() const { return m_path.string(); }
    std::string missing(std::string_view name) const { return (m_path / name).string(); }
    std::string makeFile(std::string_view name) const {
        const auto path = m_path / name;
        std::ofstream(path) << "server";
        return path.string();
    }

    // A path of exactly `length` characters to the file `name` in this folder, padded with "./"
    // steps, so that only its length can make it fail.
    std::string paddedPath(std::string_view name, std::size_t length) const {
        std::string path = m_path.string() + '/';
        while (path.size() + name.size() + 2 <= length) {
            path += "./";
        }
        if (path.size() + name.size() < length) {
            path += '/';
        }
        return path + std::string(name);
    }

private:
    std::filesystem::path m_path;
};
