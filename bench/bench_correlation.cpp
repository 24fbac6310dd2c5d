// What the correlation analysis costs once a capture is complete: one second recorded on every
// input, the loop on the last one 40 dB down under -80 dBFS noise, the others noise alone.

#include "engine/correlation.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <span>
#include <vector>

namespace {

void analyseOneSecond(benchmark::State& state) {
    const auto rate = static_cast<double>(state.range(0));
    const auto inputs = static_cast<std::size_t>(state.range(1));
    const Stimulus stimulus = makeStimulus(rate);
    const auto length = static_cast<std::size_t>(rate);
    const std::size_t delay = length / 3;

    std::mt19937_64 random(1);
    std::normal_distribution<float> noise(0.0f, 1e-4f);
    std::vector<std::vector<float>> channels(inputs, std::vector<float>(length));
    for (auto& channel : channels) {
        for (float& sample : channel) {
            sample = noise(random);
        }
    }
    for (std::size_t i = 0; i < stimulus.samples.size(); ++i) {
        channels.back()[delay + i] += 0.01f * stimulus.samples[i];
    }
    const std::vector<std::span<const float>> spans(channels.begin(), channels.end());

    // A quiet lead of 256 samples, every round trip the second holds whole searched.
    AnalysisWindow window{128, 128, 0};
    window.longestDelay = length - recordingNeeded(window, stimulus.samples.size());

    for (auto _ : state) {
        const CorrelationAnalysis analysis = analyseRecording(stimulus, spans, window);
        benchmark::DoNotOptimize(analysis);
        if (!analysis.verdict.verified() ||
            std::lround(analysis.findings.delaySamples) != std::lround(delay - 128)) {
            state.SkipWithError("the analysis missed the loop");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(inputs * length));
    state.SetLabel("items = input samples analysed");
}

BENCHMARK(analyseOneSecond)
    ->ArgNames({"rate", "inputs"})
    ->Args({48000, 2})
    ->Args({192000, 2})
    ->Args({192000, 8})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
