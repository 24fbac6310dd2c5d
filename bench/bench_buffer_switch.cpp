// What a measurement costs on the driver's thread, one buffer switch at a time, with `channels`
// inputs and outputs of `frames` Int32LSB samples at 48 kHz: the threshold method while it waits
// for its pulse (every input half scanned and recorded, nothing found) and at its first armed
// switch (every buffer silenced, the pulse written); the correlation method's steady state (the
// sweep written, the inputs recorded); and, apart, the scan alone and the recording alone.
// Whatever starts a run again is left out of the timing.

#include "engine/correlation_method.h"
#include "engine/measurement.h"
#include "engine/threshold_method.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace {

// A stream of the benchmark's size over buffers of its own, and a measurement of it.
struct BenchStream {
    explicit BenchStream(const benchmark::State& state, std::unique_ptr<DetectionMethod> method =
                                                            std::make_unique<ThresholdMethod>())
        : channels(static_cast<std::int32_t>(state.range(0)))
        , frames(static_cast<std::int32_t>(state.range(1)))
        , infos(static_cast<std::size_t>(2 * channels))
        , memory(infos.size() * 2, std::vector<std::int32_t>(static_cast<std::size_t>(frames)))
        , stream{infos.data(), channels, channels, frames, layoutOf(ASIOSTInt32LSB)}
        , measurement(std::move(method)) {
        for (std::size_t c = 0; c < infos.size(); ++c) {
            infos[c] = {c < static_cast<std::size_t>(channels) ? ASIOTrue : ASIOFalse,
                        0,
                        {memory[2 * c].data(), memory[2 * c + 1].data()}};
        }
        measurement.setSampleRate(48000);
    }
    // Arms a run and makes its first `switches` switches.
    void start(int switches) {
        measurement.arm(stream);
        for (half = 0; half < switches; ++half) {
            measurement.onBufferSwitch(half % 2);
        }
        half %= 2;
    }
    void next() {
        measurement.onBufferSwitch(half);
        half ^= 1;
    }

    std::int32_t channels;
    std::int32_t frames;
    std::vector<ASIOBufferInfo> infos;
    std::vector<std::vector<std::int32_t>> memory;
    StreamSnapshot stream;
    Measurement measurement;
    int half = 0;
};

void report(benchmark::State& state, const BenchStream& bench, int perChannel, const char* label) {
    state.SetItemsProcessed(state.iterations() * perChannel * bench.channels * bench.frames);
    state.SetLabel(label);
}

// The switches of run after run, each past its first `skipped`, and at most `longest` of them.
void steadySwitches(benchmark::State& state, BenchStream& bench, int skipped,
                    std::int32_t longest = std::numeric_limits<std::int32_t>::max()) {
    bench.start(skipped);
    for (auto _ : state) {
        bench.next();
        if (!bench.measurement.armed() || bench.measurement.switchCount() >= longest) {
            state.PauseTiming();
            bench.start(skipped);
            state.ResumeTiming();
        }
    }
}

// Past the pulse's silencing at switch 2: from there on the switches only scan.
void scanWithoutFinding(benchmark::State& state) {
    BenchStream bench(state);
    steadySwitches(state, bench, 3);
    report(state, bench, 1, "items = input samples scanned");
}

void emitPulse(benchmark::State& state) {
    BenchStream bench(state);
    for (auto _ : state) {
        bench.measurement.arm(bench.stream);
        bench.measurement.onBufferSwitch(0);
    }
    report(state, bench, 1, "items = output samples written");
}

void recordWithCorrelation(benchmark::State& state) {
    BenchStream bench(state, std::make_unique<CorrelationMethod>());
    steadySwitches(state, bench, 1);
    report(state, bench, 2, "items = samples written and recorded");
}

// The threshold method's scan of every input half, by itself.
void scanAlone(benchmark::State& state) {
    BenchStream bench(state);
    int half = 0;
    for (auto _ : state) {
        for (std::int32_t i = 0; i < bench.channels; ++i) {
            benchmark::DoNotOptimize(findFirstAbove(bench.stream.input(i, half), bench.frames,
                                                    bench.stream.layout, 0x20000000));
        }
        half ^= 1;
    }
    report(state, bench, 1, "items = input samples scanned");
}

// A method that writes nothing and judges nothing but has the inputs recorded: what the
// recording costs by itself.
class RecordOnly final : public DetectionMethod {
public:
    static constexpr std::int64_t kSwitches = 64;
    MethodKind kind() const override { return MethodKind::Correlation; }
    void prepare(const StreamSnapshot&, double) override {}
    SwitchVerdict onSwitch(const StreamSnapshot&, int, std::int32_t, std::int32_t,
                           double) override {
        return {};
    }
    std::int64_t switchLimit(const StreamSnapshot&, double) const override { return kSwitches; }
    bool needsRecording() const override { return true; }
    void describe(MeasurementResult&, const Recording&) const override {}
};

void recordAlone(benchmark::State& state) {
    BenchStream bench(state, std::make_unique<RecordOnly>());
    steadySwitches(state, bench, 0, RecordOnly::kSwitches - 1);
    report(state, bench, 1, "items = input samples recorded");
}

void sizes(benchmark::internal::Benchmark* b) {
    for (int channels : {2, 8, 64}) {
        for (int frames : {32, 256, 2048}) {
            b->Args({channels, frames});
        }
    }
    b->ArgNames({"channels", "frames"});
}

} // namespace

BENCHMARK(scanWithoutFinding)->Apply(sizes);
BENCHMARK(emitPulse)->Apply(sizes);
BENCHMARK(recordWithCorrelation)->Apply(sizes);
BENCHMARK(scanAlone)->Apply(sizes);
BENCHMARK(recordAlone)->Apply(sizes);
BENCHMARK_MAIN();
