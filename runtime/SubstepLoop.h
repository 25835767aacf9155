// The ten substeps of fmiDoStep for a step that nothing can interrupt. Each
// model instantiates this runtime loop with its own event update, in its own
// source file, so that the update is compiled into the loop instead of being
// called through a pointer at every substep, which would cost more than the
// update itself.
#pragma once

#include "FmiTypes.h"
#include "SlaveInstance.h"

using ModelHook = void (*)(SlaveInstance& instance);

// A model's event update written on the real values alone.
using RealValuesUpdate = void (*)(fmiReal* realValues);

// Runs the ten substeps from the communication point with the given substep
// size and yields what fmiDoStep returns.
using QuietSubsteps = fmiStatus (*)(SlaveInstance& instance, fmiReal currentCommunicationPoint,
                                    fmiReal substepSize);

constexpr int kSubstepCount = 10;

// The general loop, the runtime's own: every substep reads the event record,
// the logging flag and the termination request afresh, and calls the model's
// updateAtEvent through the ModelDefinition.
fmiStatus runEverySubstep(SlaveInstance& instance, fmiReal currentCommunicationPoint,
                          fmiReal substepSize);

// Only for a model whose update reads and writes nothing but the real values.
// A step that begins with logging off, the time event armed and no
// termination requested is then quiet: no trace hands control to the master
// and the update cannot change the event record or the logging flag, so every
// substep would read the same event time and flags, and they are read once.
// The update still runs at every substep with a time event and reads its
// operands afresh. Any other step takes the general loop.
template <RealValuesUpdate update>
fmiStatus quietSubsteps(SlaveInstance& instance, fmiReal currentCommunicationPoint,
                        fmiReal substepSize) {
    const fmiEventInfo& events = instance.eventRecord;
    if (instance.loggingFlag != fmiFalse || events.upcomingTimeEvent == fmiFalse ||
        events.terminateSimulation != fmiFalse) {
        return runEverySubstep(instance, currentCommunicationPoint, substepSize);
    }
    const fmiReal eventTime = events.nextEventTime;
    fmiReal* const realValues = instance.realValues;
    // The time is the running sum of the substeps, each addition rounded on
    // its own; it always starts from the master's communication point.
    fmiReal time = currentCommunicationPoint;
    for (int substep = 0; substep < kSubstepCount; ++substep) {
        time += substepSize;
        instance.currentTime = time;
        // Strictly after the event time; a NaN time never fires.
        if (time > eventTime) {
            update(realValues);
        }
    }
    return fmiOK;
}
