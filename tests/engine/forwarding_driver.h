#pragma once
// A driver that passes every call to another one; tests derive from it to change the answers
// of a few operations of a real (simulated) driver.

#include "asio/asio.h"

class ForwardingDriver : public IASIO {
public:
    explicit ForwardingDriver(IASIO* inner)
        : m_inner(inner) {}
    virtual ~ForwardingDriver() { m_inner->Release(); }

    std::int32_t TARVELO_COM_CALL QueryInterface(const ComGuid& iid, void** object) override {
        return m_inner->QueryInterface(iid, object);
    }
    std::uint32_t TARVELO_COM_CALL AddRef() override { return ++m_references; }
    std::uint32_t TARVELO_COM_CALL Release() override {
        const std::uint32_t left = --m_references;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    ASIOBool init(void* sysHandle) override { return m_inner->init(sysHandle); }
    void getDriverName(char* name) override { m_inner->getDriverName(name); }
    ASIOLong getDriverVersion() override { return m_inner->getDriverVersion(); }
    void getErrorMessage(char* text) override { m_inner->getErrorMessage(text); }
    ASIOError start() override { return m_inner->start(); }
    ASIOError stop() override { return m_inner->stop(); }
    ASIOError getChannels(ASIOLong* in, ASIOLong* out) override {
        return m_inner->getChannels(in, out);
    }
    ASIOError getLatencies(ASIOLong* in, ASIOLong* out) override {
        return m_inner->getLatencies(in, out);
    }
    ASIOError getBufferSize(ASIOLong* minSize, ASIOLong* maxSize, ASIOLong* preferred,
                            ASIOLong* granularity) override {
        return m_inner->getBufferSize(minSize, maxSize, preferred, granularity);
    }
    ASIOError canSampleRate(ASIOSampleRate rate) override { return m_inner->canSampleRate(rate); }
    ASIOError getSampleRate(ASIOSampleRate* rate) override { return m_inner->getSampleRate(rate); }
    ASIOError setSampleRate(ASIOSampleRate rate) override { return m_inner->setSampleRate(rate); }
    ASIOError getClockSources(ASIOClockSource* clocks, ASIOLong* count) override {
        return m_inner->getClockSources(clocks, count);
    }
    ASIOError setClockSource(ASIOLong reference) override {
        return m_inner->setClockSource(reference);
    }
    ASIOError getSamplePosition(ASIOSamples* position, ASIOTimeStamp* stamp) override {
        return m_inner->getSamplePosition(position, stamp);
    }
    ASIOError getChannelInfo(ASIOChannelInfo* info) override {
        return m_inner->getChannelInfo(info);
    }
    ASIOError createBuffers(ASIOBufferInfo* infos, ASIOLong count, ASIOLong size,
                            ASIOCallbacks* callbacks) override {
        return m_inner->createBuffers(infos, count, size, callbacks);
    }
    ASIOError disposeBuffers() override { return m_inner->disposeBuffers(); }
    ASIOError controlPanel() override { return m_inner->controlPanel(); }
    ASIOError future(ASIOLong selector, void* opt) override {
        return m_inner->future(selector, opt);
    }
    ASIOError outputReady() override { return m_inner->outputReady(); }

private:
    IASIO* m_inner;
    std::uint32_t m_references = 1;
};
