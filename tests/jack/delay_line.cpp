// A JACK client for the tests: NAME:in to NAME:out through a delay line of N samples. With
// --physical LC LP its ports are flagged physical and terminal and declare a capture latency of
// LC (out) and a playback latency of LP (in), so that it stands in for an interface's ports.
//
// With --swap D each SIGUSR2 swaps the delay between N and D from the next period on, as a loop
// re-patched while it runs would (a longer one reaching back to silence, never to what has left).
//
//   delay_line NAME N [--physical LC LP] [--swap D]
//
// Prints "ready" once its ports can be connected; ends on SIGTERM or SIGINT, or when the server
// shuts down. Several delay lines, each its own process, run side by side on one server.

#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <semaphore.h>
#include <string>
#include <vector>

namespace {

sem_t g_done;
std::atomic<int> g_swapsAsked{0};

struct DelayLine {
    jack_port_t* in = nullptr;
    jack_port_t* out = nullptr;
    std::vector<float> ring; // the longer delay + 1 samples; `next` is written next
    std::size_t next = 0;
    std::size_t delay = 0;
    std::size_t other = 0; // the delay a swap takes
    jack_latency_range_t captureLatency{0, 0};
    jack_latency_range_t playbackLatency{0, 0};

    // The sample written `age` samples before the one written next.
    float& at(std::size_t age) { return ring[(next + ring.size() - age) % ring.size()]; }

    void swap() {
        for (std::size_t age = delay + 1; age <= other; ++age) {
            at(age) = 0.0f;
        }
        std::swap(delay, other);
    }
};

int process(jack_nframes_t frames, void* arg) {
    auto& line = *static_cast<DelayLine*>(arg);
    for (int n = g_swapsAsked.exchange(0); n > 0; --n) {
        line.swap();
    }
    const auto* in = static_cast<const float*>(jack_port_get_buffer(line.in, frames));
    auto* out = static_cast<float*>(jack_port_get_buffer(line.out, frames));
    for (jack_nframes_t i = 0; i < frames; ++i) {
        line.at(0) = in[i];
        out[i] = line.at(line.delay);
        line.next = (line.next + 1) % line.ring.size();
    }
    return 0;
}

void declareLatency(jack_latency_callback_mode_t mode, void* arg) {
    auto& line = *static_cast<DelayLine*>(arg);
    if (mode == JackCaptureLatency) {
        jack_port_set_latency_range(line.out, mode, &line.captureLatency);
    } else {
        jack_port_set_latency_range(line.in, mode, &line.playbackLatency);
    }
}

int usage() {
    std::fprintf(stderr, "usage: delay_line NAME N [--physical LC LP] [--swap D]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return usage();
    }
    DelayLine line;
    line.delay = line.other = std::strtoul(argv[2], nullptr, 10);
    unsigned long flags = 0;
    for (int i = 3; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--physical" && i + 2 < argc) {
            flags = JackPortIsPhysical | JackPortIsTerminal;
            const auto capture = static_cast<jack_nframes_t>(std::strtoul(argv[++i], nullptr, 10));
            const auto playback = static_cast<jack_nframes_t>(std::strtoul(argv[++i], nullptr, 10));
            line.captureLatency = {capture, capture};
            line.playbackLatency = {playback, playback};
        } else if (option == "--swap" && i + 1 < argc) {
            line.other = std::strtoul(argv[++i], nullptr, 10);
        } else {
            return usage();
        }
    }
    line.ring.assign(std::max(line.delay, line.other) + 1, 0.0f);

    sem_init(&g_done, 0, 0);
    struct sigaction action {};
    action.sa_handler = [](int signal) {
        if (signal == SIGUSR2) {
            ++g_swapsAsked;
        } else {
            sem_post(&g_done);
        }
    };
    for (const int signal : {SIGTERM, SIGINT, SIGUSR2}) {
        sigaction(signal, &action, nullptr);
    }

    jack_status_t status{};
    jack_client_t* client = jack_client_open(
        argv[1], static_cast<jack_options_t>(JackNoStartServer | JackUseExactName), &status);
    if (client == nullptr) {
        std::fprintf(stderr, "delay_line: no client (status 0x%x)\n",
                     static_cast<unsigned>(status));
        return 1;
    }
    line.in = jack_port_register(client, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput | flags, 0);
    line.out =
        jack_port_register(client, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput | flags, 0);
    jack_set_process_callback(client, process, &line);
    if (flags != 0) {
        jack_set_latency_callback(client, declareLatency, &line);
    }
    jack_on_shutdown(
        client, [](void*) { sem_post(&g_done); }, nullptr);
    if (line.in == nullptr || line.out == nullptr || jack_activate(client) != 0) {
        std::fprintf(stderr, "delay_line: the server refused the ports\n");
        jack_client_close(client);
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    while (sem_wait(&g_done) != 0 && errno == EINTR) {
    }
    jack_client_close(client);
    return 0;
}
