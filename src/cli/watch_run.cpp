// --watch: one stream started and kept running, a measurement armed again as soon as the last
// one's result is in, each reading printed and flushed as it comes (a line of text, a JSON object
// or a CSV row), until Ctrl-C or --duration; then the summary. A reset the driver asks for is
// taken and the stream started again; the readings go on, and the next one says so.

#include "cli/report/json_report.h"
#include "cli/report/latency_states.h"
#include "cli/report/text_report.h"
#include "cli/run.h"
#include "cli/watch.h"
#include "engine/quiet_start.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>

namespace {

using Json = nlohmann::ordered_json;

std::atomic<bool> g_stopAsked{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void askToStop(int) {
    g_stopAsked.store(true);
}

// Ctrl-C (or a request to terminate) ends the watch with its summary rather than the program.
class StopOnSignal {
public:
    StopOnSignal()
        : m_interrupt(std::signal(SIGINT, askToStop))
        , m_terminate(std::signal(SIGTERM, askToStop)) {
        g_stopAsked.store(false);
    }
    ~StopOnSignal() {
        std::signal(SIGINT, m_interrupt);
        std::signal(SIGTERM, m_terminate);
    }
    StopOnSignal(const StopOnSignal&) = delete;
    StopOnSignal& operator=(const StopOnSignal&) = delete;

    bool asked() const { return g_stopAsked.load(); }

private:
    void (*m_interrupt)(int);
    void (*m_terminate)(int);
};

// Resets in a row, with no reading between them, before the watch gives up on the driver.
constexpr int kResetsInARow = 3;

// The wall clock in UTC: "2026-12-08T08:41:17.512Z", or its time of day alone.
std::string clockText(std::chrono::system_clock::time_point now, bool withDate) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    const std::tm utc = *std::gmtime(&seconds);
    char text[32];
    std::strftime(text, sizeof text, withDate ? "%Y-%m-%dT%H:%M:%S" : "%H:%M:%S", &utc);
    return text + formatted(".%03d", static_cast<int>(ms)) + (withDate ? "Z" : "");
}

std::string csvField(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

class Watcher {
public:
    explicit Watcher(Run& run)
        : m_run(run)
        , m_session(run.session) {}

    int watch();

private:
    bool timeIsUp() const {
        return m_stop.asked() ||
               (m_run.options.duration && m_watch.seconds() >= *m_run.options.duration);
    }
    bool startStream();
    bool takeReset();
    // Adds the switches since it was last taken to the stream time.
    void advanceStreamTime(std::int32_t bufferSize, double sampleRate);
    // Periods lost since the last reading, as the driver counts them (a JACK server's xruns),
    // says them, or its sample positions show them during the reading (a driver tells a host of
    // overloads only when the host says it takes that message).
    void countXruns(const MeasurementResult& result) {
        std::int64_t reported = m_session.troubleReported() - m_troubleSeen;
        m_troubleSeen += reported;
        if (m_run.hooks.afterResult) {
            // Counted since the stream started.
            if (const std::optional<std::uint64_t> counted =
                    m_run.hooks.afterResult(m_session.driver()).xruns) {
                const auto sinceStart = static_cast<std::int64_t>(*counted);
                reported = std::max(reported, sinceStart - m_driverXrunsSeen);
                m_driverXrunsSeen = sinceStart;
            }
        }
        std::int64_t seen = 0;
        for (const VerdictReason& reason : result.verdict.reasons) {
            if (reason.kind == VerdictReason::Dropout) {
                seen = static_cast<std::int64_t>(reason.value);
            }
        }
        m_xruns += std::max(reported, seen);
    }
    // Arms and waits for the result; false when the watch cannot go on.
    bool readOnce();
    void show(const WatchReading& reading, const std::vector<std::string>& flags);
    void summarise() const;
    bool fail(MeasureProblem problem) {
        recordProblem(m_run, problem);
        return false;
    }

    Run& m_run;
    MeasurementSession& m_session;
    StopOnSignal m_stop;
    LatencyWatch m_watch;
    const std::chrono::steady_clock::time_point m_began = std::chrono::steady_clock::now();
    bool m_streaming = false;
    std::int64_t m_switches = 0; // the session's count when stream time was last taken
    double m_seconds = 0;
    std::int64_t m_troubleSeen = m_session.troubleReported();
    std::int64_t m_xruns = 0;
    std::int64_t m_driverXrunsSeen = 0; // of the driver's count since the stream started
    int m_resets = 0;
    int m_resetsInARow = 0;
};

bool Watcher::startStream() {
    m_driverXrunsSeen = 0;
    if (const ASIOError error = m_session.prepare(); error != ASE_OK) {
        return m_session.resetPending() != 0 || fail({.kind = MeasureProblem::BuffersRefused,
                                                      .error = error,
                                                      .driverMessage = m_session.driverMessage()});
    }
    if (const ASIOError error = m_session.start(); error != ASE_OK) {
        MeasureProblem problem{.kind = MeasureProblem::StartRefused,
                               .error = error,
                               .driverMessage = m_session.driverMessage()};
        m_session.disposeBuffers();
        return m_session.resetPending() != 0 || fail(std::move(problem));
    }
    m_streaming = true;
    m_switches = m_session.switchesSeen();
    return true;
}

void Watcher::advanceStreamTime(std::int32_t bufferSize, double sampleRate) {
    const std::int64_t switches = m_session.switchesSeen();
    m_seconds += static_cast<double>(switches - m_switches) * bufferSize / sampleRate;
    m_switches = switches;
}

bool Watcher::takeReset() {
    // The stream that ends here ran until now.
    advanceStreamTime(m_session.bufferSize(), m_session.measurement().sampleRate());
    m_streaming = false;
    if (++m_resetsInARow > kResetsInARow) {
        return fail(
            {.kind = MeasureProblem::DriverFailed, .failure = DriverFailure::TooManyResets});
    }
    ++m_resets;
    if (m_session.reset() != OpenResult::Opened) {
        return fail({.kind = MeasureProblem::DriverFailed,
                     .failure = DriverFailure::CannotReopen,
                     .driverMessage = m_session.driverMessage()});
    }
    // Whatever the stream that is gone posted has nothing left to say.
    m_run.events.clear();
    return true;
}

bool Watcher::readOnce() {
    if (m_session.resetPending() != 0) {
        return takeReset();
    }
    if (!m_streaming) {
        return startStream();
    }
    if (const ArmRefusal refusal = m_session.arm(); refusal != ArmRefusal::None) {
        return fail({.kind = MeasureProblem::ArmRefused, .refusal = refusal});
    }
    for (;;) {
        // A reading is short: a stop asked meanwhile is taken once it is in.
        const SessionEvent event = *awaitEvent(m_session, m_run.events, WaitLimits{});
        switch (event.kind) {
        case SessionEventKind::Result:
            if (std::optional<MeasurementResult> result = m_session.collectResult()) {
                advanceStreamTime(result->bufferSize, result->sampleRate);
                m_resetsInARow = 0;
                countXruns(*result);
                const WatchReading reading{m_seconds, std::move(*result), m_xruns, m_resets};
                show(reading, m_watch.add(reading));
                return true;
            }
            break;
        case SessionEventKind::RateChange:
            noticeDriverEvent(m_run, event);
            break;
        case SessionEventKind::ResetRequest:
            noticeDriverEvent(m_run, event);
            return takeReset();
        case SessionEventKind::DriverFailure:
            return fail({.kind = MeasureProblem::DriverFailed, .failure = event.failure});
        }
    }
}

void Watcher::show(const WatchReading& reading, const std::vector<std::string>& flags) {
    const MeasurementResult& result = reading.result;
    const auto now = std::chrono::system_clock::now();
    std::string line;
    switch (m_run.options.format) {
    case ReportFormat::Text:
        line = clockText(now, false) + formatted("  %9.3f s  ", reading.seconds) +
               (result.latencySamples ? latencyText(*result.latencySamples, result.method) +
                                            formatted(" samples  %.3f ms", *result.latencyMs())
                                      : std::string("nothing came back")) +
               "  " + verdictWord(result.verdict.verdict) +
               formatted("  xruns %lld  resets %d", static_cast<long long>(reading.xruns),
                         reading.resets);
        for (std::size_t i = 0; i < flags.size(); ++i) {
            line += (i ? "; " : "  -- ") + flags[i];
        }
        break;
    case ReportFormat::Json: {
        Json json{{"reading", m_watch.results().size()},
                  {"time", clockText(now, true)},
                  {"streamSeconds", reading.seconds},
                  {"verdict", verdictName(result.verdict.verdict)},
                  {"xruns", reading.xruns},
                  {"resets", reading.resets},
                  {"flags", flags},
                  {"measurement", measurementJson(result, m_run.report)}};
        line = json.dump();
        break;
    }
    case ReportFormat::Csv:
        if (m_watch.results().size() == 1) {
            std::puts("time,stream_seconds,latency_samples,latency_ms,verdict,sample_rate,"
                      "buffer_size,xruns,resets,flags");
        }
        line = clockText(now, true) + formatted(",%.6f,", reading.seconds) +
               (result.latencySamples
                    ? formatted("%.6g,%.6g", *result.latencySamples, *result.latencyMs())
                    : std::string(",")) +
               formatted(",%s,%.0f,%d,%lld,%d,", verdictName(result.verdict.verdict),
                         result.sampleRate, static_cast<int>(result.bufferSize),
                         static_cast<long long>(reading.xruns), reading.resets);
        for (std::size_t i = 0; i < flags.size(); ++i) {
            line += (i ? "; " : "") + flags[i];
        }
        if (!flags.empty()) {
            line = line.substr(0, line.rfind(',') + 1) + csvField(line.substr(line.rfind(',') + 1));
        }
        break;
    }
    std::puts(line.c_str());
    std::fflush(stdout);
}

void Watcher::summarise() const {
    const std::vector<MeasurementResult>& results = m_watch.results();
    const double wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_began).count();
    std::size_t verified = 0;
    for (const MeasurementResult& result : results) {
        verified += result.verdict.verified() ? 1 : 0;
    }
    const std::vector<LatencyState> states = latencyStates(results);
    const std::optional<DriftEstimate> drift = m_watch.drift();
    const double perSecond =
        m_watch.seconds() > 0 ? static_cast<double>(results.size()) / m_watch.seconds() : 0;
    if (m_run.options.format == ReportFormat::Json) {
        Json changes = Json::array();
        for (const FlaggedChange& change : m_watch.changes()) {
            changes.push_back({{"reading", change.reading},
                               {"streamSeconds", change.seconds},
                               {"text", change.text}});
        }
        Json distribution = Json::array();
        for (const LatencyState& state : states) {
            distribution.push_back({{"samples", state.samples}, {"count", state.count}});
        }
        const Json summary{{"readings", results.size()},
                           {"verified", verified},
                           {"streamSeconds", m_watch.seconds()},
                           {"wallSeconds", wallSeconds},
                           {"readingsPerSecond", perSecond},
                           {"statistics", statisticsJson(results)},
                           {"states", std::move(distribution)},
                           {"changes", std::move(changes)},
                           {"drift", drift ? Json{{"ppm", drift->ppm},
                                                  {"standardError", drift->ppmError},
                                                  {"spanSeconds", drift->spanSeconds},
                                                  {"readings", drift->points}}
                                           : Json(nullptr)},
                           {"failure", m_run.report.failure ? Json(m_run.report.failure->message)
                                                            : Json(nullptr)}};
        std::puts(Json{{"summary", summary}}.dump().c_str());
        std::fflush(stdout);
        return;
    }
    std::string text =
        formatted("Watch summary: %zu readings (%zu verified) over %.1f s of stream time, %.1f a "
                  "second; %.1f s on the clock\n",
                  results.size(), verified, m_watch.seconds(), perSecond, wallSeconds);
    text += statisticsText(results);
    if (!states.empty()) {
        text += "Distribution: " + statesText(states, results.front().method) + "\n";
    }
    text += m_watch.changes().empty() ? "Changes: none\n"
                                      : formatted("Changes: %zu\n", m_watch.changes().size());
    for (const FlaggedChange& change : m_watch.changes()) {
        text += formatted("  at %.3f s (reading %zu): %s\n", change.seconds, change.reading + 1,
                          change.text.c_str());
    }
    text += drift ? formatted("Drift: %+.2f ppm, standard error %.2f ppm, from %zu readings over "
                              "%.1f s\n",
                              drift->ppm, drift->ppmError, drift->points, drift->spanSeconds)
                  : "Drift: too few verified readings to tell\n";
    // A CSV's rows stay one table: its summary goes to standard error.
    std::fputs(text.c_str(), m_run.options.format == ReportFormat::Csv ? stderr : stdout);
    std::fflush(stdout);
}

int Watcher::watch() {
    m_run.report.kind = RunKind::Repeat;
    // Each reading waits for the inputs to fall quiet, so the last one's tail is never its own.
    m_session.measurement().setQuietStart(QuietStart{});
    while (!timeIsUp() && readOnce()) {
    }
    m_session.stop();
    m_session.disposeBuffers();
    summarise();
    for (const MeasurementResult& result : m_watch.results()) {
        if (result.verdict.verified() && !m_run.report.failure) {
            return kExitMeasured;
        }
    }
    return kExitNotMeasured;
}

} // namespace

int watchLatency(Run& run) {
    return Watcher(run).watch();
}
