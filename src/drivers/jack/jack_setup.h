#pragma once
// The driver's setup against a server: which JACK ports its channels are wired to, worked out from
// JackSettings against the ports the server has now, and why a client could not be opened. The
// driver wires itself by this plan in createBuffers; a tool can check the same plan before it
// opens the driver (checkJackSetup), to tell a user what is wrong.

#include "drivers/jack/jack_settings.h"

#include <jack/jack.h>

#include <string>
#include <vector>

struct JackWiring {
    // Full port names, one per channel from 0; "" leaves the channel unconnected.
    std::vector<std::string> inputSources;
    std::vector<std::string> outputTargets;
};

enum class JackSetupProblem {
    None,
    NoClient,       // none could be opened: no server, one that does not answer, the name taken
    BadPort,        // a named port does not exist, carries audio the wrong way, or has no channel
    NoPhysicalPort, // no port was named for a direction and the server has no physical one
};

struct JackSetupCheck {
    JackSetupProblem problem = JackSetupProblem::None;
    std::string message; // what is wrong and, for a port, the ports that would do
    JackWiring wiring;   // complete when there is no problem
};

// Names given in the settings must be audio ports of the right direction (the driver's own
// ports, "<clientName>:out_K" / "<clientName>:in_K", included); a direction given no names
// wires channel 0 to the server's first physical port.
JackSetupCheck planJackWiring(jack_client_t* client, const JackSettings& settings);

// Opens a short-lived client of the driver's name (never starting a server), which no other
// client may have, and plans the wiring.
JackSetupCheck checkJackSetup(const JackSettings& settings);

// The driver's own port names: "in_1", "out_1", ...
std::string jackPortShortName(bool isInput, int channel);
