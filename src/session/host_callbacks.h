#pragma once
// The four callbacks a session hands to its driver with the buffers. The driver calls them on a
// thread of its own choosing, without any context argument: each enters the callback gate and
// reaches the one active session, feeds its measurement or takes the driver's request, and never
// waits for the session's owner.

#include "asio/asio.h"

void BufferSwitchCallback(ASIOLong doubleBufferIndex, ASIOBool directProcess);
// Does nothing: the answers to asioMessage do not offer time information, so drivers call
// bufferSwitch instead.
ASIOTime* BufferSwitchTimeInfoCallback(ASIOTime* params, ASIOLong doubleBufferIndex,
                                       ASIOBool directProcess);
void SampleRateDidChangeCallback(ASIOSampleRate sRate);
// Answers the engine version (2) and which of its selectors the host knows (the engine version
// and the reset request); a reset request becomes the session's. A resync request or an overload,
// which a driver may send unasked, is counted by the session and by the armed measurement as
// trouble.
ASIOLong AsioMessageCallback(ASIOLong selector, ASIOLong value, void* message, double* opt);

inline constexpr ASIOCallbacks kHostCallbacks{BufferSwitchCallback, SampleRateDidChangeCallback,
                                              AsioMessageCallback, BufferSwitchTimeInfoCallback};
