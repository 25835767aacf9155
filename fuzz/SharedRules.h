// What the rules of the FMI 2.0 and 3.0 calls share: the model the master
// computes alongside the slave, the records of an instance and its FMU
// states as both front-ends lay them out, and the checks of what a call
// wrote into the master's arrays. Each version passes what differs: its
// record types, its state names, its messages.
#pragma once

#include <xmmintrin.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Checks.h"
#include "FmuStateBytes.h"
#include "Master.h"

namespace sharedRules {

constexpr std::uint32_t kFlushToZeroBits = 0x8040;

constexpr std::size_t roundedToReal(std::size_t bytes) {
    return (bytes + sizeof(double) - 1) / sizeof(double) * sizeof(double);
}

// The master works out the model's arithmetic in the environment the model
// computes in.
class ModelArithmetic {
  public:
    explicit ModelArithmetic(int model) : saved_(_mm_getcsr()) {
        if (factsOf(model).flushesToZero) {
            _mm_setcsr(saved_ | kFlushToZeroBits);
        }
    }
    ~ModelArithmetic() {
        _mm_setcsr(saved_);
    }
    ModelArithmetic(const ModelArithmetic&) = delete;
    ModelArithmetic& operator=(const ModelArithmetic&) = delete;

  private:
    std::uint32_t saved_;
};

// The states have the same bits in both versions; the one after
// initialization has its own name in each.
inline const char* stateName(std::uint32_t state, const char* steppingName) {
    switch (state) {
        case 1:
            return "instantiated";
        case 2:
            return "initialization mode";
        case 4:
            return steppingName;
        case 8:
            return "terminated";
        case 16:
            return "error";
        case 64:
            return "event mode";
        case 128:
            return "continuous-time mode";
        default:
            return "unknown";
    }
}

inline void writeFreshValues(Instance& s, std::int32_t instantiated) {
    s.state = instantiated;
    s.currentTime = 0.0;
    s.reals = factsOf(s.model).freshValues();
}

// The model's update at a time event; true when it asks to end the
// simulation (only a test model does).
inline bool updateAsksToTerminate(Instance& s) {
    const ModelArithmetic arithmetic(s.model);
    return computeEquation(s) == UpdateOutcome::RequestTermination;
}

// A step's substeps, each recomputing the outputs; true when the test
// model asks to end the simulation at one. A completed step ends at the
// full step.
inline bool stepAsksToTerminate(Instance& s, double communicationPoint, double stepSize) {
    const ModelArithmetic arithmetic(s.model);
    const double h = factsOf(s.model).substep(stepSize);
    double t = communicationPoint;
    bool terminates = false;
    for (int substep = 0; substep < 10 && !terminates; ++substep) {
        t += h;
        s.currentTime = t;
        terminates = updateAsksToTerminate(s);
    }
    if (!terminates) {
        s.currentTime = communicationPoint + stepSize;
    }
    return terminates;
}

inline bool isParameterOrInput(int model, std::uint32_t vr) {
    return vr < factsOf(model).firstOutput;
}

inline bool isOutput(int model, std::uint32_t vr) {
    return vr >= factsOf(model).firstOutput && vr < factsOf(model).realCount();
}

inline KnownFmuState* ownFmuState(Instance& s, void* handle) {
    for (KnownFmuState& known : s.fmuStates) {
        if (known.handle == handle) {
            return &known;
        }
    }
    return nullptr;
}

inline fmuStateBytes::Content contentOf(const KnownFmuState& known) {
    return {known.state, known.time, known.reals};
}

// fmiXSetFMUstate of an FMU state the instance holds.
inline void restoreFmuState(Instance& s, const KnownFmuState& own) {
    s.state = static_cast<std::int32_t>(own.state);
    s.currentTime = own.time;
    s.reals = own.reals;
    s.anyNaNOutputs = own.anyNaNOutputs;
}

// The FMU states the record chains, newest first, against the master's;
// checkBlock looks at each one's block as the version can.
template <typename Saved, typename CheckBlock>
void checkFmuStates(Instance& s, const Saved* saved, const std::string& who,
                    std::size_t valuesOffset, CheckBlock checkBlock) {
    for (KnownFmuState& known : s.fmuStates) {
        require(saved == known.handle,
                [&] { return who + ": the FMU states are not the ones the master holds"; });
        checkBlock(saved);
        const auto* block = reinterpret_cast<const unsigned char*>(saved);
        require(
            saved->machineState == known.state && bitsOf(saved->time) == bitsOf(known.time) &&
                reinterpret_cast<const unsigned char*>(saved->realValues) == block + valuesOffset,
            [&] { return who + ": an FMU state's state or time differs"; });
        for (std::size_t i = 0; i < known.reals.size(); ++i) {
            require(holdsReal(known.reals, known.anyNaNOutputs, i, saved->realValues[i]), [&] {
                return who + ": an FMU state's real " + std::to_string(i) + " differs";
            });
        }
        saved = saved->next;
    }
    require(saved == nullptr, [&] { return who + ": the instance holds more FMU states"; });
}

// The fields both records have, before and after what only one has: the
// state, logging, time and arithmetic first, then the values and name in
// the instance's one block.
// `settable` is what the master may set in the instance's state, every
// parameter and input unless the version says otherwise.
template <typename Record>
void checkRecordHead(const Instance& s, const Record& r, const std::string& who,
                     ValueReferenceSet settable = ~ValueReferenceSet{0}) {
    const ModelFacts& facts = factsOf(s.model);
    require(r.state == static_cast<std::uint32_t>(s.state), [&] {
        return who + ": state " + std::to_string(r.state) + " instead of " +
               std::to_string(s.state);
    });
    require(r.debugLogging == s.debugCategories,
            [&] { return who + ": debug logging " + std::to_string(r.debugLogging); });
    require(bitsOf(r.data.time) == bitsOf(s.currentTime), [&] { return who + ": time differs"; });
    require(r.data.flushToZeroBits == (facts.flushesToZero ? kFlushToZeroBits : 0U),
            [&] { return who + ": floating-point bits differ"; });
    require(r.settableReals == (settable & ((ValueReferenceSet{1} << facts.firstOutput) - 1)),
            [&] { return who + ": settable reals differ"; });
}

template <typename Record>
void checkRecordValues(Instance& s, const Record& r, const std::string& who,
                       std::size_t valuesOffset) {
    const auto* block = static_cast<const unsigned char*>(s.c);
    const std::size_t nameOffset = valuesOffset + sizeof(double) * s.reals.size();
    require(reinterpret_cast<const unsigned char*>(r.data.realValues) == block + valuesOffset &&
                reinterpret_cast<const unsigned char*>(r.instanceName) == block + nameOffset &&
                s.name == r.instanceName,
            [&] { return who + ": values or name moved"; });
    for (std::size_t i = 0; i < s.reals.size(); ++i) {
        require(recordHolds(s, i, r.data.realValues[i]),
                [&] { return who + ": real " + std::to_string(i) + " differs"; });
    }
}

// The bits of the master's array before the call, as far as it has them.
inline std::vector<std::uint64_t> bitsBefore(const double* values, std::size_t n) {
    std::vector<std::uint64_t> bits;
    for (std::size_t i = 0; values != nullptr && i < n; ++i) {
        bits.push_back(bitsOf(values[i]));
    }
    return bits;
}

// What a call left in the master's array, element by element.
inline void requireValues(const char* function, const char* arrayName, const double* values,
                          const std::vector<std::uint64_t>& expected) {
    for (std::size_t i = 0; i < expected.size(); ++i) {
        require(matchesBits(bitsOf(values[i]), expected[i]), [&] {
            return std::string(function) + ": " + arrayName + "[" + std::to_string(i) + "] differs";
        });
    }
}

// The derivatives a call computed. Where two NaNs meet, which payload comes
// out depends on the order the compiler gave the operands of a product or
// sum: any NaN matches.
inline void requireDerivatives(const char* function, const char* arrayName, const double* values,
                               const std::vector<std::uint64_t>& expected, bool computed) {
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const double wanted = realFromBits(expected[i]);
        require(bitsOf(values[i]) == expected[i] ||
                    (computed && std::isnan(values[i]) && std::isnan(wanted)),
                [&] {
                    return std::string(function) + ": " + arrayName + "[" + std::to_string(i) +
                           "] is " + std::to_string(values[i]) + ", not " + std::to_string(wanted);
                });
    }
}

