#pragma once
// The driver boundary: the COM interface an ASIO driver implements, the records that cross it,
// and the host callbacks. Declared here from the interface's published shape; on Windows the
// layout and calling conventions must match drivers built by other compilers, so every field
// that Windows declares as `long` is a 32-bit integer on every platform.

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
// COM's IUnknown methods are stdcall; the driver's own methods use the compiler's member
// convention, which is thiscall on 32-bit Windows for both MSVC-built drivers and mingw-w64.
#define TARVELO_COM_CALL __stdcall
#else
#define TARVELO_COM_CALL
#endif

using ASIOLong = std::int32_t;
using ASIOBool = ASIOLong;
using ASIOError = ASIOLong;
using ASIOSampleRate = double;
using ASIOSampleType = ASIOLong;

inline constexpr ASIOBool ASIOFalse = 0;
inline constexpr ASIOBool ASIOTrue = 1;

enum : ASIOSampleType {
    ASIOSTInt16MSB = 0,
    ASIOSTInt24MSB = 1,
    ASIOSTInt32MSB = 2,
    ASIOSTFloat32MSB = 3,
    ASIOSTFloat64MSB = 4,
    ASIOSTInt32MSB16 = 8,
    ASIOSTInt32MSB18 = 9,
    ASIOSTInt32MSB20 = 10,
    ASIOSTInt32MSB24 = 11,
    ASIOSTInt16LSB = 16,
    ASIOSTInt24LSB = 17,
    ASIOSTInt32LSB = 18,
    ASIOSTFloat32LSB = 19,
    ASIOSTFloat64LSB = 20,
    ASIOSTInt32LSB16 = 24,
    ASIOSTInt32LSB18 = 25,
    ASIOSTInt32LSB20 = 26,
    ASIOSTInt32LSB24 = 27,
};

enum : ASIOError {
    ASE_OK = 0,
    ASE_SUCCESS = 0x3f4847a0,
    ASE_NotPresent = -1000,
    ASE_HWMalfunction = -999,
    ASE_InvalidParameter = -998,
    ASE_InvalidMode = -997,
    ASE_SPNotAdvancing = -996,
    ASE_NoClock = -995,
    ASE_NoMemory = -994,
};

enum : ASIOLong {
    kAsioSelectorSupported = 1,
    kAsioEngineVersion = 2,
    kAsioResetRequest = 3,
    kAsioBufferSizeChange = 4,
    kAsioResyncRequest = 5,
    kAsioLatenciesChanged = 6,
    kAsioSupportsTimeInfo = 7,
    kAsioSupportsTimeCode = 8,
    kAsioOverload = 15,
};

struct ASIOBufferInfo {
    ASIOBool isInput;
    ASIOLong channelNum;
    void* buffers[2];
};

struct ASIOChannelInfo {
    ASIOLong channel;
    ASIOBool isInput;
    ASIOBool isActive;
    ASIOLong channelGroup;
    ASIOSampleType type;
    char name[32];
};

// A 64-bit count split in two 32-bit words, as the driver reports positions and times.
struct ASIOSamples {
    std::uint32_t hi;
    std::uint32_t lo;
};
using ASIOTimeStamp = ASIOSamples;

struct ASIOClockSource {
    ASIOLong index;
    ASIOLong associatedChannel;
    ASIOLong associatedGroup;
    ASIOBool isCurrentSource;
    char name[32];
};

// Passed through bufferSwitchTimeInfo; this host never looks inside it.
struct ASIOTime;

struct ASIOCallbacks {
    void (*bufferSwitch)(ASIOLong doubleBufferIndex, ASIOBool directProcess);
    void (*sampleRateDidChange)(ASIOSampleRate sRate);
    ASIOLong (*asioMessage)(ASIOLong selector, ASIOLong value, void* message, double* opt);
    ASIOTime* (*bufferSwitchTimeInfo)(ASIOTime* params, ASIOLong doubleBufferIndex,
                                      ASIOBool directProcess);
};

// Binary layout of a COM class or interface identifier.
struct ComGuid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
};

// IUnknown's three slots, declared here so that the boundary needs no Windows header.
struct ComUnknown {
    virtual std::int32_t TARVELO_COM_CALL QueryInterface(const ComGuid& iid, void** object) = 0;
    virtual std::uint32_t TARVELO_COM_CALL AddRef() = 0;
    virtual std::uint32_t TARVELO_COM_CALL Release() = 0;

protected:
    ~ComUnknown() = default;
};

// Slots 3 to 23, in the interface's order.
struct IASIO : ComUnknown {
    virtual ASIOBool init(void* sysHandle) = 0;
    virtual void getDriverName(char* name) = 0;
    virtual ASIOLong getDriverVersion() = 0;
    virtual void getErrorMessage(char* string) = 0;
    virtual ASIOError start() = 0;
    virtual ASIOError stop() = 0;
    virtual ASIOError getChannels(ASIOLong* numInputChannels, ASIOLong* numOutputChannels) = 0;
    virtual ASIOError getLatencies(ASIOLong* inputLatency, ASIOLong* outputLatency) = 0;
    virtual ASIOError getBufferSize(ASIOLong* minSize, ASIOLong* maxSize, ASIOLong* preferredSize,
                                    ASIOLong* granularity) = 0;
    virtual ASIOError canSampleRate(ASIOSampleRate sampleRate) = 0;
    virtual ASIOError getSampleRate(ASIOSampleRate* sampleRate) = 0;
    virtual ASIOError setSampleRate(ASIOSampleRate sampleRate) = 0;
    virtual ASIOError getClockSources(ASIOClockSource* clocks, ASIOLong* numSources) = 0;
    virtual ASIOError setClockSource(ASIOLong reference) = 0;
    virtual ASIOError getSamplePosition(ASIOSamples* samplePosition, ASIOTimeStamp* timeStamp) = 0;
    virtual ASIOError getChannelInfo(ASIOChannelInfo* info) = 0;
    virtual ASIOError createBuffers(ASIOBufferInfo* bufferInfos, ASIOLong numChannels,
                                    ASIOLong bufferSize, ASIOCallbacks* callbacks) = 0;
    virtual ASIOError disposeBuffers() = 0;
    virtual ASIOError controlPanel() = 0;
    virtual ASIOError future(ASIOLong selector, void* opt) = 0;
    virtual ASIOError outputReady() = 0;

protected:
    ~IASIO() = default;
};

static_assert(sizeof(ASIOChannelInfo) == 52);
static_assert(sizeof(ASIOBufferInfo) == 8 + 2 * sizeof(void*));
static_assert(sizeof(void*) != 4 || sizeof(ASIOBufferInfo) == 16);
static_assert(sizeof(ComGuid) == 16);
static_assert(sizeof(ASIOClockSource) == 48);
static_assert(sizeof(ASIOSamples) == 8);
