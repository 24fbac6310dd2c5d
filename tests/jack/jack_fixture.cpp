#include "jack_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr char kServerName[] = "tarvelo-test";

fs::path freshDirectory() {
    static std::atomic<int> count{0};
    const fs::path dir = fs::temp_directory_path() / ("tarvelo-jack-" + std::to_string(::getpid()) +
                                                      "-" + std::to_string(count++));
    fs::create_directories(dir);
    return dir;
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

Child::Child(const std::vector<std::string>& argv, std::chrono::seconds limit)
    : m_dir(freshDirectory()) {
    std::vector<std::string> command{"timeout", "-k", "2", std::to_string(limit.count())};
    command.insert(command.end(), argv.begin(), argv.end());
    std::vector<char*> args;
    for (std::string& word : command) {
        args.push_back(word.data());
    }
    args.push_back(nullptr);
    const std::string outPath = (m_dir / "out").string();
    const std::string errPath = (m_dir / "err").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    if (posix_spawnp(&m_pid, "timeout", &actions, nullptr, args.data(), environ) != 0) {
        m_pid = -1;
        m_exitCode = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
}

Child::~Child() {
    if (!m_exitCode) {
        // JACK tools close their clients on SIGINT; a client that just vanishes stalls a
        // synchronous server until it notices.
        signal(SIGINT);
        // Killed, the program is still reaped by its `timeout`: a server left unreaped would
        // keep its name registered, and the next one of that name could not start.
        if (!waitExit(3s) && (signal(SIGKILL), !waitExit(2s))) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    std::error_code ignored;
    fs::remove_all(m_dir, ignored);
}

std::string Child::out() const {
    return slurp(m_dir / "out");
}

std::string Child::err() const {
    return slurp(m_dir / "err");
}

bool within(std::chrono::milliseconds limit, const std::function<bool()>& done) {
    for (const auto until = std::chrono::steady_clock::now() + limit; !done();) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

bool Child::waitForOutput(const std::string& text, std::chrono::milliseconds limit) const {
    return within(limit, [&] { return out().find(text) != std::string::npos; });
}

std::optional<int> Child::waitExit(std::chrono::milliseconds limit) {
    within(limit, [&] {
        int status = 0;
        if (!m_exitCode && ::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        return m_exitCode.has_value();
    });
    return m_exitCode;
}

void Child::signal(int number) const {
    if (const pid_t pid = programPid(); pid > 0) {
        ::kill(pid, number);
    }
}

pid_t Child::programPid() const {
    const std::string children =
        slurp("/proc/" + std::to_string(m_pid) + "/task/" + std::to_string(m_pid) + "/children");
    return children.empty() ? -1 : static_cast<pid_t>(std::atol(children.c_str()));
}

ToolRun runTool(const std::vector<std::string>& argv, std::chrono::seconds limit) {
    Child child(argv, limit);
    const std::optional<int> code = child.waitExit(limit + 3s);
    return {code.value_or(-1), child.out(), child.err()};
}

JackTurn::JackTurn() {
    m_lock = ::open("/tmp/tarvelo-jack-tests.lock", O_CREAT | O_RDWR | O_CLOEXEC, 0666);
    // Within the tests' own time limit, which other programs' JACK tests share.
    if (m_lock >= 0 && !within(100s, [&] { return ::flock(m_lock, LOCK_EX | LOCK_NB) == 0; })) {
        ADD_FAILURE() << "other JACK tests kept the turn for 100 s";
    }
}

JackTurn::~JackTurn() {
    if (m_lock >= 0) {
        ::close(m_lock);
    }
}

JackServer::JackServer(int period, int rate, int physicalPorts, bool waitForClients) {
    ::setenv("JACK_DEFAULT_SERVER", kServerName, 1);
    ::setenv("JACK_NO_START_SERVER", "1", 1);
    removeShmFiles();
    const std::string ports = std::to_string(physicalPorts);
    // -S: each cycle waits for every client, so a client the busy machine runs late is late, not
    // skipped, and a loop keeps its length in cycles whatever the load.
    std::vector<std::string> argv{"jackd",     "-n",
                                  kServerName, "-r",
                                  "-d",        "dummy",
                                  "-r",        std::to_string(rate),
                                  "-p",        std::to_string(period),
                                  "-C",        ports,
                                  "-P",        ports};
    if (waitForClients) {
        argv.insert(argv.begin() + 3, "-S");
    }
    m_jackd.emplace(argv, 900s);
    if (!within(10s, [] { return runTool({"jack_lsp"}, 2s).exitCode == 0; })) {
        ADD_FAILURE() << "jackd did not start: " << m_jackd->err();
    }
}

JackServer::~JackServer() {
    m_jackd.reset();
    removeShmFiles();
}

void JackServer::removeShmFiles() const {
    // Named after the server: jack_<name>_*, jack_sem.<uid>_<name>_*.
    const std::string name = kServerName;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator("/dev/shm", ignored)) {
        const std::string file = entry.path().filename().string();
        if (file.starts_with("jack_" + name + "_") ||
            (file.starts_with("jack_sem.") && file.find("_" + name + "_") != std::string::npos)) {
            fs::remove(entry.path(), ignored);
        }
    }
}

DelayLine::DelayLine(const std::string& name, int delay, const std::vector<std::string>& options)
    : m_child([&] {
        std::vector<std::string> argv{TARVELO_DELAY_LINE, name, std::to_string(delay)};
        argv.insert(argv.end(), options.begin(), options.end());
        return argv;
    }()) {}

bool DelayLine::ready() const {
    return m_child.waitForOutput("ready\n", 10s);
}

ToolRun runCli(const std::vector<std::string>& arguments, std::chrono::seconds limit) {
    std::vector<std::string> argv{TARVELO_CLI};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ToolRun run = runTool(argv, limit);
    expectNoSanitizerReport(run.err);
    return run;
}

void expectNoSanitizerReport(const std::string& err) {
    // An AddressSanitizer report ends the program with exit code 1, which some tests expect.
    EXPECT_EQ(err.find("Sanitizer"), std::string::npos) << err;
}

long numberAfter(const std::string& text, const std::string& label) {
    const std::size_t at = text.find(label);
    return at == std::string::npos ? -1
                                   : std::strtol(text.c_str() + at + label.size(), nullptr, 10);
}

std::optional<double> latestJackDelayReading(const std::string& output) {
    std::optional<double> latest;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t frames = line.find(" frames");
        if (frames == std::string::npos) {
            continue;
        }
        latest = std::strtod(line.substr(0, frames).c_str(), nullptr);
    }
    return latest;
}
