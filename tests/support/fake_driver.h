#pragma once
// A driver object without a device behind it: it counts references and output-ready calls and
// answers every operation with success. Tests derive from it to give a few operations a
// behaviour of their own.

#include "asio/asio.h"

#include <atomic>
#include <functional>

class FakeDriver : public IASIO {
public:
    virtual ~FakeDriver() = default;

    int references = 0;
    // Called on every Release, after the count has dropped.
    std::function<void()> onRelease;
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

    ASIOBool init(void*) override { return ASIOTrue; }
    void getDriverName(char* name) override { name[0] = '\0'; }
    ASIOLong getDriverVersion() override { return 1; }
    void getErrorMessage(char* text) override { text[0] = '\0'; }
    ASIOError start() override { return ASE_OK; }
    ASIOError stop() override { return ASE_OK; }
    ASIOError getChannels(ASIOLong*, ASIOLong*) override { return ASE_OK; }
    ASIOError getLatencies(ASIOLong*, ASIOLong*) override { return ASE_OK; }
    ASIOError getBufferSize(ASIOLong*, ASIOLong*, ASIOLong*, ASIOLong*) override { return ASE_OK; }
    ASIOError canSampleRate(ASIOSampleRate) override { return ASE_OK; }
    ASIOError getSampleRate(ASIOSampleRate*) override { return ASE_OK; }
    ASIOError setSampleRate(ASIOSampleRate) override { return ASE_OK; }
    ASIOError getClockSources(ASIOClockSource*, ASIOLong*) override { return ASE_OK; }
    ASIOError setClockSource(ASIOLong) override { return ASE_OK; }
    ASIOError getSamplePosition(ASIOSamples*, ASIOTimeStamp*) override { return ASE_OK; }
    ASIOError getChannelInfo(ASIOChannelInfo*) override { return ASE_OK; }
    ASIOError createBuffers(ASIOBufferInfo*, ASIOLong, ASIOLong, ASIOCallbacks*) override {
        return ASE_OK;
    }
    ASIOError disposeBuffers() override { return ASE_OK; }
    ASIOError controlPanel() override { return ASE_OK; }
    ASIOError future(ASIOLong, void*) override { return ASE_InvalidParameter; }
    ASIOError outputReady() override {
        ++outputReadyCalls;
        return ASE_OK;
    }
};
