// The ten substeps of a step that nothing can interrupt. Each model
// instantiates this loop with its own update, in its own source file, so that
// the update is compiled into the loop instead of being called through a
// pointer at every substep, which would cost more than the update itself.
#pragma once

#include "ModelTypes.h"

// A model's update written on the real values alone.
using RealValuesUpdate = void (*)(Real* realValues);

// Runs the ten substeps from the communication point with the given substep
// size; `time` follows the substeps.
using QuietSubsteps = void (*)(Real* realValues, Real& time, Real communicationPoint,
                               Real substepSize, Real eventTime);

constexpr int kSubstepCount = 10;

// The update runs at every substep whose time lies strictly after the event
// time, and reads its operands afresh each time. The time is the running sum
// of the substeps, each addition rounded on its own; it always starts from the
// master's communication point.
template <RealValuesUpdate update>
void quietSubsteps(Real* realValues, Real& time, Real communicationPoint, Real substepSize,
                   Real eventTime) {
    Real substepTime = communicationPoint;
    for (int substep = 0; substep < kSubstepCount; ++substep) {
        substepTime += substepSize;
        time = substepTime;
        // Strictly after the event time; a NaN time never fires.
        if (substepTime > eventTime) {
            update(realValues);
        }
    }
}
