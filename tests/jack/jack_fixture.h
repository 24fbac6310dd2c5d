#pragma once
// Real JACK servers and the processes the JACK tests run against them. Every tool runs under
// `timeout`, so nothing outlives a test that dies; servers take their names from a small set
// that concurrent test programs share through lock files, and clean their own /dev/shm files.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

using namespace std::chrono_literals;

// Polls `done` until it holds or `limit` has passed; whether it held.
bool within(std::chrono::milliseconds limit, const std::function<bool()>& done);

// A program run under `timeout -k 2 <limit>`, its standard output and error kept in files.
class Child {
public:
    explicit Child(const std::vector<std::string>& argv, std::chrono::seconds limit = 120s);
    ~Child(); // SIGINT, then SIGKILL to whatever is left, and reaped
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    std::string out() const;
    std::string err() const;
    // Whether `text` appears on standard output before `limit` has passed.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds limit) const;
    // The exit code, or nothing while it still runs after `limit`.
    std::optional<int> waitExit(std::chrono::milliseconds limit);
    // To the program itself, not its `timeout`.
    void signal(int number) const;

private:
    pid_t programPid() const;

    std::filesystem::path m_dir;
    pid_t m_pid = -1; // the `timeout` process
    std::optional<int> m_exitCode;
};

struct ToolRun {
    int exitCode; // -1: still running at its limit, then ended
    std::string out;
    std::string err;
};

// Runs a program to its end (at most `limit`).
ToolRun runTool(const std::vector<std::string>& argv, std::chrono::seconds limit = 10s);

// JACK tests take turns, whichever test program they belong to: a client that opens while
// another server updates the registry all servers share can fail to attach to its server
// (libjack answers status 0x21).
class JackTurn {
public:
    JackTurn();
    ~JackTurn();
    JackTurn(const JackTurn&) = delete;
    JackTurn& operator=(const JackTurn&) = delete;

private:
    int m_lock = -1;
};

// `jackd -S -r -d dummy`, which clients of this process (and its children) find through
// JACK_DEFAULT_SERVER. It holds the JACK turn for its whole life, so one name serves every test.
// Clients must end before the server: declare them after it.
class JackServer {
public:
    // `waitForClients` false: a cycle a client overruns is lost to the whole graph, as on a
    // loaded server.
    JackServer(int period, int rate, int physicalPorts = 0, bool waitForClients = true);
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    void signal(int number) { m_jackd->signal(number); }

private:
    void removeShmFiles() const;

    JackTurn m_turn;
    std::optional<Child> m_jackd;
};

// A test client of ours between two ports (tests/jack/delay_line.cpp).
class DelayLine {
public:
    DelayLine(const std::string& name, int delay, const std::vector<std::string>& options = {});
    // Whether its ports can be connected (within a few seconds).
    bool ready() const;
    // SIGUSR2 swaps its delay.
    void signal(int number) const { m_child.signal(number); }

private:
    Child m_child;
};

// A tarvelo-cli run with these arguments, to its end, with no sanitizer report.
ToolRun runCli(const std::vector<std::string>& arguments, std::chrono::seconds limit = 60s);
void expectNoSanitizerReport(const std::string& err);

// The number that follows `label` in `text`; -1 when the label is not there.
long numberAfter(const std::string& text, const std::string& label);
// The number in "Measurement results: N samples", or -1 when there is none.
inline long measuredSamples(const std::string& cliOutput) {
    return numberAfter(cliOutput, "Measurement results: ");
}
// jack_delay's latest reading in frames, of a loop that keeps its polarity; nothing before the
// first.
std::optional<double> latestJackDelayReading(const std::string& output);
