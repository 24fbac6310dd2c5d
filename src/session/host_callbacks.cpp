#include "session/host_callbacks.h"

#include "engine/dropout_watch.h"
#include "session/callback_gate.h"
#include "session/measurement_session.h"

void BufferSwitchCallback(ASIOLong doubleBufferIndex, ASIOBool) {
    const CallbackScope scope;
    if (MeasurementSession* session = scope ? MeasurementSession::s_active.load() : nullptr) {
        session->onBufferSwitch(doubleBufferIndex);
    }
}

ASIOTime* BufferSwitchTimeInfoCallback(ASIOTime*, ASIOLong, ASIOBool) {
    return nullptr;
}

void SampleRateDidChangeCallback(ASIOSampleRate sRate) {
    const CallbackScope scope;
    if (MeasurementSession* session = scope ? MeasurementSession::s_active.load() : nullptr) {
        session->onSampleRateChange(sRate);
    }
}

ASIOLong AsioMessageCallback(ASIOLong selector, ASIOLong value, void*, double*) {
    switch (selector) {
    case kAsioSelectorSupported:
        return value == kAsioEngineVersion || value == kAsioResetRequest ? 1 : 0;
    case kAsioEngineVersion:
        return 2;
    case kAsioResetRequest: {
        const CallbackScope scope;
        if (MeasurementSession* session = scope ? MeasurementSession::s_active.load() : nullptr) {
            session->onResetRequest();
        }
        return 1;
    }
    default:
        // A resync or an overload may have lost or repeated a period of the run: the measurement
        // hears of it, and the driver gets the answer it always got for a selector we do not
        // claim to support.
        if (reportsDropout(selector)) {
            const CallbackScope scope;
            if (MeasurementSession* session =
                    scope ? MeasurementSession::s_active.load() : nullptr) {
                session->onDriverTrouble();
            }
        }
        return 0;
    }
}