// A sum of products of partials with seeds, from the first product on.
template <typename Product>
double summed(std::size_t n, Product product) {
    double sum = 0.0;
    for (std::size_t j = 0; j < n; ++j) {
        sum = j == 0 ? product(j) : sum + product(j);
    }
    return sum;
}

// Frees the instance in the slot, whatever its state, by the version's call.
template <typename FreeInstance>
void retire(World& world, int library, int slot, FreeInstance freeInstance) {
    std::optional<Instance>& occupant = world.slots[library][slot];
    if (occupant) {
        freeInstance(&*occupant);
    }
    if (occupant) {
        violated("an instance was not freed");
    }
}

// The log categories fmiXSetDebugLogging names, one bit each in the
// library's order; all of them for none. refuseNull and refuseUnknown tell
// of a category the call refuses, which leaves no bits.
template <typename RefuseNull, typename RefuseUnknown>
std::optional<std::uint32_t> chosenCategories(std::size_t n, const char* const* categories,
                                              const char* const* names, std::uint32_t all,
                                              RefuseNull refuseNull, RefuseUnknown refuseUnknown) {
    if (n > 0 && categories == nullptr) {
        refuseNull("categories[]");
        return std::nullopt;
    }
    std::uint32_t chosen = n == 0 ? all : 0U;
    for (std::size_t i = 0; i < n; ++i) {
        if (categories[i] == nullptr) {
            refuseNull("categories[i]");
            return std::nullopt;
        }
        std::uint32_t bit = 0;
        for (std::uint32_t b = 0; (1U << b) <= all && bit == 0; ++b) {
            if (std::string(categories[i]) == names[b]) {
                bit = 1U << b;
            }
        }
        if (bit == 0) {
            refuseUnknown(categories[i]);
            return std::nullopt;
        }
        chosen |= bit;
    }
    return chosen;
}

}  // namespace sharedRules
