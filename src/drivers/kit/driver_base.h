#pragma once
// The driver kit: what every ASIO driver of ours shares, so that a driver's own code is what it
// does with audio. A driver derives from DriverBase, which answers
//   - IUnknown: QueryInterface gives the driver for its class id (hosts ask for the driver
//     interface by it) and for IUnknown's; AddRef and Release count references on any thread,
//     and the Release that drops the last one calls lastReleased();
//   - getDriverName and getDriverVersion from the driver's identity, and getErrorMessage: the
//     reason the last failed operation gave to fail();
//   - one clock source, named by the identity, and future(), which takes no selector.
// double_buffers.h adds the checks of a createBuffers request and the host's two halves of
// every channel; driver_entry.h is what a driver says about itself to the list of drivers.
//
// Contract. The kit takes one lock of its own, around the error text, and calls nothing while
// holding it: fail() may be called with any of the driver's own locks held, on any thread but
// a real-time one (it copies a string). lastReleased() runs on the thread of the last Release;
// the default deletes the driver there. Each driver states in its own header what the kit
// cannot know: which of its operations may be called on which thread (inside bufferSwitch
// included), where it may delete itself (a driver whose own threads may drop the last
// reference overrides lastReleased to end itself once that thread is out of the host's
// callbacks), and what runs on its real-time thread.

#include "asio/asio.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace kit {

// Sizes of the text buffers hosts hand to getDriverName and getErrorMessage.
inline constexpr std::size_t kDriverNameBytes = 32;
inline constexpr std::size_t kErrorMessageBytes = 124;

inline constexpr std::int32_t kComOk = 0;
inline constexpr auto kComNoInterface = static_cast<std::int32_t>(0x80004002u);
inline constexpr auto kComNullPointer = static_cast<std::int32_t>(0x80004003u);

struct DriverIdentity {
    ComGuid classId;
    const char* name; // at most 31 characters
    ASIOLong version;
    const char* clockName; // the one clock source
};

// Copies as much of `text` as fits in `capacity` bytes, always terminated.
void copyText(char* to, std::size_t capacity, std::string_view text);

// A 64-bit count as the driver interface splits it.
ASIOSamples splitCount(std::uint64_t count);

class DriverBase : public IASIO {
public:
    DriverBase(const DriverBase&) = delete;
    DriverBase& operator=(const DriverBase&) = delete;

    std::int32_t TARVELO_COM_CALL QueryInterface(const ComGuid& iid, void** object) final;
    std::uint32_t TARVELO_COM_CALL AddRef() final;
    std::uint32_t TARVELO_COM_CALL Release() final;

    void getDriverName(char* name) final;
    ASIOLong getDriverVersion() final;
    // The reason of the last failed operation, at most 123 characters and a terminator.
    void getErrorMessage(char* string) override;
    ASIOError getClockSources(ASIOClockSource* clocks, ASIOLong* numSources) override;
    ASIOError setClockSource(ASIOLong reference) override;
    ASIOError future(ASIOLong selector, void* opt) override;

protected:
    explicit DriverBase(const DriverIdentity& identity);
    virtual ~DriverBase() = default;

    // The last reference is gone, on the thread that dropped it.
    virtual void lastReleased();

    // Keeps `reason` for getErrorMessage and returns `result`.
    ASIOError fail(ASIOError result, std::string reason);

private:
    const DriverIdentity m_identity;
    std::atomic<std::uint32_t> m_references{1};
    std::mutex m_errorMutex;
    std::string m_errorText;
};

} // namespace kit
