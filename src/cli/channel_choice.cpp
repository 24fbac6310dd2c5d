#include "cli/channel_choice.h"

#include "cli/driver_choice.h"

#include <algorithm>

namespace {

// The driver's channel numbers of `wanted`, in the order given; false when one is unknown or
// chosen twice, said in `why`.
bool findChannels(const std::vector<std::string>& wanted, const std::vector<std::string>& names,
                  const std::string& what, std::vector<std::int32_t>& found, std::string& why) {
    for (const std::string& channel : wanted) {
        const int index = findNamed(names, channel, what, why);
        if (index < 0) {
            why += "; the driver's " + what +
                   "s: " + (names.empty() ? std::string("none") : numberedNames(names));
            return false;
        }
        if (std::find(found.begin(), found.end(), index) != found.end()) {
            why = what + " " + channelLabel(index, names) + " is chosen twice";
            return false;
        }
        found.push_back(index);
    }
    return true;
}

} // namespace

int chooseChannels(Run& run) {
    MeasurementSession& session = run.session;
    session.readChannelNames();
    run.report.inputNames = session.inputNames();
    run.report.outputNames = session.outputNames();
    ChannelSelection chosen;
    std::string why;
    if (!findChannels(run.options.outputs, run.report.outputNames, "output", chosen.outputs, why) ||
        !findChannels(run.options.inputs, run.report.inputNames, "input", chosen.inputs, why)) {
        run.console.error(why);
        return kExitBadInput;
    }
    if (!session.selectChannels(std::move(chosen))) {
        run.console.error("the driver has more channels than any interface");
        return kExitBadInput;
    }
    return 0;
}
