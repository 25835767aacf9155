// The arithmetic floor of a step: the ten-substep loop of fmiDoStep and each
// model's equations written inline, with nothing of the slave runtime around
// them. Also what the benchmarks know of each model, written down from the
// README rather than taken from the models' sources, and the check that the
// floor computes what the slave computes, bit for bit.
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
#include "MxcsrGuard.h"

namespace bench {

constexpr int kSubstepCount = 10;
// The communication step of the timed loops: every substep has a time event.
constexpr fmiReal kStepSize = 1.0e-3;
// Flush-to-zero and denormals-are-zero, the MXCSR bits of a model validated
// under flush-to-zero.
constexpr std::uint32_t kFlushToZeroBits = 0x8040;

struct Halvorn {
    static constexpr const char* kIdentifier = "Halvorn";
    static constexpr const char* kGuid = "{df6d0958-156a-469d-81e9-7eeddeec2de4}";
    static constexpr std::uint32_t kRealCount = 5;
    static constexpr bool kMultipliesSubstep = false;
    static constexpr bool kFlushesToZero = false;
    // The parameters and inputs, and the values the timed loops give them.
    static constexpr fmiValueReference kOperands[] = {0, 1, 2};
    static constexpr fmiReal kOperatingPoint[] = {15000.0, 0.01, 0.03};
    static constexpr fmiValueReference kFirstOutput = 3;

    [[gnu::always_inline]] static void update(fmiReal* r) {
        const fmiReal force = (r[2] - r[1]) * r[0];
        r[3] = force;
        r[4] = -force;
    }
};

struct Pendrake {
    static constexpr const char* kIdentifier = "Pendrake";
    static constexpr const char* kGuid = "{893cb1e7-47fa-43c9-bb60-4aaabffe8056}";
    static constexpr std::uint32_t kRealCount = 6;
    static constexpr bool kMultipliesSubstep = true;
    static constexpr bool kFlushesToZero = true;
    // Beyond the upper limit: both comparisons and the upper spring run.
    static constexpr fmiValueReference kOperands[] = {0, 1, 2, 3, 4};
    static constexpr fmiReal kOperatingPoint[] = {-0.055, 50000.0, 0.09, 50000.0, 0.1};
    static constexpr fmiValueReference kFirstOutput = 5;

    [[gnu::always_inline]] static void update(fmiReal* r) {
        r[5] = +0.0;
        if (r[4] < r[0]) {
            r[5] = (r[0] - r[4]) * r[1];
        } else if (r[4] > r[2]) {
            r[5] = (r[2] - r[4]) * r[3];
        }
    }
};

struct Corvessa {
    static constexpr const char* kIdentifier = "Corvessa";
    static constexpr const char* kGuid = "{1a52f68c-d976-4fba-9cb9-51e50b2bb078}";
    static constexpr std::uint32_t kRealCount = 10;
    static constexpr bool kMultipliesSubstep = false;
    static constexpr bool kFlushesToZero = false;
    static constexpr fmiValueReference kOperands[] = {0, 1, 2, 3, 4, 5};
    static constexpr fmiReal kOperatingPoint[] = {15000.0, 15000.0, 0.01, 0.03, -0.02, 0.015};
    static constexpr fmiValueReference kFirstOutput = 6;

