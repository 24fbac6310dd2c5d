#pragma once
// Runs the real tarvelo-cli (TARVELO_CLI) as a user would, in a scratch folder of its own that
// the fixture removes again.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

struct CliRun {
    int exitCode;
    std::string out;
    std::string err;
};

inline std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class CliFixture : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        m_folder = std::filesystem::temp_directory_path() /
                   ("tarvelo-cli-" + std::string(test->name()) + "-" + std::to_string(getpid()));
        std::filesystem::remove_all(m_folder);
        std::filesystem::create_directories(m_folder / "files");
    }
    void TearDown() override { std::filesystem::remove_all(m_folder); }

    // Files the program is asked to write go here; its streams are kept apart.
    std::filesystem::path file(const std::string& name) const { return m_folder / "files" / name; }

    CliRun cli(const std::string& arguments) const {
        const std::string command = std::string(TARVELO_CLI) + " " + arguments + " >" +
                                    (m_folder / "out").string() + " 2>" +
                                    (m_folder / "err").string();
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(m_folder / "out"),
                slurp(m_folder / "err")};
    }

private:
    std::filesystem::path m_folder;
};
