// The simulator as a driver: what it reports, what createBuffers accepts, COM references, the
// call log and the injected faults.

#include "sim/sim_test_host.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::string errorMessage(LoopbackSimulator& sim) {
    char text[124] = {};
    sim.getErrorMessage(text);
    return text;
}

void ignoreSwitch(ASIOLong /*half*/, ASIOBool /*directProcess*/) {}

ASIOCallbacks quietCallbacks() {
    return {&ignoreSwitch, nullptr, nullptr, nullptr};
}

ASIOBufferInfo input(ASIOLong channel) {
    return {ASIOTrue, channel, {nullptr, nullptr}};
}

ASIOBufferInfo output(ASIOLong channel) {
    return {ASIOFalse, channel, {nullptr, nullptr}};
}

TEST(SimDriver, AnswersWhatItsSettingsSay) {
    auto sim = makeSim("inputs=4,outputs=6,type=Int24LSB,min=64,max=1024,preferred=128,"
                       "inlatency=10,outlatency=20");
    ASSERT_TRUE(sim);
    EXPECT_EQ(sim->init(nullptr), ASIOTrue);
    ASIOLong inputs = 0;
    ASIOLong outputs = 0;
    EXPECT_EQ(sim->getChannels(&inputs, &outputs), ASE_OK);
    EXPECT_EQ(inputs, 4);
    EXPECT_EQ(outputs, 6);
    ASIOLong sizes[4] = {};
    EXPECT_EQ(sim->getBufferSize(&sizes[0], &sizes[1], &sizes[2], &sizes[3]), ASE_OK);
    EXPECT_THAT(sizes, ElementsAre(64, 1024, 128, -1));
    ASIOLong inLatency = 0;
    ASIOLong outLatency = 0;
    EXPECT_EQ(sim->getLatencies(&inLatency, &outLatency), ASE_OK);
    EXPECT_EQ(inLatency, 128 + 10) << "before buffers exist: the preferred size";
    EXPECT_EQ(outLatency, 128 + 20);

    char name[32];
    std::memset(name, 'x', sizeof name);
    sim->getDriverName(name);
    EXPECT_STREQ(name, "Tarvelo Loopback Simulator");
    EXPECT_EQ(sim->getDriverVersion(), 1);

    ASIOChannelInfo info{};
    info.channel = 3;
    info.isInput = ASIOTrue;
    ASSERT_EQ(sim->getChannelInfo(&info), ASE_OK);
    EXPECT_EQ(info.type, ASIOSTInt24LSB);
    EXPECT_STREQ(info.name, "Sim In 4");
    EXPECT_EQ(info.isActive, ASIOFalse);
    EXPECT_EQ(info.channelGroup, 0);
    info.channel = 5;
    info.isInput = ASIOFalse;
    ASSERT_EQ(sim->getChannelInfo(&info), ASE_OK);
    EXPECT_STREQ(info.name, "Sim Out 6");
    for (const auto& [channel, isInput] : {std::pair{4, ASIOTrue}, std::pair{6, ASIOFalse},
                                           std::pair{-1, ASIOTrue}, std::pair{-1, ASIOFalse}}) {
        info.channel = channel;
        info.isInput = isInput;
        EXPECT_EQ(sim->getChannelInfo(&info), ASE_InvalidParameter)
            << channel << (isInput ? " in" : " out");
    }
    EXPECT_EQ(sim->getChannelInfo(nullptr), ASE_InvalidParameter);

    SimTestHost host(*sim, 256, 0, HostChannels{{3}, {0}});
    ASSERT_EQ(host.createBuffers(), ASE_OK);
    EXPECT_EQ(sim->getLatencies(&inLatency, &outLatency), ASE_OK);
    EXPECT_EQ(inLatency, 256 + 10) << "with buffers: their size";
    EXPECT_EQ(outLatency, 256 + 20);
    info.channel = 3;
    info.isInput = ASIOTrue;
    ASSERT_EQ(sim->getChannelInfo(&info), ASE_OK);
    EXPECT_EQ(info.isActive, ASIOTrue);
    info.channel = 0;
    ASSERT_EQ(sim->getChannelInfo(&info), ASE_OK);
    EXPECT_EQ(info.isActive, ASIOFalse);
    EXPECT_EQ(sim->disposeBuffers(), ASE_OK);
}

