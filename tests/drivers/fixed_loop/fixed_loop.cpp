#include "fixed_loop/fixed_loop.h"

#include "drivers/kit/double_buffers.h"
#include "drivers/kit/driver_base.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

// {3B8F6C21-0D54-4A7E-9C13-6E2F80B5D4A7}
constexpr ComGuid kFixedLoopClassId{
    0x3B8F6C21, 0x0D54, 0x4A7E, {0x9C, 0x13, 0x6E, 0x2F, 0x80, 0xB5, 0xD4, 0xA7}};
constexpr ASIOLong kFrames = 64;
constexpr ASIOSampleRate kRate = 48000;
constexpr kit::ChannelCounts kChannels{1, 1};

class FixedLoop final : public kit::DriverBase {
public:
    explicit FixedLoop(long buffers)
        : DriverBase({kFixedLoopClassId, "Fixed Loop", 1, "Internal"})
        , m_played(static_cast<std::size_t>(buffers + 2), std::vector<float>(kFrames)) {}

    ASIOBool init(void*) override { return ASIOTrue; }
    ASIOError start() override {
        if (m_bufferSwitch == nullptr) {
            return fail(ASE_InvalidMode, "start: no buffers");
        }
        stop();
        m_running = true;
        m_thread = std::thread([this] { run(); });
        return ASE_OK;
    }
    ASIOError stop() override {
        m_running = false;
        if (m_thread.joinable()) {
            m_thread.join();
        }
        return ASE_OK;
    }
    ASIOError getChannels(ASIOLong* inputs, ASIOLong* outputs) override {
        *inputs = kChannels.inputs;
        *outputs = kChannels.outputs;
        return ASE_OK;
    }
    ASIOError getLatencies(ASIOLong* input, ASIOLong* output) override {
        *input = *output = kFrames;
        return ASE_OK;
    }
    ASIOError getBufferSize(ASIOLong* min, ASIOLong* max, ASIOLong* preferred,
                            ASIOLong* granularity) override {
        *min = *max = *preferred = kFrames;
        *granularity = 0;
        return ASE_OK;
    }
    ASIOError canSampleRate(ASIOSampleRate rate) override {
        return rate == kRate ? ASE_OK : ASE_NoClock;
    }
    ASIOError getSampleRate(ASIOSampleRate* rate) override {
        *rate = kRate;
        return ASE_OK;
    }
    ASIOError setSampleRate(ASIOSampleRate rate) override { return canSampleRate(rate); }
    // Where the switch under way stands: it runs as fast as its host, so only the position
    // tells the host that no period was lost.
    ASIOError getSamplePosition(ASIOSamples* position, ASIOTimeStamp* timeStamp) override {
        if (position == nullptr || timeStamp == nullptr) {
            return fail(ASE_InvalidParameter, "getSamplePosition: null pointer");
        }
        *position = kit::splitCount(m_position.load());
        *timeStamp = kit::splitCount(
            static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                           std::chrono::steady_clock::now().time_since_epoch())
                                           .count()));
        return ASE_OK;
    }
    ASIOError getChannelInfo(ASIOChannelInfo* info) override {
        if (const std::string why = kit::whyNoChannel(info, kChannels); !why.empty()) {
            return fail(ASE_InvalidParameter, "getChannelInfo: " + why);
        }
        info->isActive = m_buffers.isActive(info->isInput != ASIOFalse, 0);
        info->channelGroup = 0;
        info->type = ASIOSTFloat32LSB;
        kit::copyText(info->name, sizeof info->name, info->isInput ? "In" : "Out");
        return ASE_OK;
    }
    ASIOError createBuffers(ASIOBufferInfo* infos, ASIOLong count, ASIOLong size,
                            ASIOCallbacks* callbacks) override {
        if (const std::string why = kit::whyRefused(infos, count, callbacks, kChannels,
                                                    size == kFrames ? "" : "the size is 64");
            !why.empty()) {
            return fail(ASE_InvalidParameter, "createBuffers: " + why);
        }
        m_buffers = kit::DoubleBuffers(infos, count, kFrames, sizeof(float));
        m_buffers.handOut(infos);
        m_bufferSwitch = callbacks->bufferSwitch;
        return ASE_OK;
    }
    ASIOError disposeBuffers() override {
        stop();
        m_buffers = {};
        m_bufferSwitch = nullptr;
        return ASE_OK;
    }
    ASIOError controlPanel() override { return ASE_OK; }
    ASIOError outputReady() override { return ASE_OK; }

private:
    ~FixedLoop() override { stop(); }

    // At switch k the host reads what the input heard during period k - 1 and writes what the
    // output plays during period k + 1, which the input hears N periods later: what switch
    // k - N - 2 wrote, kept in a ring of N + 2 periods.
    void run() {
        for (std::size_t k = 0; m_running; ++k) {
            std::vector<float>& played = m_played[k % m_played.size()];
            for (const kit::DoubleBuffers::Channel& c : m_buffers.channels()) {
                if (c.isInput) {
                    std::copy(played.begin(), played.end(), static_cast<float*>(c.halves[k % 2]));
                }
            }
            m_position = static_cast<std::uint64_t>(k) * kFrames;
            m_bufferSwitch(static_cast<ASIOLong>(k % 2), ASIOTrue);
            for (const kit::DoubleBuffers::Channel& c : m_buffers.channels()) {
                if (!c.isInput) {
                    std::copy_n(static_cast<const float*>(c.halves[k % 2]), kFrames,
                                played.begin());
                }
            }
            std::this_thread::yield();
        }
    }

    kit::DoubleBuffers m_buffers;
    void (*m_bufferSwitch)(ASIOLong, ASIOBool) = nullptr;
    std::vector<std::vector<float>> m_played;
    std::atomic<bool> m_running{false};
    std::atomic<std::uint64_t> m_position{0};
    std::thread m_thread;
};

} // namespace

kit::DriverEntry fixedLoopEntry() {
    return {"Fixed Loop",
            kFixedLoopClassId,
            {{.name = "--loop-buffers",
              .valueName = "N",
              .description = "Fixed Loop: the loop's delay, in buffers of 64 samples",
              .check =
                  [](const std::string& value) {
                      return value.size() == 1 && value[0] >= '0' && value[0] <= '9'
                                 ? ""
                                 : "expected one digit";
                  }}},
            [](const kit::OptionValues& values, std::string&) {
                const auto given = values.find("--loop-buffers");
                const long buffers = given == values.end() ? 1 : given->second.front()[0] - '0';
                return kit::DriverSetup{
                    .create = [buffers]() -> IASIO* { return new FixedLoop(buffers); }};
            }};
}
