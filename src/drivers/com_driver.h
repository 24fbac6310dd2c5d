#pragma once
// What every driver object of ours shares with COM and with its hosts: the IUnknown identity,
// the COM results of QueryInterface, and the fixed-size text fields of IASIO.

#include "asio/asio.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

inline constexpr ComGuid kUnknownInterfaceId{
    0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr std::int32_t kComOk = 0;
inline constexpr auto kComNoInterface = static_cast<std::int32_t>(0x80004002u);
inline constexpr auto kComNullPointer = static_cast<std::int32_t>(0x80004003u);

// Sizes of the text buffers hosts hand to getDriverName and getErrorMessage.
inline constexpr std::size_t kDriverNameBytes = 32;
inline constexpr std::size_t kErrorMessageBytes = 124;

inline bool sameGuid(const ComGuid& a, const ComGuid& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Copies as much of `text` as fits, always terminated.
inline void copyText(char* to, std::size_t capacity, std::string_view text) {
    const std::size_t length = std::min(text.size(), capacity - 1);
    std::memcpy(to, text.data(), length);
    to[length] = '\0';
}

// QueryInterface of a driver object, which hosts ask for its class id as the interface id: this
// driver's IASIO for that id or IUnknown's, one reference more; nothing for any other.
inline std::int32_t queryDriverInterface(IASIO* driver, const ComGuid& classId, const ComGuid& iid,
                                         void** object) {
    if (object == nullptr) {
        return kComNullPointer;
    }
    if (sameGuid(iid, classId) || sameGuid(iid, kUnknownInterfaceId)) {
        *object = driver;
        driver->AddRef();
        return kComOk;
    }
    *object = nullptr;
    return kComNoInterface;
}
