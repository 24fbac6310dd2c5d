#pragma once
// A driver object that does nothing but count its references, for the catalog's tests.

#include "asio/asio.h"

#include <functional>

class FakeDriver final : public IASIO {
public:
    explicit FakeDriver(const ComGuid& id = {})
        : classId(id) {}

    const ComGuid classId;
    int references = 0;
    int releases = 0;
    // Called on every Release, after the count has dropped.
    std::function<void()> onRelease;

    std::int32_t QueryInterface(const ComGuid&, void** object) override {
        *object = nullptr;
        return static_cast<std::int32_t>(0x80004002u); // E_NOINTERFACE
    }
    std::uint32_t AddRef() override { return static_cast<std::uint32_t>(++references); }
    std::uint32_t Release() override {
        --references;
        ++releases;
        if (onRelease) {
            onRelease();
        }
        return static_cast<std::uint32_t>(references);
    }

    ASIOBool init(void*) override { return ASIOTrue; }
    void getDriverName(char* name) override { name[0] = '\0'; }
    ASIOLong getDriverVersion() override { return 1; }
    void getErrorMessage(char* text) override { text[0] = '\0'; }
    ASIOError start() override { return ASE_NotPresent; }
    ASIOError stop() override { return ASE_NotPresent; }
    ASIOError getChannels(ASIOLong*, ASIOLong*) override { return ASE_NotPresent; }
    ASIOError getLatencies(ASIOLong*, ASIOLong*) override { return ASE_NotPresent; }
    ASIOError getBufferSize(ASIOLong*, ASIOLong*, ASIOLong*, ASIOLong*) override {
        return ASE_NotPresent;
    }
    ASIOError canSampleRate(ASIOSampleRate) override { return ASE_NotPresent; }
    ASIOError getSampleRate(ASIOSampleRate*) override { return ASE_NotPresent; }
    ASIOError setSampleRate(ASIOSampleRate) override { return ASE_NotPresent; }
    ASIOError getClockSources(ASIOClockSource*, ASIOLong*) override { return ASE_NotPresent; }
    ASIOError setClockSource(ASIOLong) override { return ASE_NotPresent; }
    ASIOError getSamplePosition(ASIOSamples*, ASIOTimeStamp*) override { return ASE_NotPresent; }
    ASIOError getChannelInfo(ASIOChannelInfo*) override { return ASE_NotPresent; }
    ASIOError createBuffers(ASIOBufferInfo*, ASIOLong, ASIOLong, ASIOCallbacks*) override {
        return ASE_NotPresent;
    }
    ASIOError disposeBuffers() override { return ASE_NotPresent; }
    ASIOError controlPanel() override { return ASE_NotPresent; }
    ASIOError future(ASIOLong, void*) override { return ASE_NotPresent; }
    ASIOError outputReady() override { return ASE_NotPresent; }
};
