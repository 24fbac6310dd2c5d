#pragma once
// What a JACK driver instance is made with: its client, its channels and what they connect to.

#include <functional>
#include <string>
#include <vector>

inline constexpr int kMaxJackChannels = 64;

struct JackSettings {
    std::string clientName = "tarvelo"; // taken exactly: a second driver on the server fails init
    int inputs = 2;
    int outputs = 2;
    // Full port names per channel from 0: what input k reads from, what output k feeds. Past the
    // end or "": unconnected. A direction given no names at all wires channel 0 to the server's
    // first physical port of that direction.
    std::vector<std::string> inputSources;
    std::vector<std::string> outputTargets;
    // Told what happened to the server and the connections ("the JACK period changed from 256
    // to 512 samples"), on the driver's event thread. May be empty.
    std::function<void(const std::string&)> notice;
};
