// A JACK client for the tests: NAME:in to NAME:out through a delay line of N samples, with
// optional polarity inversion and gain. With --physical LC LP its ports are flagged physical and
// terminal and declare a capture latency of LC (out) and a playback latency of LP (in), so that
// it stands in for an interface's capture and playback ports.
//
//   delay_line NAME N [--invert] [--gain DB] [--physical LC LP]
//
// Prints "ready" once its ports can be connected; ends on SIGTERM or SIGINT, or when the server
// shuts down.

#include <jack/jack.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <semaphore.h>
#include <string>
#include <vector>

namespace {

sem_t g_done;

struct DelayLine {
    jack_port_t* in = nullptr;
    jack_port_t* out = nullptr;
    std::vector<float> ring; // delay + 1 samples: the slot after the newest is the one to play
    std::size_t newest = 0;
    float gain = 1.0f;
    jack_latency_range_t captureLatency{0, 0};
    jack_latency_range_t playbackLatency{0, 0};
};

int process(jack_nframes_t frames, void* arg) {
    auto& line = *static_cast<DelayLine*>(arg);
    const auto* in = static_cast<const float*>(jack_port_get_buffer(line.in, frames));
    auto* out = static_cast<float*>(jack_port_get_buffer(line.out, frames));
    const std::size_t size = line.ring.size();
    for (jack_nframes_t i = 0; i < frames; ++i) {
        line.newest = (line.newest + 1) % size;
        line.ring[line.newest] = in[i];
        out[i] = line.gain * line.ring[(line.newest + 1) % size];
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
    std::fprintf(stderr, "usage: delay_line NAME N [--invert] [--gain DB] [--physical LC LP]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return usage();
    }
    DelayLine line;
    line.ring.assign(std::strtoul(argv[2], nullptr, 10) + 1, 0.0f);
    unsigned long flags = 0;
    for (int i = 3; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--invert") {
            line.gain = -line.gain;
        } else if (option == "--gain" && i + 1 < argc) {
            line.gain *= static_cast<float>(std::pow(10.0, std::atof(argv[++i]) / 20.0));
        } else if (option == "--physical" && i + 2 < argc) {
            flags = JackPortIsPhysical | JackPortIsTerminal;
            const auto capture = static_cast<jack_nframes_t>(std::strtoul(argv[++i], nullptr, 10));
            const auto playback = static_cast<jack_nframes_t>(std::strtoul(argv[++i], nullptr, 10));
            line.captureLatency = {capture, capture};
            line.playbackLatency = {playback, playback};
        } else {
            return usage();
        }
    }

    sem_init(&g_done, 0, 0);
    struct sigaction action {};
    action.sa_handler = [](int) { sem_post(&g_done); };
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

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
