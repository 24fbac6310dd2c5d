// The text form of the loopback simulator's settings, which tarvelo-cli --sim and the driver
// DLL's registry value share: every key read back, every refusal with its reason, and hostile
// numbers either refused or run without harm.

#include "engine/buffer_sizes.h"
#include "sim/sim_host.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <map>
#include <random>
#include <sstream>

namespace {

using ::testing::HasSubstr;

// The keys and values of a text of key=value items.
std::map<std::string, std::string> itemsOf(const std::string& text) {
    std::map<std::string, std::string> items;
    std::stringstream stream(text);
    for (std::string item; std::getline(stream, item, ',');) {
        items[item.substr(0, item.find('='))] = item.substr(item.find('=') + 1);
    }
    return items;
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream stream(text);
    return {std::istream_iterator<std::string>(stream), std::istream_iterator<std::string>()};
}

TEST(SimSettingsText, EveryKeyGivenTakesEffectAndReadsBackFromItsFormattedText) {
    const auto defaults = itemsOf(formatSimSettings(SimSettings{}));
    for (const char* text :
         {"inputs=4,outputs=3,type=Float32LSB,rates=44100:48000,rate=44100.5,gain=-3.25,"
          "noise=-80.125,seed=99,route=0>2@40.5*-6dB:2>0:2>1@33:1>0*3,pace=freewheel,"
          "createfail=-3,stopfail=NoClock,reset_at=7,ratechange_at=0,ratechange_to=96000,"
          "inlatency=0,dropout_at=1.5s,dropout_kind=repeated,jump_at=2.5,jump_by=-7",
          "rates=none,type=Int32LSB20,invert=1,init=-1,min=3000,max=20,granularity=0,"
          "startfail=HWMalfunction,outlatency=100,preferred=64,dropout_at=40,dropout_periods=3,"
          "open_states=0@0.7/256@0.3,drift_ppm=-2.5",
          "delay=99.125,converter=1,floating=-12.5,dc=-33.25,dc_polarity=-,hum=50,hum_level=-3,"
          "ghost_gain=6.5,ghost_delay=4194304,ac_coupling=3.5"}) {
        SCOPED_TRACE(text);
        const std::string formatted = formatSimSettings(simSettings(text));
        EXPECT_EQ(formatSimSettings(simSettings(formatted)), formatted);
        const auto items = itemsOf(formatted);
        for (const auto& [key, value] : itemsOf(text)) {
            EXPECT_NE(items.at(key), defaults.at(key)) << key << "=" << value;
        }
    }
}

TEST(SimSettingsText, ARefusedTextNamesTheKeyWhyAndWhatIsValidAndChangesNothing) {
    const struct {
        const char* text;
        const char* key;
        const char* reason;
    } cases[] = {
        {"colour=red", "colour", "valid keys: inputs, outputs, type"},
        {"inputs", "inputs", "has no value"},
        {"inputs=65", "inputs", "expected a whole number from 0 to 64"},
        {"rate=1e12", "rate", "out of range: valid from 1000 to 1000000 Hz"},
        {"rates=48000/0.5", "rates", "out of range"},
        {"gain=1e308", "gain", "out of range: valid from -200 to 60 dB"},
        {"gain=nan", "gain", "expected a gain in dB"},
        {"delay=10.25", "delay", "less than the group delay of the filter it needs"},
        {"ghost_gain=-20,ghost_delay=3.5", "ghost_delay", "less than the group delay"},
        {"route=0>5", "route 0>5", "output 5 does not exist (2 outputs)"},
        {"route=0>1:0>1", "route 0>1", "given twice"},
        {"route=0>1:0>-", "route", "expected default, none, or input>output pairs"},
        {"drift_ppm=-5,delay=24.5", "drift_ppm", "at least 25 samples"},
        {"delay=32,jump_at=1,jump_by=-40", "delay", "-8 with open_states and jump_by"},
        {"jump_by=1e3", "jump_by", "expected a whole number"},
        {"open_states=0/1/2/3/4/5/6/7/8/9/10/11/12/13/14/15/16", "open_states", "at most 16"},
        {"delay=20,open_states=-30@1", "delay", "less than 0 samples"},
        {"dropout_at=1e400s", "dropout_at", "expected"},
        {"dropout_kind=late", "dropout_kind", "expected lost or repeated"},
        {"seed=-1", "seed", "expected"},
        {"preferred=2147483647", "preferred", "largest 32-bit latency"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        SimSettings settings;
        settings.loopDelay = 77;
        std::string error;
        EXPECT_FALSE(parseSimSettings(c.text, settings, &error));
        EXPECT_THAT(error, HasSubstr(c.key));
        EXPECT_THAT(error, HasSubstr(c.reason));
        EXPECT_EQ(settings.loopDelay, 77);
    }
}

// The first size the driver offers that a test can afford, or 0.
ASIOLong affordableSize(const SimSettings& settings) {
    for (BufferSizeWalk walk(settings.minBufferSize, settings.maxBufferSize, settings.granularity);
         !walk.done(); walk.next()) {
        if (walk.size() >= 1 && walk.size() <= 4096) {
            return walk.size();
        }
    }
    return 0;
}

// Seeded: numbers at and past every limit in any key, a few at a time. A refusal names one of
// the keys given; settings taken run, and every input stays a number within full scale, whatever
// the host plays (the sanitizer builds also catch any overflowing conversion on the way).
TEST(SimSettingsText, HostileNumbersAreRefusedWithTheirKeyOrRunSafely) {
    const std::vector<std::string> keys = words(
        "inputs outputs rates rate min max preferred granularity delay gain noise seed floating dc "
        "hum_level ghost_gain ghost_delay route reset_at ratechange_at ratechange_to inlatency "
        "outlatency ac_coupling open_states jump_at jump_by drift_ppm dropout_at dropout_periods");
    const std::vector<std::string> values = words(
        "0 -0 1 -1 0.5 24.5 64 1e-300 -1e-300 1e12 1e308 -1e308 inf nan 4194304 4194305 2147483647 "
        "-2147483648 9223372036854775807 18446744073709551616 1000000 999.9 -200 60 20 1000 "
        "0@1/-40@2 0>1@30*60 1>0@4194304:0>0 3s 0.01 100 2 32 48000 -20 256 0.25s");
    std::mt19937_64 random(0x5eed);
    int refused = 0;
    int ran = 0;
    for (int round = 0; round < 800; ++round) {
        std::string text;
        std::vector<std::string> given;
        for (auto n = 1 + random() % 4; n != 0; --n) {
            given.push_back(keys[random() % keys.size()]);
            text +=
                (text.empty() ? "" : ",") + given.back() + "=" + values[random() % values.size()];
        }
        SCOPED_TRACE(text);
        SimSettings settings;
        std::string error;
        if (!parseSimSettings(text, settings, &error)) {
            ++refused;
            EXPECT_TRUE(std::any_of(given.begin(), given.end(),
                                    [&](const std::string& key) {
                                        return error.find(key) != std::string::npos;
                                    }) ||
                        error.find("inputs and outputs") != std::string::npos)
                << error;
            continue;
        }
        const ASIOLong frames = affordableSize(settings);
        if (frames == 0 || settings.inputs + settings.outputs == 0) {
            continue;
        }
        // Every other host writes floats, and now and then what is not a number.
        const bool floats = round % 2 == 1;
        settings.sampleType = floats ? ASIOSTFloat32LSB : settings.sampleType;
        SimHost host(settings, frames);
        if (host.created() != ASE_OK) {
            EXPECT_EQ(host.created(), ASE_NoMemory); // the histories' memory bound
            continue;
        }
        ++ran;
        ASSERT_TRUE(host.run(6, [floats](int, std::int64_t time) {
            return time % 7 == 0              ? 0.5
                   : floats && time % 11 == 0 ? std::numeric_limits<double>::quiet_NaN()
                                              : 0.0;
        }));
        for (const std::vector<double>& input : host.heard) {
            EXPECT_TRUE(std::all_of(input.begin(), input.end(), [](double v) {
                return std::isfinite(v) && std::fabs(v) <= 1;
            }));
        }
    }
    EXPECT_GT(refused, 400);
    EXPECT_GT(ran, 100);
}

} // namespace
