// What the buffer-switch callback costs on the driver's thread while a measurement waits for
// its pulse: the steady state in which every input half is scanned and nothing is found.

#include "../tests/session/hand_session.h"

#include "engine/correlation_method.h"

#include <benchmark/benchmark.h>

#include <limits>

namespace {

// A session's armed measurement with `channels` inputs and outputs of `frames` samples, at a
// rate so high that its time limit never ends it.
struct BenchSession {
    explicit BenchSession(const benchmark::State& state)
        : channels(static_cast<int>(state.range(0)))
        , frames(static_cast<int>(state.range(1)))
        , hand(channels, channels, frames, std::numeric_limits<std::int32_t>::max()) {
        hand.session->arm();
    }
    int channels;
    int frames;
    HandSession hand;
};

void scanWithoutFinding(benchmark::State& state) {
    BenchSession bench(state);
    BufferSwitchCallback(0, ASIOTrue); // the pulse goes out at count 0; from here on, scans
    int half = 1;
    for (auto _ : state) {
        BufferSwitchCallback(half, ASIOTrue);
        half ^= 1;
    }
    if (!bench.hand.session->measurement().armed()) {
        state.SkipWithError("the measurement ended during the benchmark");
    }
    state.SetItemsProcessed(state.iterations() * bench.channels * bench.frames);
    state.SetLabel("items = input samples scanned");
}

void emitPulse(benchmark::State& state) {
    BenchSession bench(state);
    for (auto _ : state) {
        bench.hand.session->arm();
        BufferSwitchCallback(0, ASIOTrue);
    }
    state.SetItemsProcessed(state.iterations() * bench.channels * bench.frames);
    state.SetLabel("items = output samples written");
}

// The correlation method's steady state: the sweep written to every output and every channel
// recorded, at a switch in the middle of a measurement.
void recordWithCorrelation(benchmark::State& state) {
    BenchSession bench(state);
    MeasurementSession& session = *bench.hand.session;
    session.stop(); // a method is changed while disarmed
    session.measurement().setMethod(std::make_unique<CorrelationMethod>());
    session.measurement().setSampleRate(48000);
    session.start();
    session.arm();
    BufferSwitchCallback(0, ASIOTrue);
    int half = 1;
    for (auto _ : state) {
        BufferSwitchCallback(half, ASIOTrue);
        half ^= 1;
        if (!session.measurement().armed()) {
            state.PauseTiming();
            session.arm();
            BufferSwitchCallback(0, ASIOTrue);
            half = 1;
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations() * 2 * bench.channels * bench.frames);
    state.SetLabel("items = samples written and recorded");
}

void sizes(benchmark::internal::Benchmark* b) {
    for (int channels : {2, 8, 64}) {
        for (int frames = 32; frames <= 2048; frames *= 2) {
            b->Args({channels, frames});
        }
    }
    b->ArgNames({"channels", "frames"});
}

} // namespace

BENCHMARK(scanWithoutFinding)->Apply(sizes);
BENCHMARK(emitPulse)->Apply(sizes);
BENCHMARK(recordWithCorrelation)->Apply(sizes);
BENCHMARK_MAIN();
