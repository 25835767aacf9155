// The arithmetic floor of a step: the model's own quiet loop from its
// definition, called the way the slave calls it, with nothing of the slave
// runtime around it. Also what the benchmarks know of each model, all read
// from its definition in the benchmarks' model registry, and the check that
// the floor computes what the slave computes, bit for bit.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "FmiTypes.h"
#include "FmiVersions.h"
#include "ModelDefinition.h"
#include "MxcsrGuard.h"

namespace bench {

// The communication step of the timed loops: every substep has a time event.
constexpr fmiReal kStepSize = 1.0e-3;
// Flush-to-zero and denormals-are-zero, the MXCSR bits of a model validated
// under flush-to-zero.
constexpr std::uint32_t kFlushToZeroBits = 0x8040;

// A model as the benchmarks see it.
struct Model {
    const ModelDefinition* definition = nullptr;
    const char* identifier = nullptr;
    const char* guid = nullptr;
    std::uint32_t realCount = 0;
    bool flushesToZero = false;
    // The parameters and inputs, and the values the timed loops give them.
    std::vector<fmiValueReference> operands;
    std::vector<fmiReal> operatingPoint;
    // The last input, which a Model Exchange master's solver changes; none
    // where the model has no input.
    bool hasInput = false;
    fmiValueReference lastInput = 0;
    fmiValueReference firstOutput = 0;
};

// Every model of the build, in the order of its list.
const std::vector<Model>& models();
// The model of that identifier, or null.
const Model* findModel(const std::string& identifier);

// What the floor keeps of a slave: its model, its time and its real values
// (a model has at most 32 reals: ValueReferenceSet).
struct FloorSlave {
    const ModelDefinition* model = nullptr;
    fmiReal time = 0.0;
    fmiReal r[32] = {};
};

// The step with nothing but its arithmetic: the zero-step test, the substep
// by the model's rule, and the model's quiet loop (ten rounded additions each
// stored as the time, ten comparisons with the event time and the model's
// update at each substep that passes), compiled in the model's own file as
// the slave's is and called through the definition as the slave calls it.
// A model without a quiet loop (its update may ask to end the simulation)
// has its update called at each substep instead, as the slave's general loop
// does. The timed and counted floor is that of 1.0, whose event time is -1 s;
// for the operating point of the timed loops (times from 0 on) it is the same
// code and the same work as with 2.0's minus infinity.
template <typename Version = Fmi1>
[[gnu::always_inline]] inline void floorStep(FloorSlave& slave, fmiReal time, fmiReal stepSize) {
    if (stepSize == 0.0) {
        return;
    }
    const ModelDefinition& model = *slave.model;
    const fmiReal substep = substepSizeOf(model, stepSize);
    if (model.quietSubsteps != nullptr) {
        model.quietSubsteps(slave.r, slave.time, time, substep, Version::kEventTime);
        return;
    }
    for (int i = 0; i < kSubstepCount; ++i) {
        time += substep;
        slave.time = time;
        if (time > Version::kEventTime) {
            model.updateAtEvent(slave.r);
        }
    }
}

// The floor in the MXCSR environment that a slave switches to within each
// call when its model computes under flush-to-zero, as a 2.0 slave does: the
// save, the switch and the restore around the arithmetic, and nothing else.
template <typename Version = Fmi1>
[[gnu::always_inline]] inline void floorStepUnder(std::uint32_t mxcsrBits, FloorSlave& slave,
                                                  fmiReal time, fmiReal stepSize) {
    const MxcsrGuard floatingPoint(mxcsrBits);
    floorStep<Version>(slave, insideGuard(time), insideGuard(stepSize));
}

template <typename Version>
int setOperatingPoint(const typename Version::Functions& fmi, Component c, const Model& model) {
    return Version::setReal(fmi, c, model.operands.data(), model.operands.size(),
                            model.operatingPoint.data());
}

template <typename Version>
std::vector<fmiReal> allValues(const typename Version::Functions& fmi, Component c,
                               const Model& model) {
    std::vector<fmiValueReference> vr(model.realCount);
    for (std::uint32_t i = 0; i < model.realCount; ++i) {
        vr[i] = i;
    }
    std::vector<fmiReal> values(model.realCount);
    Version::getReal(fmi, c, vr.data(), vr.size(), values.data());
    return values;
}

// A floor that starts from the values the slave holds now.
template <typename Version>
FloorSlave floorHoldingValuesOf(const typename Version::Functions& fmi, Component c,
                                const Model& model) {
    FloorSlave floor;
    floor.model = model.definition;
    const std::vector<fmiReal> values = allValues<Version>(fmi, c, model);
    std::copy(values.begin(), values.end(), floor.r);
    return floor;
}

// The floor's step as the slave of the given version computes it: with the
// version's event time, under flush-to-zero for a model validated under it
// (a 1.0 slave switches the loading thread at load, a 2.0 slave switches
// within each call).
template <typename Version>
void floorStepAsSlave(FloorSlave& slave, bool flushesToZero, fmiReal time, fmiReal stepSize) {
    floorStepUnder<Version>(flushesToZero ? kFlushToZeroBits : 0U, slave, time, stepSize);
}

inline bool sameBits(fmiReal a, fmiReal b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Steps the slave and the floor side by side, from the same values, over
// operands and step arguments that reach every branch of the models and of
// the event test (an event on every substep, on the last only, on none, a
// substep landing exactly on the event time, zero and NaN steps), and compares
// every real value bit for bit. Step arguments that the version refuses are
// left out. Yields what differed first, or nothing.
template <typename Version>
std::string differencesFromFloor(const typename Version::Functions& fmi, Component c,
                                 const Model& model) {
    constexpr fmiReal kInfinity = std::numeric_limits<fmiReal>::infinity();
    const fmiReal samples[] = {
        0.01,     0.03, -0.125,       0.1,       0.09,       -0.055,
        1.0,      -1.0, 15000.,       0.0,       -0.0,       1.0e-300,
        -1.0e-10, 0.25, std::nan(""), kInfinity, -kInfinity, 0.09000000000000001};
    struct StepArguments {
        fmiReal time;
        fmiReal stepSize;
    };
    const StepArguments steps[] = {{0.0, kStepSize},    {-2.0, 1.0},  {-2.6, 1.6},
                                   {-1.5, 5.0},         {-7.0, 5.0},  {-6.0, 5.0},
                                   {0.0, 0.0},          {0.0, -0.0},  {0.0, std::nan("")},
                                   {std::nan(""), 1.0}, {3.0, -10.0}, {1.0e6, 3.0}};
    constexpr std::size_t kSampleCount = std::size(samples);
    for (std::size_t pattern = 0; pattern < kSampleCount; ++pattern) {
        for (const StepArguments& step : steps) {
            if (!Version::acceptsStep(step.time, step.stepSize)) {
                continue;
            }
            std::vector<fmiReal> operands(model.operands.size());
            for (std::size_t i = 0; i < operands.size(); ++i) {
                operands[i] = samples[(pattern + 5 * i) % kSampleCount];
            }
            Version::setReal(fmi, c, model.operands.data(), operands.size(), operands.data());
            FloorSlave floor = floorHoldingValuesOf<Version>(fmi, c, model);

            const int status = Version::doStep(fmi, c, step.time, step.stepSize);
            floorStepAsSlave<Version>(floor, model.flushesToZero, step.time, step.stepSize);
            const std::vector<fmiReal> after = allValues<Version>(fmi, c, model);

            std::string where = std::string(model.identifier) + ": " + Version::kDoStep + "(" +
                                std::to_string(step.time) + ", " + std::to_string(step.stepSize) +
                                ") with operands";
            for (const fmiReal operand : operands) {
                where += " " + std::to_string(operand);
            }
            if (status != kStatusOk) {
                return where + " returned " + std::to_string(status);
            }
            for (std::uint32_t vr = 0; vr < model.realCount; ++vr) {
                if (!sameBits(after[vr], floor.r[vr])) {
                    return where + ": value " + std::to_string(vr) + " is " +
                           std::to_string(after[vr]) + ", the floor's " +
                           std::to_string(floor.r[vr]);
                }
            }
        }
    }
    setOperatingPoint<Version>(fmi, c, model);
    return {};
}

// What the value-access benchmarks set or get: for one value, the first
// parameter or the first output; for all, every parameter and input, or every
// real value. Setting stops at the parameters and inputs because only 1.0
// lets a master set outputs, and every version is measured on the same
// values.
inline std::vector<fmiValueReference> accessedReals(const Model& model, bool set, bool all) {
    if (!all) {
        return {set ? model.operands.front() : model.firstOutput};
    }
    if (set) {
        return model.operands;
    }
    std::vector<fmiValueReference> vr(model.realCount);
    for (std::uint32_t i = 0; i < model.realCount; ++i) {
        vr[i] = i;
    }
    return vr;
}

}  // namespace bench
