// How long a correlation measurement records before its result, through the session with the
// loopback simulator switching in real time at 48 kHz in buffers of 256: loops of 0.7, 50 and
// 100 ms, each with the run ended as soon as its recording holds the result (early) and recorded
// as long as the method allows (whole). Counters: the recording per result and the time from
// arming to the result, in seconds.

#include "drivers/sim/install_memory.h"
#include "engine/correlation_method.h"
#include "platform/memory/memory_platform.h"
#include "session/measure_once.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

namespace {

void timeToResult(benchmark::State& state) {
    SimSettings settings;
    settings.loopDelay = static_cast<double>(state.range(0));
    platform::MemoryPlatform registry;
    const platform::ScopedPlatform scoped(registry);
    installLoopbackSimulator(
        registry, [&settings] { return settings; }, "/proc/self/exe");
    DriverCatalog catalog;
    EventQueue events;
    MeasurementSession session(catalog, events);
    if (session.open(0) != OpenResult::Opened) {
        state.SkipWithError("the simulator did not open");
        return;
    }
    session.measurement().setMethod(std::make_unique<CorrelationMethod>());
    session.setEndEarly(state.range(1) != 0);

    double recorded = 0;
    double waited = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const MeasureOutcome outcome = measureOnce(session, events);
        waited += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!outcome.result || !outcome.result->verdict.verified()) {
            state.SkipWithError("no verified result");
            break;
        }
        recorded += static_cast<double>(session.measurement().recordedSamples()) /
                    outcome.result->sampleRate;
    }
    const auto runs = static_cast<double>(state.iterations());
    state.counters["recorded_s"] = recorded / runs;
    state.counters["to_result_s"] = waited / runs;
}

BENCHMARK(timeToResult)
    ->ArgNames({"delay", "early"})
    ->ArgsProduct({{32, 2400, 4800}, {0, 1}})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
