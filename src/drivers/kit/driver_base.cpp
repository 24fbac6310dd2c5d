#include "drivers/kit/driver_base.h"

#include <algorithm>
#include <cstring>

namespace kit {

namespace {

constexpr ComGuid kUnknownInterfaceId{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

bool sameGuid(const ComGuid& a, const ComGuid& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

void copyText(char* to, std::size_t capacity, std::string_view text) {
    const std::size_t length = std::min(text.size(), capacity - 1);
    std::memcpy(to, text.data(), length);
    to[length] = '\0';
}

ASIOSamples splitCount(std::uint64_t count) {
    return {static_cast<std::uint32_t>(count >> 32), static_cast<std::uint32_t>(count)};
}

DriverBase::DriverBase(const DriverIdentity& identity)
    : m_identity(identity) {}

std::int32_t TARVELO_COM_CALL DriverBase::QueryInterface(const ComGuid& iid, void** object) {
    if (object == nullptr) {
        return kComNullPointer;
    }
    if (sameGuid(iid, m_identity.classId) || sameGuid(iid, kUnknownInterfaceId)) {
        *object = static_cast<IASIO*>(this);
        AddRef();
        return kComOk;
    }
    *object = nullptr;
    return kComNoInterface;
}

std::uint32_t TARVELO_COM_CALL DriverBase::AddRef() {
    return m_references.fetch_add(1) + 1;
}

std::uint32_t TARVELO_COM_CALL DriverBase::Release() {
    const std::uint32_t left = m_references.fetch_sub(1) - 1;
    if (left == 0) {
        lastReleased();
    }
    return left;
}

void DriverBase::lastReleased() {
    delete this;
}

void DriverBase::getDriverName(char* name) {
    if (name != nullptr) {
        copyText(name, kDriverNameBytes, m_identity.name);
    }
}

ASIOLong DriverBase::getDriverVersion() {
    return m_identity.version;
}

void DriverBase::getErrorMessage(char* string) {
    if (string != nullptr) {
        const std::lock_guard lock(m_errorMutex);
        copyText(string, kErrorMessageBytes, m_errorText);
    }
}

ASIOError DriverBase::getClockSources(ASIOClockSource* clocks, ASIOLong* numSources) {
    if (clocks == nullptr || numSources == nullptr || *numSources < 1) {
        return fail(ASE_InvalidParameter, "getClockSources: no room for the clock source");
    }
    clocks[0] = ASIOClockSource{0, -1, -1, ASIOTrue, {}};
    copyText(clocks[0].name, sizeof clocks[0].name, m_identity.clockName);
    *numSources = 1;
    return ASE_OK;
}

ASIOError DriverBase::setClockSource(ASIOLong reference) {
    return reference == 0 ? ASE_OK
                          : fail(ASE_InvalidParameter, "setClockSource: the only clock is 0");
}

ASIOError DriverBase::future(ASIOLong /*selector*/, void* /*opt*/) {
    return ASE_InvalidParameter;
}

ASIOError DriverBase::fail(ASIOError result, std::string reason) {
    const std::lock_guard lock(m_errorMutex);
    m_errorText = std::move(reason);
    return result;
}

} // namespace kit
