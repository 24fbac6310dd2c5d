// The simulator settings' text form.

#include "drivers/sim/loopback_sim.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr const char* kDefaults =
    "inputs=2,outputs=2,type=Int32LSB,rates=22050/32000/44100/48000/96000/192000,rate=48000,"
    "min=32,max=2048,preferred=256,granularity=-1,delay=32,gain=0,invert=0,converter=off,"
    "noise=off,seed=1,floating=off,dc=off,dc_polarity=+,hum=off,hum_level=-60,ghost_gain=off,"
    "ghost_delay=0,route=default,pace=realtime,init=1,createfail=off,startfail=off,stopfail=off,"
    "reset_at=off,ratechange_at=off,ratechange_to=44100,inlatency=8,outlatency=16";

SimSettings parsed(std::string_view text) {
    SimSettings settings;
    std::string error;
    EXPECT_TRUE(parseSimSettings(text, settings, &error)) << text << ": " << error;
    return settings;
}

TEST(SimSettingsText, DefaultsFormatAsDocumented) {
    EXPECT_EQ(formatSimSettings(SimSettings{}), kDefaults);
    EXPECT_EQ(formatSimSettings(parsed("")), kDefaults);
}

TEST(SimSettingsText, ReadsEveryKey) {
    const SimSettings s =
        parsed(" inputs = 4 ; outputs=3, type=Float32LSB, rates=44100:48000, rate=44100, min=64, "
               "max=1024, preferred=128, granularity=64, delay=1000.25, gain=-3.5, invert=yes, "
               "converter=on, noise=-80.25, seed=18446744073709551615, floating=on, dc=-50, "
               "dc_polarity=-, hum=60, hum_level=-70.5, ghost_gain=-30, ghost_delay=12, "
               "route=0>2:2>-:1>0, pace=FreeWheel, init=0, createfail=ASE_NoMemory, "
               "startfail=HWMalfunction, stopfail=-12, reset_at=7, ratechange_at=0, "
               "ratechange_to=96000, inlatency=0, outlatency=100");
    EXPECT_EQ(s.inputs, 4);
    EXPECT_EQ(s.outputs, 3);
    EXPECT_EQ(s.sampleType, ASIOSTFloat32LSB);
    EXPECT_THAT(s.acceptedRates, ElementsAre(44100, 48000));
    EXPECT_EQ(s.sampleRate, 44100);
    EXPECT_EQ(s.minBufferSize, 64);
    EXPECT_EQ(s.maxBufferSize, 1024);
    EXPECT_EQ(s.preferredBufferSize, 128);
    EXPECT_EQ(s.granularity, 64);
    EXPECT_EQ(s.loopDelay, 1000.25);
    EXPECT_EQ(s.alignmentDelay(), 1000.25) << "the converter's group delay is part of the delay";
    EXPECT_EQ(s.loopGainDb, -3.5);
    EXPECT_TRUE(s.invertPolarity);
    EXPECT_TRUE(s.converterFilter);
    EXPECT_EQ(s.noiseDbfs, -80.25);
    EXPECT_EQ(s.noiseSeed, 18446744073709551615u);
    EXPECT_EQ(s.floatingDbfs, -6);
    EXPECT_EQ(s.dcDbfs, -50);
    EXPECT_TRUE(s.negativeDc);
    EXPECT_EQ(s.humHz, 60);
    EXPECT_EQ(s.humDbfs, -70.5);
    EXPECT_EQ(s.ghostGainDb, -30);
    EXPECT_EQ(s.ghostDelay, 12);
    ASSERT_TRUE(s.routing);
    EXPECT_THAT(*s.routing, ElementsAre(2, 0, kNoCable));
    EXPECT_EQ(s.sourceOf(0), 2);
    EXPECT_EQ(s.sourceOf(2), kNoCable);
    EXPECT_EQ(s.sourceOf(3), kNoCable) << "inputs past the list have no cable";
    EXPECT_EQ(s.pacing, SimPacing::Freewheel);
    EXPECT_EQ(s.initResult, 0);
    EXPECT_EQ(s.createBuffersFailure, ASE_NoMemory);
    EXPECT_EQ(s.startFailure, ASE_HWMalfunction);
    EXPECT_EQ(s.stopFailure, -12);
    EXPECT_EQ(s.resetRequestAtSwitch, 7);
    EXPECT_EQ(s.rateChangeAtSwitch, 0);
    EXPECT_EQ(s.rateChangeTo, 96000);
    EXPECT_EQ(s.inputSafetyOffset, 0);
    EXPECT_EQ(s.outputSafetyOffset, 100);
}