TEST(SimDriver, ReportedLatenciesNeverExceedTheLoopTheyDescribe) {
    // A driver reports one buffer plus its safety offsets each way; together they may not exceed
    // the round trip 2B + L, whatever the offsets are set to.
    struct Case {
        const char* settings;
        ASIOLong in, out;
    };
    const Case cases[] = {
        {"", 256 + 8, 256 + 16},
        {"delay=0", 256, 256},
        {"delay=10", 256 + 8, 256 + 2},
        {"delay=100,inlatency=40,outlatency=70", 256 + 40, 256 + 60},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings);
        auto sim = makeSim(c.settings);
        ASSERT_TRUE(sim);
        ASIOLong in = 0;
        ASIOLong out = 0;
        EXPECT_EQ(sim->getLatencies(&in, &out), ASE_OK);
        EXPECT_EQ(in, c.in);
        EXPECT_EQ(out, c.out);
        EXPECT_EQ(2 * 256 + sim->settings().loopDelay - in - out,
                  sim->settings().unreportedDelay());
    }
}

TEST(SimDriver, OffersOneInternalClockAndNoFutureSelectors) {
    auto sim = makeSim("");
    ASSERT_TRUE(sim);
    ASIOClockSource clocks[2] = {};
    ASIOLong count = 2;
    EXPECT_EQ(sim->getClockSources(clocks, &count), ASE_OK);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(clocks[0].isCurrentSource, ASIOTrue);
    EXPECT_STREQ(clocks[0].name, "Internal");
    count = 0;
    EXPECT_EQ(sim->getClockSources(clocks, &count), ASE_InvalidParameter);
    EXPECT_EQ(sim->setClockSource(0), ASE_OK);
    EXPECT_EQ(sim->setClockSource(1), ASE_InvalidParameter);
    for (ASIOLong selector = 0; selector < 20; ++selector) {
        EXPECT_EQ(sim->future(selector, nullptr), ASE_InvalidParameter) << selector;
    }
    EXPECT_EQ(sim->controlPanel(), ASE_OK);
}

