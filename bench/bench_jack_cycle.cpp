// What the JACK driver's process callback costs on JACK's process thread: one cycle of
// JackCycle::run, the copies into and out of the host's halves around bufferSwitch, against an
// empty JACK client measured the same way. Both are called directly, with fake port buffers in
// place of jack_port_get_buffer (a server's clock would pace the calls, one per period); the
// host's bufferSwitch does nothing here, as its own cost is bench_buffer_switch's.

#include "drivers/jack/jack_cycle.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

// `channels` inputs and outputs of `frames` samples, each with a port buffer of its own.
struct FakePorts {
    explicit FakePorts(const benchmark::State& state)
        : channels(static_cast<int>(state.range(0)))
        , frames(static_cast<jack_nframes_t>(state.range(1)))
        , buffers(static_cast<std::size_t>(2 * channels), std::vector<float>(frames, 0.25f)) {
        for (int i = 0; i < 2 * channels; ++i) {
            infos.push_back({i < channels ? ASIOTrue : ASIOFalse, i % channels, {}});
        }
    }

    float* portBuffer(const JackCycle::Channel& c) {
        return buffers[static_cast<std::size_t>(c.isInput ? c.index : channels + c.index)].data();
    }

    int channels;
    jack_nframes_t frames;
    std::vector<std::vector<float>> buffers;
    std::vector<ASIOBufferInfo> infos;
};

void driverCycle(benchmark::State& state) {
    FakePorts ports(state);
    JackCycle cycle;
    cycle.prepare(ports.infos.data(), static_cast<ASIOLong>(ports.infos.size()), ports.frames,
                  [](ASIOLong, ASIOBool) {});
    cycle.start();
    jack_nframes_t frameTime = 0;
    for (auto _ : state) {
        cycle.run(ports.frames, frameTime,
                  [&ports](const JackCycle::Channel& c) { return ports.portBuffer(c); });
        frameTime += ports.frames;
    }
    state.SetItemsProcessed(state.iterations() * 2 * ports.channels * ports.frames);
    state.SetLabel("items = samples copied");
}

// A client whose process callback takes its port buffers and does nothing with them.
void emptyClient(benchmark::State& state) {
    FakePorts ports(state);
    JackCycle cycle;
    cycle.prepare(ports.infos.data(), static_cast<ASIOLong>(ports.infos.size()), ports.frames,
                  [](ASIOLong, ASIOBool) {});
    for (auto _ : state) {
        for (const JackCycle::Channel& c : cycle.channels()) {
            benchmark::DoNotOptimize(ports.portBuffer(c));
        }
    }
}

void sizes(benchmark::internal::Benchmark* b) {
    for (int channels : {2, 64}) {
        for (int frames : {32, 1024}) {
            b->Args({channels, frames});
        }
    }
    b->ArgNames({"channels", "frames"});
}

} // namespace

BENCHMARK(driverCycle)->Apply(sizes);
BENCHMARK(emptyClient)->Apply(sizes);
BENCHMARK_MAIN();
