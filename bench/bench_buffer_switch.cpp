// What the buffer-switch callback costs on the driver's thread while a measurement waits for
// its pulse: the steady state in which every input half is scanned and nothing is found.

#include "../tests/engine/dialog_fixture.h"
#include "../tests/support/fake_driver.h"

#include "engine/correlation_method.h"

#include <benchmark/benchmark.h>

#include <limits>

namespace {

// An armed measurement with `channels` inputs and outputs of `frames` samples, at a rate so high
// that its time limit never ends it.
struct BenchDialog {
    explicit BenchDialog(const benchmark::State& state)
        : channels(static_cast<int>(state.range(0)))
        , frames(static_cast<int>(state.range(1)))
        , armed(&driver, channels, channels, frames, std::numeric_limits<std::int32_t>::max()) {
        armed.arm();
    }
    int channels;
    int frames;
    FakeDriver driver;
    ArmedDialog armed;
};

void scanWithoutFinding(benchmark::State& state) {
    BenchDialog bench(state);
    auto& armed = bench.armed;
    BufferSwitchCallback(0, ASIOTrue); // the pulse goes out at count 0; from here on, scans
    int half = 1;
    for (auto _ : state) {
        BufferSwitchCallback(half, ASIOTrue);
        half ^= 1;
    }
    if (!armed.dlg->m_measurement.armed()) {
        state.SkipWithError("the measurement ended during the benchmark");
    }
    state.SetItemsProcessed(state.iterations() * bench.channels * bench.frames);
    state.SetLabel("items = input samples scanned");
}

void emitPulse(benchmark::State& state) {
    BenchDialog bench(state);
    auto& armed = bench.armed;
    for (auto _ : state) {
        armed.dlg->m_measurement.arm(armed.dlg->CurrentStream());
        BufferSwitchCallback(0, ASIOTrue);
    }
    state.SetItemsProcessed(state.iterations() * bench.channels * bench.frames);
    state.SetLabel("items = output samples written");
}

// The correlation method's steady state: the sweep written to every output and every channel
// recorded, at a switch in the middle of a measurement.
void recordWithCorrelation(benchmark::State& state) {
    BenchDialog bench(state);
    auto& armed = bench.armed;
    armed.dlg->m_measurement.setMethod(std::make_unique<CorrelationMethod>());
    armed.dlg->m_measurement.setSampleRate(48000);
    armed.dlg->m_measurement.arm(armed.dlg->CurrentStream());
    BufferSwitchCallback(0, ASIOTrue);
    int half = 1;
    for (auto _ : state) {
        BufferSwitchCallback(half, ASIOTrue);
        half ^= 1;
        if (!armed.dlg->m_measurement.armed()) {
            state.PauseTiming();
            armed.dlg->m_measurement.arm(armed.dlg->CurrentStream());
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
