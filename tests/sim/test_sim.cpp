// The text form of the loopback simulator's settings, which tarvelo-cli --sim and the driver
// DLL's registry value share. What the simulator does as a driver, the measurement tests
// exercise through the dialog.

#include "drivers/sim/loopback_sim.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace {

using ::testing::HasSubstr;

SimSettings parsed(std::string_view text) {
    SimSettings settings;
    std::string error;
    EXPECT_TRUE(parseSimSettings(text, settings, &error)) << text << ": " << error;
    return settings;
}

// The keys and values of a text of key=value items.
std::map<std::string, std::string> itemsOf(const std::string& text) {
    std::map<std::string, std::string> items;
    std::stringstream stream(text);
    for (std::string item; std::getline(stream, item, ',');) {
        items[item.substr(0, item.find('='))] = item.substr(item.find('=') + 1);
    }
    return items;
}

TEST(SimSettingsText, EveryKeyGivenTakesEffectAndReadsBackFromItsFormattedText) {
    const auto defaults = itemsOf(formatSimSettings(SimSettings{}));
    for (const char* text :
         {"inputs=4,outputs=3,type=Float32LSB,rates=44100:48000,rate=44100.5,gain=-3.25,"
          "noise=-80.125,seed=99,route=0>2:2>-:1>0,pace=freewheel,createfail=-3,"
          "stopfail=NoClock,reset_at=7,ratechange_at=0,ratechange_to=96000,inlatency=0",
          "rates=none,type=Int32LSB20,invert=1,init=-1,min=3000,max=20,granularity=0,"
          "startfail=HWMalfunction,outlatency=100,preferred=64",
          "delay=99.125,converter=1,floating=-12.5,dc=-33.25,dc_polarity=-,hum=50,hum_level=-3,"
          "ghost_gain=6.5,ghost_delay=4194304"}) {
        SCOPED_TRACE(text);
        const std::string formatted = formatSimSettings(parsed(text));
        EXPECT_EQ(formatSimSettings(parsed(formatted)), formatted);
        const auto items = itemsOf(formatted);
        for (const auto& [key, value] : itemsOf(text)) {
            EXPECT_NE(items.at(key), defaults.at(key)) << key << "=" << value;
        }
    }
}

TEST(SimSettingsText, ARefusedTextNamesTheBadItemAndChangesNothing) {
    const std::pair<const char*, const char*> cases[] = {
        {"colour=red", "unknown key 'colour'; valid keys: inputs, outputs, type"},
        {"inputs", "'inputs' has no value; write key=value"},
        {"inputs=65", "bad value '65' for inputs: expected a whole number from 0 to 64"},
        {"delay=10.25", "delay 10.25 is less than the group delay of the filter it needs"},
        {"route=0>5", "route: output 5 does not exist (2 outputs)"},
    };
    for (const auto& [text, message] : cases) {
        SimSettings settings;
        settings.loopDelay = 77;
        std::string error;
        EXPECT_FALSE(parseSimSettings(text, settings, &error)) << text;
        EXPECT_THAT(error, HasSubstr(message)) << text;
        EXPECT_EQ(settings.loopDelay, 77) << text;
    }
}

} // namespace