TEST(SimSettingsText, FormatReadsBackToTheSameSettings) {
    for (const char* text :
         {"inputs=4,outputs=3,type=Float32LSB,rates=44100:48000,rate=44100.5,gain=-3.25,"
          "noise=-80.125,seed=99,route=0>2:2>-:1>0,pace=freewheel,createfail=-3,stopfail=NoClock,"
          "reset_at=7",
          "cable=off,rates=none,type=Int32LSB20,invert=1,init=-1,min=3000,max=20,granularity=0",
          "route=1>1,inputs=3",
          "delay=99.125,converter=1,floating=-12.5,dc=-33.25,dc_polarity=-,hum=50,hum_level=-3,"
          "ghost_gain=6.5,ghost_delay=4194304"}) {
        SCOPED_TRACE(text);
        const SimSettings first = parsed(text);
        const std::string formatted = formatSimSettings(first);
        const SimSettings second = parsed(formatted);
        EXPECT_EQ(formatSimSettings(second), formatted);
        EXPECT_EQ(second.routing, first.routing);
        EXPECT_EQ(second.acceptedRates, first.acceptedRates);
        EXPECT_EQ(second.sampleRate, first.sampleRate);
        EXPECT_EQ(second.loopGainDb, first.loopGainDb);
        EXPECT_EQ(second.noiseDbfs, first.noiseDbfs);
        EXPECT_EQ(second.createBuffersFailure, first.createBuffersFailure);
        EXPECT_EQ(second.loopDelay, first.loopDelay);
        EXPECT_EQ(second.floatingDbfs, first.floatingDbfs);
        EXPECT_EQ(second.dcDbfs, first.dcDbfs);
        EXPECT_EQ(second.negativeDc, first.negativeDc);
        EXPECT_EQ(second.humDbfs, first.humDbfs);
        EXPECT_EQ(second.ghostGainDb, first.ghostGainDb);
    }
}

TEST(SimSettingsText, OffersShortFormsForCablesAndTypes) {
    EXPECT_EQ(parsed("cable=off").routing, std::vector<int>{});
    EXPECT_EQ(parsed("route=none").routing, std::vector<int>{});
    EXPECT_FALSE(parsed("route=0>1,cable=on").routing.has_value());
    EXPECT_THAT(*parsed("route=1>0").routing, ElementsAre(kNoCable, 0));
    EXPECT_EQ(parsed("type=17").sampleType, ASIOSTInt24LSB);
    EXPECT_EQ(parsed("type=int16lsb").sampleType, ASIOSTInt16LSB);
    EXPECT_EQ(parsed("rates=none").acceptedRates, std::vector<double>{});
    EXPECT_EQ(parsed("noise=-40,noise=off").noiseDbfs, std::nullopt);
    EXPECT_EQ(parsed("floating=on,floating=off").floatingDbfs, std::nullopt);
    EXPECT_EQ(parsed("hum=60,hum=none").humHz, 0);
    EXPECT_EQ(parsed("reset_at=3,reset_at=never").resetRequestAtSwitch, -1);
    EXPECT_EQ(parsed("createfail=ASE_OK").createBuffersFailure, ASE_OK);
}

TEST(SimSettingsText, ReadsOverTheValuesAlreadyHeld) {
    SimSettings settings;
    settings.loopDelay = 500;
    std::string error;
    ASSERT_TRUE(parseSimSettings("inputs=1", settings, &error)) << error;
    EXPECT_EQ(settings.loopDelay, 500);
    EXPECT_EQ(settings.inputs, 1);
}

