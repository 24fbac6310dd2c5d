// What crosses threads between a session and its driver, under load: a driver whose stop returns
// while its callback still runs, and a session armed, reset and closed against the simulator's
// free-running thread. Run under ThreadSanitizer and AddressSanitizer as well.

#include "session/hand_session.h"
#include "session/session_fixture.h"

#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A driver that trusts its stop: stop() returns at once while its thread may be inside
// bufferSwitch, and disposeBuffers frees the buffers there and then. They are large and their
// inputs loud, so that a callback listening to them is in flight for a while.
class HastyDriver final : public HandDriver {
public:
    static constexpr ASIOLong kFrames = 1 << 20;
    HastyDriver()
        : HandDriver(1, 1, kFrames, kMaxSampleRate, ASIOSTInt32LSB) {}
    ~HastyDriver() override {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

    ASIOError createBuffers(ASIOBufferInfo* infos, ASIOLong count, ASIOLong,
                            ASIOCallbacks* callbacks) override {
        m_callbacks = *callbacks;
        for (ASIOLong c = 0; c < count; ++c) {
            for (void*& half : infos[c].buffers) {
                std::int32_t* samples =
                    m_buffers.emplace_back(std::make_unique<std::int32_t[]>(kFrames)).get();
                for (ASIOLong j = 0; infos[c].isInput && j < kFrames; ++j) {
                    samples[j] = j % 2 ? kPulseLevel : -kPulseLevel;
                }
                half = samples;
            }
        }
        return ASE_OK;
    }
    ASIOError start() override {
        m_thread = std::thread([this] {
            for (long k = 0; !m_stopped; ++k) {
                m_callbacks.bufferSwitch(k % 2, ASIOFalse);
                switches.fetch_add(1);
            }
        });
        return ASE_OK;
    }
    ASIOError stop() override {
        m_stopped = true;
        return ASE_OK;
    }
    ASIOError disposeBuffers() override {
        m_buffers.clear();
        return ASE_OK;
    }

    std::atomic<int> switches{0};

private:
    ASIOCallbacks m_callbacks{};
    std::vector<std::unique_ptr<std::int32_t[]>> m_buffers;
    std::atomic<bool> m_stopped{false};
    std::thread m_thread;
};

TEST(ResetRace, ACallbackStillRunningAfterStopIsWaitedForBeforeAnythingIsFreed) {
    for (const bool reset : {true, false}) {
        platform::MemoryPlatform registry;
        const platform::ScopedPlatform scoped(registry);
        HastyDriver driver;
        installOwnedDriver(registry, driver);
        DriverCatalog catalog;
        EventQueue events;
        MeasurementSession session(catalog, events);
        ASSERT_EQ(session.open(0), OpenResult::Opened);
        ASSERT_EQ(session.prepare(), ASE_OK);
        ASSERT_EQ(session.start(), ASE_OK);
        // Listening for a quiet that never comes: no end within the test.
        session.measurement().setQuietStart(QuietStart{-50, 0.02, 1e9});
        ASSERT_EQ(session.arm(), ArmRefusal::None);
        // Past the first switches: the callbacks now listen to the inputs.
        for (const auto end = Clock::now() + 10s; driver.switches < 2 && Clock::now() < end;) {
            std::this_thread::yield();
        }
        if (reset) {
            session.closeForReset();
        } else {
            session.stop();
            session.disposeBuffers();
        }
        EXPECT_FALSE(session.channelArray());
    }
}

TEST_F(SimSession, ArmedResetAndClosedAgainstAFreeRunningDriverThread) {
    int rounds = 0;
    for (const auto end = Clock::now() + 3s; Clock::now() < end; ++rounds) {
        settings.resetRequestAtSwitch = rounds % 3 == 1 ? rounds % 7 : -1;
        open();
        ASSERT_EQ(session->prepare(), ASE_OK);
        ASSERT_EQ(session->start(), ASE_OK);
        for (int k = 0; k < 10; ++k) {
            ASSERT_EQ(session->arm(), ArmRefusal::None);
            if (rounds % 3 == 2 && k == 5) {
                break; // closed with the measurement armed
            }
            // Until its result, or a reset that cuts it short.
            const std::optional<SessionEvent> event = events.waitUntil(Clock::now() + 10s);
            ASSERT_TRUE(event);
            if (event->kind == SessionEventKind::ResetRequest) {
                ASSERT_EQ(session->reset(), OpenResult::Opened);
                ASSERT_EQ(session->prepare(), ASE_OK);
                ASSERT_EQ(session->start(), ASE_OK);
            } else if (const std::optional<MeasurementResult> result = session->collectResult()) {
                // Re-armed at once, a run may hear the last pulse's tail and refuse it; what
                // it never does is give another number.
                if (result->latencySamples) {
                    ASSERT_EQ(result->latencySamples, roundTrip(256));
                } else {
                    ASSERT_EQ(result->verdict.verdict, Verdict::NoResult);
                }
            }
        }
        session.reset();
    }
    RecordProperty("rounds", rounds);
}

} // namespace