TEST(SimDriver, OnlyAcceptedRatesCanBeSet) {
    auto sim = makeSim("rates=44100/48000,rate=48000");
    ASSERT_TRUE(sim);
    EXPECT_EQ(sim->canSampleRate(44100), ASE_OK);
    EXPECT_EQ(sim->canSampleRate(48000), ASE_OK);
    EXPECT_EQ(sim->canSampleRate(44100.5), ASE_NoClock);
    EXPECT_EQ(sim->canSampleRate(96000), ASE_NoClock);
    ASIOSampleRate rate = 0;
    EXPECT_EQ(sim->setSampleRate(44100), ASE_OK);
    EXPECT_EQ(sim->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(sim->setSampleRate(96000), ASE_NoClock);
    EXPECT_THAT(errorMessage(*sim), HasSubstr("setSampleRate"));
    EXPECT_EQ(sim->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, 44100) << "a refused rate changes nothing";
    EXPECT_EQ(sim->getSampleRate(nullptr), ASE_InvalidParameter);
}

TEST(SimDriver, MayRunAtARateItDoesNotOffer) {
    auto sim = makeSim("rates=none,rate=12345");
    ASSERT_TRUE(sim);
    ASIOSampleRate rate = 0;
    EXPECT_EQ(sim->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, 12345);
    EXPECT_EQ(sim->canSampleRate(12345), ASE_NoClock);
}

struct BadRequest {
    const char* what;
    std::vector<ASIOBufferInfo> infos;
    ASIOLong bufferSize;
    const char* reason;
};

TEST(SimDriver, CreateBuffersRefusesRequestsOutsideWhatItOffers) {
    auto sim = makeSim("");
    ASSERT_TRUE(sim);
    const std::vector<ASIOBufferInfo> good{input(0), input(1), output(0), output(1)};
    const BadRequest requests[] = {
        {"below the minimum", good, 16, "buffer size 16 is not offered (32 to 2048, doubling)"},
        {"above the maximum", good, 4096, "not offered"},
        {"not a power of two", good, 100, "not offered"},
        {"zero", good, 0, "not offered"},
        {"negative", good, -256, "not offered"},
        {"input past the last", {input(0), input(2)}, 256, "there is no input 2 (record 1)"},
        {"negative input", {input(-1)}, 256, "there is no input -1"},
        {"output past the last", {output(2)}, 256, "there is no output 2"},
        {"input twice",
         {input(1), output(0), input(1)},
         256,
         "input 1 (record 2) is asked for twice"},
        {"output twice", {output(0), output(0)}, 256, "asked for twice"},
        {"no channels", {}, 256, "no channels"},
    };
    ASIOCallbacks callbacks = quietCallbacks();
    for (const BadRequest& request : requests) {
        SCOPED_TRACE(request.what);
        std::vector<ASIOBufferInfo> infos = request.infos;
        EXPECT_EQ(sim->createBuffers(infos.data(), static_cast<ASIOLong>(infos.size()),
                                     request.bufferSize, &callbacks),
                  ASE_InvalidParameter);
        EXPECT_THAT(errorMessage(*sim), HasSubstr(request.reason));
        for (const ASIOBufferInfo& info : infos) {
            EXPECT_EQ(info.buffers[0], nullptr);
        }
    }
    std::vector<ASIOBufferInfo> infos = good;
    EXPECT_EQ(sim->createBuffers(infos.data(), 4, 256, nullptr), ASE_InvalidParameter);
    ASIOCallbacks noSwitch{nullptr, nullptr, nullptr, nullptr};
    EXPECT_EQ(sim->createBuffers(infos.data(), 4, 256, &noSwitch), ASE_InvalidParameter);
    EXPECT_THAT(errorMessage(*sim), HasSubstr("bufferSwitch"));
    EXPECT_EQ(sim->createBuffers(nullptr, 4, 256, &callbacks), ASE_InvalidParameter);
    EXPECT_EQ(sim->start(), ASE_InvalidMode) << "no failed request left buffers behind";
    EXPECT_EQ(sim->disposeBuffers(), ASE_InvalidMode);

    EXPECT_EQ(sim->createBuffers(infos.data(), 4, 2048, &callbacks), ASE_OK);
}

TEST(SimDriver, CreateBuffersFollowsTheGranularity) {
    struct Case {
        const char* settings;
        ASIOLong size;
        ASIOError expected;
    };
    const Case cases[] = {
        {"min=64,max=1024,granularity=64", 128, ASE_OK},
        {"min=64,max=1024,granularity=64", 1024, ASE_OK},
        {"min=64,max=1024,granularity=64", 100, ASE_InvalidParameter},
        {"min=64,max=1024,granularity=64", 1088, ASE_InvalidParameter},
        {"min=96,max=96,granularity=0", 96, ASE_OK},
        {"min=96,max=96,granularity=0", 128, ASE_InvalidParameter},
        {"min=100,max=1000,granularity=100", 700, ASE_OK},
        {"min=100,max=1000,granularity=100", 750, ASE_InvalidParameter},
        {"min=32,max=2048,granularity=-1", 2048, ASE_OK},
        {"min=48,max=1536,granularity=-1", 64, ASE_InvalidParameter},
        {"min=48,max=1536,granularity=-1", 96, ASE_OK},
        {"min=48,max=1536,granularity=-1", 1536, ASE_OK},
        {"min=2048,max=64,granularity=-1", 256, ASE_InvalidParameter},
    };
    ASIOCallbacks callbacks = quietCallbacks();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.settings) + " size " + std::to_string(c.size));
        auto sim = makeSim(c.settings);
        ASSERT_TRUE(sim);
        ASIOBufferInfo infos[] = {input(0), output(0)};
        EXPECT_EQ(sim->createBuffers(infos, 2, c.size, &callbacks), c.expected);
    }
}