TEST(SimSettingsText, NamesTheBadKeyOrValueAndWhatIsValid) {
    const std::pair<const char*, const char*> cases[] = {
        {"colour=red", "unknown key 'colour'; valid keys: inputs, outputs, type"},
        {"inputs", "'inputs' has no value; write key=value"},
        {"inputs=two", "bad value 'two' for inputs: expected a whole number from 0 to 64"},
        {"inputs=65", "from 0 to 64"},
        {"outputs=-1", "bad value '-1' for outputs"},
        {"type=Int24MSB", "expected one of Int16LSB, Int24LSB, Int32LSB, Float32LSB, "
                          "Float64LSB, Int32LSB16, Int32LSB18, Int32LSB20, Int32LSB24"},
        {"type=1", "bad value '1' for type"},
        {"rates=44100/x", "bad value '44100/x' for rates"},
        {"rates=0", "above 0"},
        {"rate=-48000", "bad value '-48000' for rate"},
        {"rate=inf", "bad value 'inf' for rate"},
        {"min=1.5", "bad value '1.5' for min: expected a 32-bit whole number"},
        {"max=4294967296", "bad value '4294967296' for max"},
        {"delay=-1", "bad value '-1' for delay: expected a number of samples from 0"},
        {"delay=4194305", "for delay"},
        {"delay=nan", "for delay"},
        {"delay=10.25", "delay 10.25 is less than the group delay of the filter it needs"},
        {"delay=20,converter=on", "delay 20 is less than the group delay"},
        {"converter=maybe", "for converter"},
        {"floating=loud", "for floating: expected on (noise at -6 dBFS peak), off, or a peak"},
        {"dc=1e999", "for dc"},
        {"dc_polarity=negative", "for dc_polarity: expected + or -"},
        {"hum=55", "bad value '55' for hum: expected 50, 60 (Hz) or off"},
        {"hum_level=off", "for hum_level"},
        {"ghost_gain=x", "for ghost_gain"},
        {"ghost_delay=2.5", "for ghost_delay: expected a whole number of samples"},
        {"gain=loud", "bad value 'loud' for gain"},
        {"invert=maybe", "bad value 'maybe' for invert"},
        {"noise=quiet", "for noise: expected a peak level in dBFS, or off"},
        {"seed=-1", "for seed"},
        {"route=0>5", "route: output 5 does not exist (2 outputs)"},
        {"route=2>0", "route: input 2 does not exist (2 inputs)"},
        {"route=0>0:0>1", "bad value '0>0:0>1' for route: expected default, none, or "
                          "input>output pairs"},
        {"route=0-1", "for route"},
        {"cable=maybe", "for cable"},
        {"pace=fast", "bad value 'fast' for pace: expected realtime or freewheel"},
        {"init=yes", "for init"},
        {"startfail=ASE_Broken", "for startfail: expected off, an error name"},
        {"reset_at=-2", "for reset_at: expected a switch number from 0, or off"},
        {"ratechange_to=0", "for ratechange_to"},
        {"outlatency=-5", "for outlatency"},
        {"inputs=1,route=0>0:1>1", "route: input 1 does not exist (1 inputs)"},
    };
    for (const auto& [text, message] : cases) {
        SimSettings settings;
        settings.loopDelay = 77;
        std::string error;
        EXPECT_FALSE(parseSimSettings(text, settings, &error)) << text;
        EXPECT_THAT(error, HasSubstr(message)) << text;
        EXPECT_EQ(settings.loopDelay, 77) << text << ": a refused text changes nothing";
    }
    SimSettings settings;
    EXPECT_FALSE(parseSimSettings("inputs=x", settings, nullptr)) << "the error is optional";
}

TEST(SimSettingsText, HelpNamesEveryKey) {
    const std::string help = simSettingsHelp();
    std::string_view keys = kDefaults;
    while (!keys.empty()) {
        const auto item = keys.substr(0, keys.find(','));
        const auto key = std::string(item.substr(0, item.find('=')));
        EXPECT_THAT(help, HasSubstr(key));
        keys.remove_prefix(std::min(keys.size(), item.size() + 1));
    }
    EXPECT_THAT(help, HasSubstr("cable=off"));
}

} // namespace
