#include "drivers/jack/jack_setup.h"

#include "drivers/jack/jack_client.h"

#include <algorithm>
#include <memory>

namespace {

struct FreePortList {
    void operator()(const char** ports) const { jack_free(static_cast<void*>(ports)); }
};

// Audio ports with all of `flags`, in the server's order.
std::vector<std::string> audioPorts(jack_client_t* client, unsigned long flags) {
    const std::unique_ptr<const char*, FreePortList> ports(
        jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, flags));
    std::vector<std::string> names;
    for (const char** port = ports.get(); port != nullptr && *port != nullptr; ++port) {
        names.emplace_back(*port);
    }
    return names;
}

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text.empty() ? "none" : text;
}

// One direction of the plan: Tarvelo's inputs read from output ports, its outputs feed inputs.
struct Direction {
    bool isInput;
    int channels;
    const std::vector<std::string>& named;
    std::vector<std::string>& wired;
};

JackSetupCheck plan(jack_client_t* client, const JackSettings& settings, const Direction& d) {
    const unsigned long peerFlag = d.isInput ? JackPortIsOutput : JackPortIsInput;
    const char* channelKind = d.isInput ? "input" : "output";
    std::vector<std::string> candidates = audioPorts(client, peerFlag);
    // The driver's own ports of the other direction close a loop inside the client; they exist
    // only once its buffers do.
    const int ownPeers = d.isInput ? settings.outputs : settings.inputs;
    for (int k = 0; k < ownPeers; ++k) {
        const std::string own = settings.clientName + ":" + jackPortShortName(!d.isInput, k);
        if (std::find(candidates.begin(), candidates.end(), own) == candidates.end()) {
            candidates.push_back(own);
        }
    }
    const std::string listing =
        std::string(d.isInput ? "; output ports: " : "; input ports: ") + joined(candidates);

    if (d.named.size() > static_cast<std::size_t>(d.channels)) {
        return {JackSetupProblem::BadPort,
                "more ports named (" + std::to_string(d.named.size()) + ") than there are " +
                    channelKind + "s (" + std::to_string(d.channels) + ")",
                {}};
    }
    if (d.named.empty()) {
        const std::vector<std::string> physical = audioPorts(client, peerFlag | JackPortIsPhysical);
        if (physical.empty()) {
            return {JackSetupProblem::NoPhysicalPort,
                    std::string("no physical ") + (d.isInput ? "capture" : "playback") +
                        " port for " + channelKind + " 1" + listing,
                    {}};
        }
        d.wired.assign(static_cast<std::size_t>(d.channels), "");
        d.wired.front() = physical.front();
        return {};
    }
    for (std::size_t k = 0; k < d.named.size(); ++k) {
        const std::string& name = d.named[k];
        if (!name.empty() &&
            std::find(candidates.begin(), candidates.end(), name) == candidates.end()) {
            return {JackSetupProblem::BadPort,
                    std::string("no JACK ") + (d.isInput ? "output" : "input") + " port '" + name +
                        "' for " + channelKind + " " + std::to_string(k + 1) + listing,
                    {}};
        }
    }
    d.wired = d.named;
    d.wired.resize(static_cast<std::size_t>(d.channels));
    return {};
}

} // namespace

std::string jackPortShortName(bool isInput, int channel) {
    return (isInput ? "in_" : "out_") + std::to_string(channel + 1);
}

JackSetupCheck planJackWiring(jack_client_t* client, const JackSettings& settings) {
    JackWiring wiring;
    for (const Direction& d :
         {Direction{true, settings.inputs, settings.inputSources, wiring.inputSources},
          Direction{false, settings.outputs, settings.outputTargets, wiring.outputTargets}}) {
        JackSetupCheck check = plan(client, settings, d);
        if (check.problem != JackSetupProblem::None) {
            return check;
        }
    }
    return {JackSetupProblem::None, "", std::move(wiring)};
}

JackSetupCheck checkJackSetup(const JackSettings& settings) {
    std::string why;
    const std::unique_ptr<JackClient> client =
        JackClient::open(settings.clientName, true, nullptr, why);
    if (client == nullptr) {
        return {JackSetupProblem::NoClient, why, {}};
    }
    return planJackWiring(client->handle(), settings);
}
