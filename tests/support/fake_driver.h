#pragma once
// A driver object without a device behind it: it counts references, logs the calls that matter
// to the host's sequences and answers every operation with success. Tests derive from it to
// give a few operations a behaviour of their own.

#include "asio/asio.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

class FakeDriver : public IASIO {
public:
    explicit FakeDriver(const ComGuid& id = {})
        : classId(id) {}
    virtual ~FakeDriver() = default;

    const ComGuid classId;
    int references = 0;
    // Called on every Release, after the count has dropped.
    std::function<void()> onRelease;
    // Operations called, in order (outputReady only counted: it comes at every switch).
    std::vector<std::string> calls;
    std::atomic<int> outputReadyCalls{0};

    std::int32_t TARVELO_COM_CALL QueryInterface(const ComGuid&, void** object) override {
        *object = nullptr;
        return static_cast<std::int32_t>(0x80004002u); // E_NOINTERFACE
    }
    std::uint32_t TARVELO_COM_CALL AddRef() override {
        return static_cast<std::uint32_t>(++references);
    }
    std::uint32_t TARVELO_COM_CALL Release() override {
        --references;
        if (onRelease) {
            onRelease();
        }
        return static_cast<std::uint32_t>(references);
    }

    ASIOBool init(void*) override { return log("init", ASIOTrue); }
    void getDriverName(char* name) override { name[0] = '\0'; }
    ASIOLong getDriverVersion() override { return 1; }
    void getErrorMessage(char* text) override { text[0] = '\0'; }
    ASIOError start() override { return log("start"); }
    ASIOError stop() override { return log("stop"); }
    ASIOError getChannels(ASIOLong*, ASIOLong*) override { return log("getChannels"); }
    ASIOError getLatencies(ASIOLong*, ASIOLong*) override { return log("getLatencies"); }
    ASIOError getBufferSize(ASIOLong*, ASIOLong*, ASIOLong*, ASIOLong*) override {
        return log("getBufferSize");
    }
    ASIOError canSampleRate(ASIOSampleRate) override { return ASE_OK; }
    ASIOError getSampleRate(ASIOSampleRate*) override { return ASE_OK; }
    ASIOError setSampleRate(ASIOSampleRate) override { return ASE_OK; }
    ASIOError getClockSources(ASIOClockSource*, ASIOLong*) override { return ASE_OK; }
    ASIOError setClockSource(ASIOLong) override { return ASE_OK; }
    ASIOError getSamplePosition(ASIOSamples*, ASIOTimeStamp*) override { return ASE_OK; }
    ASIOError getChannelInfo(ASIOChannelInfo*) override { return log("getChannelInfo"); }
    ASIOError createBuffers(ASIOBufferInfo*, ASIOLong, ASIOLong, ASIOCallbacks*) override {
        return log("createBuffers");
    }
    ASIOError disposeBuffers() override { return log("disposeBuffers"); }
    ASIOError controlPanel() override { return log("controlPanel"); }
    ASIOError future(ASIOLong, void*) override { return ASE_InvalidParameter; }
    ASIOError outputReady() override {
        ++outputReadyCalls;
        return ASE_OK;
    }

private:
    ASIOLong log(const char* operation, ASIOLong result = ASE_OK) {
        calls.emplace_back(operation);
        return result;
    }
};