TEST(SimDriver, BuffersAreZeroedDistinctAndAsLargeAsAsked) {
    for (const char* type : {"Int16LSB", "Int24LSB", "Float64LSB"}) {
        SCOPED_TRACE(type);
        auto sim = makeSim(std::string("inputs=3,outputs=3,granularity=1,type=") + type);
        ASSERT_TRUE(sim);
        constexpr ASIOLong B = 68; // halves of 136 and 204 bytes: not multiples of 16
        const auto bytes = static_cast<std::size_t>(B * layoutOf(sim->settings().sampleType).bytes);
        ASIOBufferInfo infos[] = {input(2), input(0), output(1), output(0), output(2)};
        ASIOCallbacks callbacks = quietCallbacks();
        ASSERT_EQ(sim->createBuffers(infos, 5, B, &callbacks), ASE_OK);
        std::vector<void*> seen;
        for (const ASIOBufferInfo& info : infos) {
            for (void* half : info.buffers) {
                ASSERT_NE(half, nullptr);
                EXPECT_EQ(reinterpret_cast<std::uintptr_t>(half) % 8, 0u);
                const auto* data = static_cast<const std::byte*>(half);
                EXPECT_TRUE(
                    std::all_of(data, data + bytes, [](std::byte b) { return b == std::byte{0}; }));
                std::memset(half, 0x5A, bytes); // every byte is the host's to write
                seen.push_back(half);
            }
        }
        std::sort(seen.begin(), seen.end());
        EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end());
        for (std::size_t i = 1; i < seen.size(); ++i) {
            EXPECT_GE(static_cast<std::byte*>(seen[i]) - static_cast<std::byte*>(seen[i - 1]),
                      static_cast<std::ptrdiff_t>(bytes));
        }
        ASIOBufferInfo again[] = {input(0)};
        EXPECT_EQ(sim->createBuffers(again, 1, B, &callbacks), ASE_InvalidMode);
        EXPECT_THAT(errorMessage(*sim), HasSubstr("exist already"));
        EXPECT_EQ(sim->disposeBuffers(), ASE_OK);
        EXPECT_EQ(sim->disposeBuffers(), ASE_InvalidMode);
        EXPECT_EQ(sim->createBuffers(again, 1, B, &callbacks), ASE_OK);
    }
}

TEST(SimDriver, RemembersTheLastBufferRequestFailedOrNot) {
    auto sim = makeSim("");
    ASSERT_TRUE(sim);
    ASIOCallbacks callbacks = quietCallbacks();
    ASIOBufferInfo infos[] = {input(1), output(0), output(1)};
    ASSERT_EQ(sim->createBuffers(infos, 3, 64, &callbacks), ASE_OK);
    SimBufferRequest request = sim->lastBufferRequest();
    EXPECT_EQ(request.bufferSize, 64);
    EXPECT_THAT(request.channels,
                ElementsAre(SimBufferRequest::Channel{true, 1}, SimBufferRequest::Channel{false, 0},
                            SimBufferRequest::Channel{false, 1}));
    EXPECT_EQ(sim->createBuffers(infos, 1, 100, &callbacks), ASE_InvalidMode);
    request = sim->lastBufferRequest();
    EXPECT_EQ(request.bufferSize, 100);
    EXPECT_THAT(request.channels, ElementsAre(SimBufferRequest::Channel{true, 1}));
}

