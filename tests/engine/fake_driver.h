#pragma once
// A scripted driver for tests that drive the dialog by hand: every call is logged, and the
// results the tests need to vary are plain fields.

#include "asio/asio.h"

#include <atomic>
#include <string>
#include <vector>

class FakeDriver final : public IASIO {
public:
    std::vector<std::string> calls;
    std::atomic<int> outputReadyCalls{0};
    std::atomic<int> references{1};

    std::int32_t TARVELO_COM_CALL QueryInterface(const ComGuid&, void** object) override {
        *object = this;
        AddRef();
        return 0;
    }
    std::uint32_t TARVELO_COM_CALL AddRef() override {
        return static_cast<std::uint32_t>(++references);
    }
    std::uint32_t TARVELO_COM_CALL Release() override {
        return static_cast<std::uint32_t>(--references);
    }
    ASIOBool init(void*) override { return log("init", ASIOTrue); }
    void getDriverName(char* name) override { name[0] = 0; }
    ASIOLong getDriverVersion() override { return 1; }
    void getErrorMessage(char* text) override { text[0] = 0; }
    ASIOError start() override { return log("start", ASE_OK); }
    ASIOError stop() override { return log("stop", ASE_OK); }
    ASIOError getChannels(ASIOLong*, ASIOLong*) override { return log("getChannels", ASE_OK); }
    ASIOError getLatencies(ASIOLong*, ASIOLong*) override { return log("getLatencies", ASE_OK); }
    ASIOError getBufferSize(ASIOLong*, ASIOLong*, ASIOLong*, ASIOLong*) override {
        return log("getBufferSize", ASE_OK);
    }
    ASIOError canSampleRate(ASIOSampleRate) override { return ASE_OK; }
    ASIOError getSampleRate(ASIOSampleRate*) override { return ASE_OK; }
    ASIOError setSampleRate(ASIOSampleRate) override { return ASE_OK; }
    ASIOError getClockSources(ASIOClockSource*, ASIOLong*) override { return ASE_OK; }
    ASIOError setClockSource(ASIOLong) override { return ASE_OK; }
    ASIOError getSamplePosition(ASIOSamples*, ASIOTimeStamp*) override { return ASE_OK; }
    ASIOError getChannelInfo(ASIOChannelInfo*) override { return log("getChannelInfo", ASE_OK); }
    ASIOError createBuffers(ASIOBufferInfo*, ASIOLong, ASIOLong, ASIOCallbacks*) override {
        return log("createBuffers", ASE_OK);
    }
    ASIOError disposeBuffers() override { return log("disposeBuffers", ASE_OK); }
    ASIOError controlPanel() override { return log("controlPanel", ASE_OK); }
    ASIOError future(ASIOLong, void*) override { return ASE_InvalidParameter; }
    ASIOError outputReady() override {
        ++outputReadyCalls;
        return ASE_OK;
    }

private:
    ASIOLong log(const char* name, ASIOLong result) {
        calls.emplace_back(name);
        return result;
    }
};
