// The callback set the test master hands to fmiInstantiateSlave: everything goes to the
// process-wide recorders, and stepFinished only counts, since a slave that cannot run
// asynchronously must never call it.
#pragma once

#include <atomic>

#include "FmiTypes.h"
#include "RecordingAllocator.h"
#include "RecordingLogger.h"

namespace callbacks_detail {
inline std::atomic<int> stepFinishedCallCount{0};
}  // namespace callbacks_detail

extern "C" inline void recordingStepFinished(fmiComponent, fmiStatus) {
    ++callbacks_detail::stepFinishedCallCount;
}

inline int stepFinishedCalls() {
    return callbacks_detail::stepFinishedCallCount.load();
}

inline void resetStepFinishedCalls() {
    callbacks_detail::stepFinishedCallCount.store(0);
}

inline fmiCallbackFunctions recordingCallbacks() {
    return fmiCallbackFunctions{recordingLogger, recordingAllocate, recordingFree,
                                recordingStepFinished};
}