TEST(SimDriver, CountsComReferencesAndAnswersItsInterfaces) {
    SimSettings settings;
    settings.callLog = std::make_shared<SimCallLog>();
    LoopbackSimulator* sim = createLoopbackSimulator(settings);
    ASSERT_NE(sim, nullptr);
    EXPECT_EQ(sim->AddRef(), 2u);
    EXPECT_EQ(sim->Release(), 1u);

    constexpr ComGuid kUnknown{0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    for (const ComGuid& iid : {kLoopbackSimClassId, kUnknown}) {
        void* object = nullptr;
        EXPECT_EQ(sim->QueryInterface(iid, &object), 0);
        EXPECT_EQ(object, static_cast<IASIO*>(sim));
        EXPECT_EQ(sim->Release(), 1u) << "QueryInterface added one reference";
    }
    ComGuid other = kLoopbackSimClassId;
    other.data4[7] ^= 1;
    void* object = sim;
    EXPECT_EQ(sim->QueryInterface(other, &object), static_cast<std::int32_t>(0x80004002u));
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(sim->QueryInterface(kUnknown, nullptr), static_cast<std::int32_t>(0x80004003u));
    EXPECT_EQ(sim->AddRef(), 2u) << "refused queries added no reference";
    EXPECT_EQ(sim->Release(), 1u);

    EXPECT_TRUE(settings.callLog->entries().empty());
    EXPECT_EQ(sim->Release(), 0u);
    EXPECT_THAT(settings.callLog->entries(), ElementsAre("Release"));
}

TEST(SimDriver, RefusesSettingsThatCannotRun) {
    SimSettings settings;
    settings.routing = std::vector<int>{0, 5};
    EXPECT_EQ(createLoopbackSimulator(settings), nullptr);
    settings = {};
    settings.inputs = 65;
    EXPECT_EQ(createLoopbackSimulator(settings), nullptr);
    settings = {};
    settings.sampleType = ASIOSTInt32MSB;
    EXPECT_EQ(createLoopbackSimulator(settings), nullptr);
}

TEST(SimDriver, LogsTheHostsCallsInOrderAcrossInstances) {
    SimSettings settings;
    settings.callLog = std::make_shared<SimCallLog>();
    LoopbackSimulator* sim = makeSim("", settings).release(); // released by hand below
    ASSERT_NE(sim, nullptr);
    ASIOLong a = 0;
    ASIOLong b = 0;
    ASIOLong c = 0;
    ASIOLong d = 0;
    sim->init(nullptr);
    sim->getChannels(&a, &b);
    sim->getBufferSize(&a, &b, &c, &d);
    {
        SimTestHost host(*sim, 256, 3, HostChannels::all(sim->settings()));
        ASSERT_EQ(host.createBuffers(), ASE_OK);
        sim->getLatencies(&a, &b);
        ASSERT_TRUE(host.run()); // the host stops from inside its last callback
    }
    EXPECT_EQ(sim->outputReadyCount(), 3) << "counted, not logged";
    EXPECT_EQ(sim->Release(), 0u);
    LoopbackSimulator* second = createLoopbackSimulator(settings);
    ASSERT_NE(second, nullptr);
    second->init(nullptr);
    EXPECT_THAT(settings.callLog->entries(),
                ElementsAre("init", "getChannels", "getBufferSize", "createBuffers", "getLatencies",
                            "start", "stop", "disposeBuffers", "Release", "init"));
    second->callLog().clear();
    EXPECT_TRUE(settings.callLog->entries().empty());
    second->controlPanel();
    EXPECT_THAT(second->callLog().entries(), ElementsAre("controlPanel"));
    second->Release();
}

TEST(SimDriver, ControlPanelRunsTheInstalledHookOnTheCallingThread) {
    std::thread::id hookThread;
    int calls = 0;
    SimSettings settings;
    settings.controlPanelHook = [&] {
        hookThread = std::this_thread::get_id();
        ++calls;
    };
    auto sim = makeSim("", settings);
    ASSERT_TRUE(sim);
    EXPECT_EQ(sim->controlPanel(), ASE_OK);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(hookThread, std::this_thread::get_id());
}

TEST(SimFaults, InitAnswersTheConfiguredResult) {
    for (const auto& [text, expected] :
         {std::pair{"", 1}, std::pair{"init=0", 0}, std::pair{"init=-5", -5}}) {
        auto sim = makeSim(text);
        ASSERT_TRUE(sim);
        EXPECT_EQ(sim->init(nullptr), expected) << text;
    }
}

TEST(SimFaults, CreateBuffersCanBeMadeToFail) {
    auto sim = makeSim("createfail=ASE_HWMalfunction");
    ASSERT_TRUE(sim);
    SimTestHost host(*sim, 256, 3, HostChannels::all(sim->settings()));
    EXPECT_EQ(host.createBuffers(), ASE_HWMalfunction);
    EXPECT_THAT(errorMessage(*sim), HasSubstr("injected"));
    EXPECT_EQ(sim->lastBufferRequest().bufferSize, 256);
    EXPECT_EQ(sim->start(), ASE_InvalidMode);
    EXPECT_EQ(sim->disposeBuffers(), ASE_InvalidMode);
}

TEST(SimFaults, StartCanBeMadeToFail) {
    auto sim = makeSim("startfail=NoClock");
    ASSERT_TRUE(sim);
    SimTestHost host(*sim, 256, 3, HostChannels::all(sim->settings()));
    ASSERT_EQ(host.createBuffers(), ASE_OK);
    EXPECT_EQ(sim->start(), ASE_NoClock);
    EXPECT_EQ(sim->disposeBuffers(), ASE_OK);
    EXPECT_EQ(sim->switchCount(), 0);
}

TEST(SimFaults, AFailedStopLeavesTheStreamRunningUntilDisposeBuffers) {
    auto sim = makeSim("stopfail=-999");
    ASSERT_TRUE(sim);
    Signal goesOn;
    std::atomic<int> stopReturnedAt{-1}; // -1 until stop has returned
    SimTestHost host(*sim, 64, 0, HostChannels::all(sim->settings()));
    host.onSwitch = [&](int k) {
        if (const int after = stopReturnedAt.load(); after >= 0 && k > after + 2) {
            goesOn.set();
        }
    };
    ASSERT_TRUE(host.startAndWaitForSwitch(2));
    EXPECT_EQ(sim->stop(), ASE_HWMalfunction);
    stopReturnedAt.store(host.switchesSeen());
    EXPECT_TRUE(goesOn.waitFor(kHostTimeout)) << "callbacks go on after the failed stop";
    EXPECT_EQ(sim->disposeBuffers(), ASE_OK);
    EXPECT_TRUE(host.staysQuiet());
}

TEST(SimFaults, AResetRequestArrivesOnceJustBeforeItsSwitch) {
    auto sim = makeSim("reset_at=5");
    ASSERT_TRUE(sim);
    {
        SimTestHost host(*sim, 64, 8, HostChannels::all(sim->settings()));
        ASSERT_TRUE(host.run());
        EXPECT_EQ(host.resetRequests.load(), 1);
        EXPECT_EQ(host.switchesBeforeReset.load(), 5);
        EXPECT_EQ(host.eventThread, host.switchThread());
        EXPECT_EQ(host.rateChanges.load(), 0);
    }
    SimTestHost again(*sim, 64, 8, HostChannels::all(sim->settings()));
    ASSERT_TRUE(again.run());
    EXPECT_EQ(again.resetRequests.load(), 0) << "once per simulator";
}

TEST(SimFaults, ARateChangeArrivesJustBeforeItsSwitchAndTakesEffect) {
    auto sim = makeSim("ratechange_at=3,ratechange_to=96000,reset_at=3");
    ASSERT_TRUE(sim);
    SimTestHost host(*sim, 64, 6, HostChannels::all(sim->settings()));
    ASSERT_TRUE(host.run());
    EXPECT_EQ(host.rateChanges.load(), 1);
    EXPECT_EQ(host.changedRate.load(), 96000);
    EXPECT_EQ(host.switchesBeforeRateChange.load(), 3);
    EXPECT_EQ(host.switchesBeforeReset.load(), 3);
    EXPECT_EQ(host.eventThread, host.switchThread());
    ASIOSampleRate rate = 0;
    EXPECT_EQ(sim->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, 96000);
}

} // namespace