    [[gnu::always_inline]] static void update(fmiReal* r) {
        const fmiReal first = (r[3] - r[2]) * r[0];
        const fmiReal second = (r[5] - r[4]) * r[1];
        r[6] = first;
        r[7] = -first;
        r[8] = second;
        r[9] = -second;
    }
};

// What the floor keeps of a slave: its time and its real values.
template <typename Model>
struct FloorSlave {
    fmiReal time = 0.0;
    fmiReal r[Model::kRealCount] = {};
};

// The step with nothing but its arithmetic: the zero-step test, the substep,
// ten rounded additions each stored as the time, ten comparisons with the
// event time and an evaluation of the model at each substep that passes. The
// timed and counted floor is that of 1.0, whose event time is -1 s; for the
// operating point of the timed loops (times from 0 on) it is the same code
// and the same work as with 2.0's minus infinity. The event time is a
// constant of the version, not an argument: given as an argument, even one
// that inlining makes constant, it leads GCC to align the branch targets in
// the unrolled loop differently, which puts ten no-ops into Pendrake's
// floor.
template <typename Model, typename Version = Fmi1>
[[gnu::always_inline]] inline void floorStep(FloorSlave<Model>& slave, fmiReal time,
                                             fmiReal stepSize) {
    if (stepSize == 0.0) {
        return;
    }
    const fmiReal substep = Model::kMultipliesSubstep ? stepSize * 0.1 : stepSize / 10.0;
    for (int i = 0; i < kSubstepCount; ++i) {
        time += substep;
        slave.time = time;
        if (time > Version::kEventTime) {
            Model::update(slave.r);
        }
        // Costs no instruction, but makes the next evaluation read its operands
        // from memory again. Without it the compiler would evaluate once and
        // store ten times, which is not a step of ten evaluations; the slave
        // must reread its operands at every substep too.
        __asm__ __volatile__("" ::: "memory");
    }
}

// The floor in the MXCSR environment that a slave switches to within each
// call when its model computes under flush-to-zero, as a 2.0 slave does: the
// save, the switch and the restore around the arithmetic, and nothing else.
template <typename Model, typename Version = Fmi1>
[[gnu::always_inline]] inline void floorStepUnder(std::uint32_t mxcsrBits, FloorSlave<Model>& slave,
                                                  fmiReal time, fmiReal stepSize) {
    const MxcsrGuard floatingPoint(mxcsrBits);
    floorStep<Model, Version>(slave, insideGuard(time), insideGuard(stepSize));
}

template <typename Version, typename Model>
int setOperatingPoint(const typename Version::Functions& fmi, Component c) {
    return Version::setReal(fmi, c, Model::kOperands, std::size(Model::kOperands),
                            Model::kOperatingPoint);
}

template <typename Version, typename Model>
std::vector<fmiReal> allValues(const typename Version::Functions& fmi, Component c) {
    std::vector<fmiValueReference> vr(Model::kRealCount);
    for (std::uint32_t i = 0; i < Model::kRealCount; ++i) {
        vr[i] = i;
    }
    std::vector<fmiReal> values(Model::kRealCount);
    Version::getReal(fmi, c, vr.data(), vr.size(), values.data());
    return values;
}

// A floor that starts from the values the slave holds now.
template <typename Version, typename Model>
FloorSlave<Model> floorHoldingValuesOf(const typename Version::Functions& fmi, Component c) {
    FloorSlave<Model> floor;
    const std::vector<fmiReal> values = allValues<Version, Model>(fmi, c);
    std::copy(values.begin(), values.end(), floor.r);
    return floor;
}

// The floor's step as the slave of the given version computes it: with the
// version's event time, under flush-to-zero for a model validated under it
// (a 1.0 slave switches the loading thread at load, a 2.0 slave switches
// within each call).
template <typename Version, typename Model>
void floorStepAsSlave(FloorSlave<Model>& slave, fmiReal time, fmiReal stepSize) {
    floorStepUnder<Model, Version>(Model::kFlushesToZero ? kFlushToZeroBits : 0U, slave, time,
                                   stepSize);
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
template <typename Version, typename Model>
std::string differencesFromFloor(const typename Version::Functions& fmi, Component c) {
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
            fmiReal operands[std::size(Model::kOperands)];
            for (std::size_t i = 0; i < std::size(operands); ++i) {
                operands[i] = samples[(pattern + 5 * i) % kSampleCount];
            }
            Version::setReal(fmi, c, Model::kOperands, std::size(operands), operands);
            FloorSlave<Model> floor = floorHoldingValuesOf<Version, Model>(fmi, c);

            const int status = Version::doStep(fmi, c, step.time, step.stepSize);
            floorStepAsSlave<Version>(floor, step.time, step.stepSize);
            const std::vector<fmiReal> after = allValues<Version, Model>(fmi, c);

            std::string where = std::string(Model::kIdentifier) + ": " + Version::kDoStep + "(" +
                                std::to_string(step.time) + ", " + std::to_string(step.stepSize) +
                                ") with operands";
            for (const fmiReal operand : operands) {
                where += " " + std::to_string(operand);
            }
            if (status != kStatusOk) {
                return where + " returned " + std::to_string(status);
            }
            for (std::uint32_t vr = 0; vr < Model::kRealCount; ++vr) {
                if (!sameBits(after[vr], floor.r[vr])) {
                    return where + ": value " + std::to_string(vr) + " is " +
                           std::to_string(after[vr]) + ", the floor's " +
                           std::to_string(floor.r[vr]);
                }
            }
        }
    }
    setOperatingPoint<Version, Model>(fmi, c);
    return {};
}

// The parameters and inputs of the model.
template <typename Model>
std::vector<fmiValueReference> operandsOf() {
    return {std::begin(Model::kOperands), std::end(Model::kOperands)};
}

// What the value-access benchmarks set or get: for one value, the first
// parameter or the first output; for all, every parameter and input, or every
// real value. Setting stops at the parameters and inputs because only 1.0
// lets a master set outputs, and every version is measured on the same
// values.
template <typename Model>
std::vector<fmiValueReference> accessedReals(bool set, bool all) {
    if (!all) {
        return {set ? Model::kOperands[0] : Model::kFirstOutput};
    }
    if (set) {
        return operandsOf<Model>();
    }
    std::vector<fmiValueReference> vr(Model::kRealCount);
    for (std::uint32_t i = 0; i < Model::kRealCount; ++i) {
        vr[i] = i;
    }
    return vr;
}

}  // namespace bench
