// Compile-time checks, made as both Windows flavours compile, that the driver boundary of
// asio/asio.h and the platform port agree with the Windows declarations they stand in for:
// record layouts as drivers built by other compilers see them, and the calling conventions.

#include "asio/asio.h"
#include "platform/platform.h"

#include <windows.h>

#include <objbase.h>

#include <cstddef>
#include <type_traits>

// Every field that Windows declares as long or BOOL is 32 bits wide on both flavours.
static_assert(sizeof(ASIOLong) == sizeof(LONG) && sizeof(ASIOBool) == sizeof(BOOL));
static_assert(sizeof(ASIOSampleRate) == 8);

#ifdef _WIN64
static_assert(sizeof(ASIOBufferInfo) == 24);
#else
static_assert(sizeof(ASIOBufferInfo) == 16);
#endif
static_assert(offsetof(ASIOBufferInfo, channelNum) == 4 && offsetof(ASIOBufferInfo, buffers) == 8);
static_assert(sizeof(ASIOChannelInfo) == 52 && offsetof(ASIOChannelInfo, type) == 16 &&
              offsetof(ASIOChannelInfo, name) == 20);
static_assert(sizeof(ASIOClockSource) == 48 && offsetof(ASIOClockSource, name) == 16);
static_assert(sizeof(ASIOSamples) == 8 && offsetof(ASIOSamples, lo) == 4);
static_assert(sizeof(ASIOCallbacks) == 4 * sizeof(void*));

static_assert(sizeof(ComGuid) == sizeof(GUID) && alignof(ComGuid) == alignof(GUID));
static_assert(offsetof(ComGuid, data1) == offsetof(GUID, Data1) &&
              offsetof(ComGuid, data2) == offsetof(GUID, Data2) &&
              offsetof(ComGuid, data3) == offsetof(GUID, Data3) &&
              offsetof(ComGuid, data4) == offsetof(GUID, Data4));
static_assert(sizeof(std::int32_t) == sizeof(HRESULT) && sizeof(std::uint32_t) == sizeof(ULONG));

// One table pointer each: the object is its interface pointer, as COM requires.
static_assert(sizeof(ComUnknown) == sizeof(IUnknown) && sizeof(IASIO) == sizeof(void*));

static_assert(platform::kOk == ERROR_SUCCESS && sizeof(platform::Status) == sizeof(LSTATUS));
static_assert(sizeof(platform::RegKey) == sizeof(HKEY));

#ifndef _WIN64
// 32-bit: IUnknown's slots are stdcall. The driver's own methods take the compiler's member
// convention, which has to be thiscall, as with the compilers drivers are built with; GCC
// before 4.7 used cdecl.
static_assert(
    std::is_same_v<decltype(&ComUnknown::Release), std::uint32_t (__stdcall ComUnknown::*)()>);
static_assert(!std::is_same_v<decltype(&IASIO::getDriverVersion), ASIOLong (__cdecl IASIO::*)()>);
static_assert(!std::is_same_v<decltype(&IASIO::getDriverVersion), ASIOLong (__stdcall IASIO::*)()>);
#endif
