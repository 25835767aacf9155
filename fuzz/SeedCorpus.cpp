// Writes the seed corpus of the fuzz target: call sequences that a master
// makes, right or wrong, encoded as CallEncoding.h says. The fuzzer starts
// from these and mutates them.
//
//     fuzz_seeds <directory>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "CallEncoding.h"
#include "ModelDefinition.h"

namespace {

// What the seeds know of a model, all from its definition in the registry.
std::uint32_t realCountOf(int model) {
    return definitionOf(model).realCount;
}

std::vector<std::uint32_t> referencesOf(int model, std::initializer_list<Causality> causalities) {
    std::vector<std::uint32_t> references;
    for (std::uint32_t vr = 0; vr < realCountOf(model); ++vr) {
        for (const Causality causality : causalities) {
            if (definitionOf(model).realVariables[vr].causality == causality) {
                references.push_back(vr);
            }
        }
    }
    return references;
}
std::vector<std::uint32_t> inputsOf(int model) {
    return referencesOf(model, {Causality::Input});
}
std::vector<std::uint32_t> operandsOf(int model) {
    return referencesOf(model, {Causality::Parameter, Causality::Input});
}
std::vector<std::uint32_t> outputsOf(int model) {
    return referencesOf(model, {Causality::Output});
}

// A model whose update may ask to end the simulation has no quiet loop.
bool mayRequestTermination(int model) {
    return definitionOf(model).quietSubsteps == nullptr;
}
bool flushesToZero(int model) {
    return definitionOf(model).floatingPoint == FloatingPointMode::FlushToZero;
}

// The first model, in the registry's order, that satisfies `role`; else the
// first model. Added models come last, so each role keeps its model.
template <typename Role>
int firstModelThat(Role role) {
    for (int model = 0; model < kModelCount; ++model) {
        if (role(model)) {
            return model;
        }
    }
    return 0;
}

// The models the seeds single out by what they exercise: a plain model
// (neither flush-to-zero nor a request to terminate), one that computes
// under flush-to-zero, the one with the most reals, and one that may request
// termination.
const int kPlain =
    firstModelThat([](int m) { return !flushesToZero(m) && !mayRequestTermination(m); });
const int kFlushing = firstModelThat([](int m) { return flushesToZero(m); });
const int kWidest = [] {
    int widest = 0;
    for (int model = 1; model < kModelCount; ++model) {
        widest = realCountOf(model) > realCountOf(widest) ? model : widest;
    }
    return widest;
}();
const int kTerminating = firstModelThat([](int m) { return mayRequestTermination(m); });

// Values for n references, cycling through a few that reach the models'
// branches.
std::vector<double> valuesFor(std::size_t n, const std::vector<double>& cycle) {
    std::vector<double> values;
    for (std::size_t i = 0; i < n; ++i) {
        values.push_back(cycle[i % cycle.size()]);
    }
    return values;
}

struct InstantiateOptions {
    std::uint8_t name = 0;  // NameKind
    std::string inputName;
    std::uint8_t guid = 0;  // GuidKind
    std::uint8_t callbacks = 0;
    std::uint8_t loggingOn = 1;
    std::uint8_t allocation = 0;
    // FMI 2.0 only.
    std::uint8_t fmuType = 0;
    std::uint8_t extras = 0;
};

// Each method appends one call in the fuzz target's encoding.
class Sequence {
  public:
    const std::vector<std::uint8_t>& bytes() const {
        return bytes_;
    }

    Sequence& instantiate(int model, int slot, const InstantiateOptions& o = {}) {
        operation(Operation::Instantiate);
        byte(targetByte(model, slot));
        name(o);
        byte(o.guid);
        byte(o.callbacks);
        byte(o.loggingOn);
        byte(o.allocation);
        byte(0);  // extras
        real(0.0);
        return *this;
    }
    Sequence& instantiate2(int model, int slot, const InstantiateOptions& o = {}) {
        operation(Operation::Fmi2Instantiate);
        byte(targetByte(model, slot));
        name(o);
        byte(o.guid);
        byte(o.fmuType);
        byte(o.callbacks);
        byte(o.loggingOn);
        byte(o.allocation);
        byte(o.extras);
        return *this;
    }
    // Through fmi2SetupExperiment and initialization to a completed step,
    // with the values given to the first references set on the way.
    Sequence& stepComplete2(int model, int slot, const std::vector<std::uint32_t>& vr = {},
                            const std::vector<double>& values = {}) {
        setupExperiment2(model, slot, 0.0)
            .simple(Operation::Fmi2EnterInitializationMode, model, slot);
        if (vr.size() != 0) {
            setReal(model, slot, vr, values, 0, Operation::Fmi2SetReal);
        }
        return simple(Operation::Fmi2ExitInitializationMode, model, slot);
    }
    Sequence& setupExperiment2(int model, int slot, double startTime) {
        operation(Operation::Fmi2SetupExperiment);
        byte(targetByte(model, slot));
        byte(1);
        real(0.001);
        real(startTime);
        byte(0);
        real(0.0);
        return *this;
    }
    // Categories by their index in the category table.
    Sequence& setDebugLogging2(int model, int slot, std::uint8_t on,
                               std::initializer_list<std::uint8_t> categories,
                               bool nullArray = false) {
        operation(Operation::Fmi2SetDebugLogging);
        byte(targetByte(model, slot));
        byte(on);
        byte(static_cast<std::uint8_t>(categories.size() | (nullArray ? kArraysTampered : 0)));
        for (const std::uint8_t category : categories) {
            byte(category);
        }
        return *this;
    }
    // fmi2GetFMUstate, fmi2SetFMUstate, fmi2FreeFMUstate,
    // fmi2SerializedFMUstateSize and fmi2SerializeFMUstate, with the flags
    // byte of those that read one and the allocation byte of the first.
    Sequence& fmuState(Operation o, int model, int slot, std::uint8_t choice,
                       std::uint8_t flags = 0, std::uint8_t allocation = 0) {
        operation(o);
        byte(targetByte(model, slot));
        byte(choice);
        if (o != Operation::Fmi2SetFMUstate) {
            byte(flags);
        }
        if (o == Operation::Fmi2GetFMUstate) {
            byte(allocation);
        }
        return *this;
    }
    // The bytes the master writes for a content, damaged if damage is below
    // kDamageCount.
    Sequence& deSerializeWritten(int model, int slot, std::uint8_t choice, std::uint8_t state,
                                 double time, std::uint8_t damage = kDamageCount,
                                 std::uint8_t at = 0, std::uint8_t flags = 0,
                                 std::uint8_t allocation = 0,
                                 Operation o = Operation::Fmi2DeSerializeFMUstate) {
        deSerializeOpening(model, slot, choice, flags, allocation, o);
        byte(damage < kDamageCount ? kBytesDamaged : kBytesWritten);
        byte(state);
        real(time);
        if (damage < kDamageCount) {
            byte(damage);
            byte(at);
            if (damage == kOtherFormatVersion) {
                u32(2);
            }
        }
        return *this;
    }
    Sequence& deSerializeSerialized(int model, int slot, std::uint8_t choice,
                                    Operation o = Operation::Fmi2DeSerializeFMUstate) {
        deSerializeOpening(model, slot, choice, 0, 0, o);
        byte(kBytesSerialized);
        return *this;
    }
    Sequence& deSerializeRaw(int model, int slot, const std::string& raw,
                             Operation o = Operation::Fmi2DeSerializeFMUstate) {
        deSerializeOpening(model, slot, 0, 0, 0, o);
        byte(kBytesRaw);
        byte(static_cast<std::uint8_t>(raw.size()));
        for (const char ch : raw) {
            byte(static_cast<std::uint8_t>(ch));
        }
        return *this;
    }
    Sequence& directionalDerivative(int model, int slot, const std::vector<std::uint32_t>& unknowns,
                                    const std::vector<std::uint32_t>& knowns,
                                    const std::vector<double>& seed, std::uint8_t nulls = 0) {
        operation(Operation::Fmi2GetDirectionalDerivative);
        byte(targetByte(model, slot));
        byte(static_cast<std::uint8_t>(unknowns.size()));
        byte(static_cast<std::uint8_t>(knowns.size()));
        byte(nulls == 0 ? 0 : kArraysTampered | nulls);
        if ((nulls & kNullUnknowns) == 0) {
            for (const std::uint32_t r : unknowns) {
                reference(r);
            }
        }
        if ((nulls & kNullKnowns) == 0) {
            for (const std::uint32_t r : knowns) {
                reference(r);
            }
        }
        if ((nulls & kNullSeeds) == 0) {
            for (const double v : seed) {
                real(v);
            }
        }
        return *this;
    }
    // A Model Exchange call with its argument bytes as CallEncoding.h has them.
    Sequence& modelExchange2(int model, int slot, ModelExchangeFunction function,
                             std::initializer_list<std::uint8_t> arguments = {}) {
        operation(Operation::Fmi2ModelExchange);
        byte(targetByte(model, slot));
        byte(function);
        for (const std::uint8_t b : arguments) {
            byte(b);
        }
        return *this;
    }
    Sequence& callerEnvironment(std::uint8_t index) {
        operation(Operation::CallerEnvironment);
        byte(index);
        return *this;
    }
    Sequence& initialize(int model, int slot, double tStart = 0.0) {
        operation(Operation::Initialize);
        byte(targetByte(model, slot));
        real(tStart);
        byte(0);
        real(0.0);
        return *this;
    }
    Sequence& setDebugLogging(int model, int slot, std::uint8_t on) {
        operation(Operation::SetDebugLogging);
        byte(targetByte(model, slot));
        byte(on);
        return *this;
    }
    Sequence& simple(Operation o, int model, int slot) {
        operation(o);
        byte(targetByte(model, slot));
        return *this;
    }
    Sequence& setReal(int model, int slot, const std::vector<std::uint32_t>& vr,
                      const std::vector<double>& values, std::uint8_t nulls = 0,
                      Operation o = Operation::SetReal) {
        operation(o);
        byte(targetByte(model, slot));
        byte(static_cast<std::uint8_t>(vr.size()));
        byte(nulls == 0 ? 0 : kArraysTampered | nulls);
        if ((nulls & kNullVr) == 0) {
            for (const std::uint32_t r : vr) {
                reference(r);
            }
        }
        if ((nulls & kNullValue) == 0) {
            for (const double v : values) {
                real(v);
            }
        }
        return *this;
    }
    // The other seven value-access calls; a Set of another type is given
    // the value 1 (an integer), fmiTrue or "a" for every element.
    Sequence& access(Operation o, int model, int slot, const std::vector<std::uint32_t>& vr,
                     std::uint8_t nulls = 0) {
        operation(o);
        byte(targetByte(model, slot));
        byte(static_cast<std::uint8_t>(vr.size()));
        byte(nulls == 0 ? 0 : kArraysTampered | nulls);
        if ((nulls & kNullVr) == 0) {
            for (const std::uint32_t r : vr) {
                reference(r);
            }
        }
        if ((nulls & kNullValue) == 0) {
            for (std::size_t i = 0; i < vr.size(); ++i) {
                if (o == Operation::SetInteger || o == Operation::Fmi2SetInteger ||
                    o == Operation::Fmi2SetBoolean) {
                    u32(1);
                } else if (o == Operation::SetBoolean || o == Operation::SetString ||
                           o == Operation::Fmi2SetString) {
                    byte(1);
                }
            }
        }
        return *this;
    }
    // The logger calls back into the instance at its next message.
    Sequence& armReentry(int model, int slot, ReentryAction action, std::uint8_t flag = 0,
                         std::uint32_t vr = 0, double value = 0.0, int fmiVersion = 1) {
        operation(Operation::ArmReentry);
        const std::uint8_t versionBit =
            fmiVersion == 3 ? kFmi3TargetBit : (fmiVersion == 2 ? kFmi2TargetBit : 0);
        byte(static_cast<std::uint8_t>(targetByte(model, slot) | versionBit));
        byte(action);
        if (action == kReentrySetDebugLogging) {
            byte(flag);
        } else if (action != kReentryNone) {
            reference(vr);
            if (action == kReentrySetReal) {
                real(value);
            }
        }
        return *this;
    }
    Sequence& getAll(int model, int slot, Operation o = Operation::GetReal) {
        operation(o);
        byte(targetByte(model, slot));
        byte(static_cast<std::uint8_t>(realCountOf(model)));
        byte(0);
        for (std::uint32_t r = 0; r < realCountOf(model); ++r) {
            reference(r);
        }
        return *this;
    }
    Sequence& doStep(int model, int slot, double t, double h, std::uint8_t newStep = 1,
                     Operation o = Operation::DoStep) {
        operation(o);
        byte(targetByte(model, slot));
        real(t);
        real(h);
        byte(newStep);
        return *this;
    }
    Sequence& status(Operation o, int model, int slot, int kind, bool nullValue = false) {
        operation(o);
        byte(targetByte(model, slot));
        if (kind >= 0 && kind <= 3) {
            byte(static_cast<std::uint8_t>(kind));
        } else {
            byte(kRawStatusKind);
            u32(static_cast<std::uint32_t>(kind));
        }
        byte(nullValue ? 1 : 0);
        return *this;
    }
    Sequence& derivatives(Operation o, int model, int slot, std::uint8_t nvr,
                          std::uint8_t nulls = 0) {
        operation(o);
        byte(targetByte(model, slot));
        byte(nvr);
        byte(nulls == 0 ? 0 : kArraysTampered | nulls);
        return *this;
    }
    Sequence& version(Operation o, int model) {
        operation(o);
        byte(targetByte(model, 0));
        return *this;
    }

    // FMI 3.0: instantiation with the flags of CallEncoding.h, calloc
    // failing from the first request for callocFails.
    Sequence& instantiate3(int model, int slot, std::uint8_t flags = 0,
                           std::uint8_t callocFails = 0) {
        operation(Operation::Fmi3InstantiateCoSimulation);
        byte(targetByte(model, slot));
        byte(kNameGenerated);
        byte(kGuidOwn);
        byte(1);  // loggingOn
        byte(flags);
        if ((flags & kFmi3IntermediateVariables) != 0) {
            byte(1);
        }
        byte(callocFails);
        return *this;
    }
    // Through initialization into step mode, with the values given to the
    // first references set on the way.
    Sequence& stepMode3(int model, int slot, const std::vector<std::uint32_t>& vr = {},
                        const std::vector<double>& values = {}) {
        operation(Operation::Fmi3EnterInitializationMode);
        byte(targetByte(model, slot));
        byte(1);
        real(0.001);
        real(0.0);
        byte(0);
        real(0.0);
        if (vr.size() != 0) {
            setReal(model, slot, vr, values, 0, Operation::Fmi3SetFloat64);
            byte(0);  // nValues as many as references
        }
        return simple(Operation::Fmi3ExitInitializationMode, model, slot);
    }
    Sequence& step3(int model, int slot, double t, double h) {
        doStep(model, slot, t, h, 0, Operation::Fmi3DoStep);
        byte(0);  // every step result given
        return *this;
    }
    // Every real and time.
    Sequence& getAll3(int model, int slot) {
        operation(Operation::Fmi3GetFloat64);
        byte(targetByte(model, slot));
        byte(static_cast<std::uint8_t>(realCountOf(model) + 1));
        byte(0);
        for (std::uint32_t r = 0; r <= realCountOf(model); ++r) {
            reference(r);
        }
        byte(0);
        return *this;
    }
    Sequence& fmuState3(Operation o, int model, int slot, std::uint8_t choice,
                        std::uint8_t flags = 0, std::uint8_t callocFails = 0) {
        operation(o);
        byte(targetByte(model, slot));
        byte(choice);
        if (o != Operation::Fmi3SetFMUState) {
            byte(flags);
        }
        if (o == Operation::Fmi3GetFMUState) {
            byte(callocFails);
        }
        return *this;
    }
    // seedCount and sensitivityCount: kWrongCount bytes, 0 for the right count.
    Sequence& derivative3(Operation o, int model, int slot,
                          const std::vector<std::uint32_t>& unknowns,
                          const std::vector<std::uint32_t>& knowns, const std::vector<double>& seed,
                          std::uint8_t nulls = 0, std::uint8_t seedCount = 0,
                          std::uint8_t sensitivityCount = 0) {
        operation(o);
        byte(targetByte(model, slot));
        byte(static_cast<std::uint8_t>(unknowns.size()));
        byte(static_cast<std::uint8_t>(knowns.size()));
        byte(nulls);
        byte(seedCount);
        byte(sensitivityCount);
        if ((nulls & kNullUnknowns) == 0 || nulls < kArraysTampered) {
            for (const std::uint32_t vr : unknowns) {
                reference(vr);
            }
        }
        if ((nulls & kNullKnowns) == 0 || nulls < kArraysTampered) {
            for (const std::uint32_t vr : knowns) {
                reference(vr);
            }
        }
        if ((nulls & kNullSeeds) == 0 || nulls < kArraysTampered) {
            for (const double v : seed) {
                real(v);
            }
        }
        return *this;
    }
    Sequence& numberOfDependencies3(int model, int slot, std::uint32_t dependent,
                                    std::uint8_t flags = 0) {
        operation(Operation::Fmi3GetNumberOfVariableDependencies);
        byte(targetByte(model, slot));
        reference(dependent);
        byte(flags);
        return *this;
    }
    Sequence& dependencies3(int model, int slot, std::uint32_t dependent,
                            std::uint8_t countByte = 0, std::uint8_t nulls = 0) {
        operation(Operation::Fmi3GetVariableDependencies);
        byte(targetByte(model, slot));
        reference(dependent);
        byte(countByte);
        byte(nulls);
        return *this;
    }
    Sequence& outputDerivatives3(int model, int slot, std::uint8_t nvr, std::uint8_t nulls = 0) {
        operation(Operation::Fmi3GetOutputDerivatives);
        byte(targetByte(model, slot));
        byte(nvr);
        byte(nulls);
        byte(0);
        return *this;
    }
    Sequence& setFloat64(int model, int slot, std::uint32_t vr, double value) {
        setReal(model, slot, {vr}, {value}, 0, Operation::Fmi3SetFloat64);
        byte(0);  // nValues as many as references
        return *this;
    }
    Sequence& instantiateModelExchange3(int model, int slot) {
        operation(Operation::Fmi3InstantiateModelExchange);
        byte(targetByte(model, slot));
        byte(kNameGenerated);
        byte(kGuidOwn);
        byte(1);  // loggingOn
        byte(0);
        byte(0);
        return *this;
    }
    // A Model Exchange function by its index, with the count and null flags
    // byte of CallEncoding.h and a time.
    Sequence& modelExchange3(std::uint8_t function, int model, int slot, std::uint8_t flags = 0,
                             double time = 0.5) {
        operation(Operation::Fmi3ModelExchange);
        byte(function);
        byte(targetByte(model, slot));
        byte(flags);
        real(time);
        return *this;
    }
    Sequence& inapplicable3(std::uint8_t function, int model, int slot) {
        operation(Operation::Fmi3Inapplicable);
        byte(function);
        byte(targetByte(model, slot));
        return *this;
    }

  private:
    void name(const InstantiateOptions& o) {
        byte(o.name);
        if (o.name == kNameFromInput) {
            byte(static_cast<std::uint8_t>(o.inputName.size()));
            for (const char ch : o.inputName) {
                byte(static_cast<std::uint8_t>(ch));
            }
        }
    }
    void deSerializeOpening(int model, int slot, std::uint8_t choice, std::uint8_t flags,
                            std::uint8_t allocation, Operation o) {
        operation(o);
        byte(targetByte(model, slot));
        byte(choice);
        byte(flags);
        byte(allocation);
    }
    void operation(Operation o) {
        byte(static_cast<std::uint8_t>(o));
    }
    void byte(std::uint8_t b) {
        bytes_.push_back(b);
    }
    void u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            byte(static_cast<std::uint8_t>(v >> (8 * i)));
        }
    }
    void real(double v) {
        std::size_t count = 0;
        const double* table = realTable(count);
        for (std::size_t i = 0; i < count; ++i) {
            if (bitsOf(table[i]) == bitsOf(v)) {
                byte(static_cast<std::uint8_t>(i));
                return;
            }
        }
        byte(0xff);
        const std::uint64_t bits = bitsOf(v);
        u32(static_cast<std::uint32_t>(bits));
        u32(static_cast<std::uint32_t>(bits >> 32));
    }
    void reference(std::uint32_t vr) {
        if (vr < smallReferenceModulus()) {
            byte(static_cast<std::uint8_t>(vr));
            return;
        }
        for (std::size_t i = 0; i < std::size(kValueReferences); ++i) {
            if (kValueReferences[i] == vr) {
                byte(static_cast<std::uint8_t>(kSmallReferenceEnd + i));
                return;
            }
        }
        byte(0xff);
        u32(vr);
    }

    std::vector<std::uint8_t> bytes_;
};

// A whole co-simulation of one model: parameters, steps, reset, the end.
Sequence wholeLife(int model) {
    const std::vector<std::uint32_t> inputs = inputsOf(model);
    const std::vector<double> inputValues = valuesFor(inputs.size(), {0.1, 0.25, 0.5, -0.1});
    const std::vector<double> ones = valuesFor(inputs.size(), {1.0});
    Sequence s;
    const bool terminates = mayRequestTermination(model);
    s.instantiate(model, 0);
    if (!terminates) {
        s.setReal(model, 0, inputs, inputValues);
    }
    s.initialize(model, 0).doStep(model, 0, 0.0, 0.001).getAll(model, 0);
    s.setDebugLogging(model, 0, 0).doStep(model, 0, 0.001, 0.001).getAll(model, 0);
    s.simple(Operation::Reset, model, 0).getAll(model, 0).initialize(model, 0);
    if (terminates) {
        // The request to end the simulation, answered part way through the step.
        s.setReal(model, 0, inputs, ones).doStep(model, 0, -1.5, 1.0).doStep(model, 0, 0.0, 1.0);
    }
    s.simple(Operation::Terminate, model, 0).getAll(model, 0).simple(Operation::Free, model, 0);
    return s;
}

// Every call with a component in every state, on the model with the most reals.
Sequence everyCallEveryState() {
    Sequence s;
    const auto everything = [&s](int slot) {
        s.setDebugLogging(kWidest, slot, 1)
            .access(Operation::SetReal, kWidest, slot, {})
            .access(Operation::SetInteger, kWidest, slot, {})
            .access(Operation::GetReal, kWidest, slot, {})
            .access(Operation::GetString, kWidest, slot, {})
            .doStep(kWidest, slot, 0.0, 0.0)
            .simple(Operation::CancelStep, kWidest, slot)
            .status(Operation::GetStatus, kWidest, slot, 0)
            .derivatives(Operation::SetRealInputDerivatives, kWidest, slot, 1)
            .derivatives(Operation::GetRealOutputDerivatives, kWidest, slot, 3);
    };
    for (int slot = 0; slot < 3; ++slot) {
        s.instantiate(kWidest, slot);
    }
    everything(0);
    s.initialize(kWidest, 1);
    everything(1);
    s.initialize(kWidest, 2).simple(Operation::Terminate, kWidest, 2);
    everything(2);
    // The three ends of a life, called in the wrong state.
    s.simple(Operation::Free, kWidest, 0)
        .simple(Operation::Reset, kWidest, 1)
        .simple(Operation::Terminate, kWidest, 1);
    // A null component for good measure.
    s.simple(Operation::Terminate, kWidest, kNullSlot)
        .doStep(kWidest, kNullSlot, 0.0, 1.0)
        .access(Operation::GetReal, kWidest, kNullSlot, {0});
    return s;
}

// Null arrays, references at and beyond the end, the other variable types.
Sequence valueAccess() {
    Sequence s;
    for (int slot = 0; slot < 3; ++slot) {
        s.instantiate(kPlain, slot);
    }
    s.access(Operation::SetReal, kPlain, 0, {}, kNullVr | kNullValue)
        .access(Operation::GetReal, kPlain, 0, {4, 0, 4})
        .setReal(kPlain, 0, {3, 3}, {1.0, 2.0})
        .setReal(kPlain, 0, {1, 5, 2}, {0.5, 0.5, 0.5})
        .access(Operation::GetReal, kPlain, 1, {0, 0xffffffffU})
        .access(Operation::SetInteger, kPlain, 2, {0, 1});
    s.instantiate(kPlain, 0).instantiate(kPlain, 1).instantiate(kPlain, 2);
    s.access(Operation::GetString, kPlain, 0, {0}, kNullValue)
        .access(Operation::GetBoolean, kPlain, 1, {7}, kNullVr)
        .access(Operation::SetBoolean, kPlain, 2, {0x80000000U});
    s.instantiate(kPlain, 0).access(Operation::SetString, kPlain, 0, {3});
    return s;
}

// Refused instantiations and every allocation fault.
Sequence instantiationFaults() {
    Sequence s;
    for (const int callbacks : {kCallbacksTampered | kNoLogger, kCallbacksTampered | kNoAllocate,
                                kCallbacksTampered | kNoFree, int{kNoStepFinished}}) {
        InstantiateOptions o;
        o.callbacks = static_cast<std::uint8_t>(callbacks);
        s.instantiate(kFlushing, 0, o);
    }
    for (const std::uint8_t name : {kNameEmpty, kNameNull}) {
        InstantiateOptions o;
        o.name = name;
        s.instantiate(kFlushing, 1, o);
    }
    for (const std::uint8_t guid : {kGuidUpperCase, kGuidNull, kGuidOtherModel}) {
        InstantiateOptions o;
        o.guid = guid;
        s.instantiate(kFlushing, 1, o);
    }
    InstantiateOptions named;
    named.name = kNameFromInput;
    named.inputName = "front left %s %d";
    s.instantiate(kFlushing, 2, named).setReal(kFlushing, 2, {0}, {1.0});
    for (std::uint8_t k = 1; k <= 15; ++k) {
        InstantiateOptions o;
        o.allocation = kAllocationFaults | k;
        s.instantiate(kWidest, k % 3, o);
    }
    return s;
}

// Steps that land on, just before and just after the armed event time, and
// steps of every special size.
Sequence steppingEdges(int model) {
    Sequence s;
    s.instantiate(model, 0).setReal(model, 0, {1, 4}, {-1.0, -1.0}).initialize(model, 0);
    const double nan = realFromBits(0x7ff8000000000000ULL);
    const double inf = realFromBits(0x7ff0000000000000ULL);
    const double points[][2] = {{-1.5, 5.0}, {-7.0, 5.0},       {-6.0, 5.0}, {-2.0, 1.0},
                                {-2.6, 1.6}, {0.0, nan},        {nan, 1.0},  {0.0, -0.0},
                                {0.0, inf},  {0.0, -1.0},       {-inf, inf}, {0.0, 1.0e-300},
                                {0.0, 0.1},  {1.0e308, 1.0e308}};
    for (const auto& point : points) {
        s.doStep(model, 0, point[0], point[1], 7).getAll(model, 0);
    }
    s.setDebugLogging(model, 0, 0).doStep(model, 0, -2.6, 1.6, 0);
    return s;
}

Sequence statusAndDerivatives() {
    Sequence s;
    s.instantiate(kPlain, 0);
    for (const Operation o :
         {Operation::GetStatus, Operation::GetRealStatus, Operation::GetIntegerStatus,
          Operation::GetBooleanStatus, Operation::GetStringStatus}) {
        for (const int kind : {0, 1, 2, 3, -1, 0x7fffffff}) {
            s.status(o, kPlain, 0, kind, kind == 1);
        }
    }
    s.initialize(kPlain, 0)
        .derivatives(Operation::SetRealInputDerivatives, kPlain, 0, 0, kNullVr | kNullValue)
        .derivatives(Operation::SetRealInputDerivatives, kPlain, 0, 0xf0)
        .derivatives(Operation::GetRealOutputDerivatives, kPlain, 0, 3)
        .derivatives(Operation::GetRealOutputDerivatives, kPlain, 0, 0, kNullValue)
        .derivatives(Operation::GetRealOutputDerivatives, kPlain, 0, 2, kNullValue);
    s.version(Operation::GetVersion, kPlain).version(Operation::GetTypesPlatform, kFlushing);
    return s;
}

// Several instances of every model side by side, each stepped in turn.
Sequence severalInstances() {
    Sequence s;
    for (int model = 0; model < kModelCount; ++model) {
        for (int slot = 0; slot < 3; ++slot) {
            InstantiateOptions o;
            o.loggingOn = static_cast<std::uint8_t>(slot == 1 ? 0x80 : 0);
            s.instantiate(model, slot, o).initialize(model, slot);
        }
    }
    for (int round = 0; round < 3; ++round) {
        for (int model = 0; model < kModelCount; ++model) {
            for (int slot = 0; slot < 3; ++slot) {
                s.setReal(model, slot, {1}, {0.125 * (round + slot)})
                    .doStep(model, slot, round * 0.5, 0.5)
                    .getAll(model, slot);
            }
        }
    }
    return s;
}

// Variables of the other types, which only a test model has.
Sequence otherTypes() {
    Sequence s;
    s.instantiate(kTerminating, 0)
        .access(Operation::SetInteger, kTerminating, 0, {0, 0})
        .access(Operation::SetBoolean, kTerminating, 0, {0})
        .access(Operation::SetString, kTerminating, 0, {0})
        .access(Operation::GetInteger, kTerminating, 0, {0})
        .access(Operation::GetBoolean, kTerminating, 0, {0, 0})
        .access(Operation::GetString, kTerminating, 0, {0})
        .initialize(kTerminating, 0)
        .simple(Operation::Terminate, kTerminating, 0)
        .access(Operation::GetString, kTerminating, 0, {0, 1});
    return s;
}

// A logger that calls back into the instance in the middle of a call: while
// a step traces its events, while the elements of a value access are traced,
// and while a refusal is logged.
Sequence loggerCallsBack() {
    Sequence s;
    s.instantiate(kWidest, 0).initialize(kWidest, 0).setReal(kWidest, 0, {2}, {0.5});
    s.armReentry(kWidest, 0, kReentrySetReal, 0, 3, 0.25).doStep(kWidest, 0, 0.0, 1.0);
    s.armReentry(kWidest, 0, kReentrySetDebugLogging, 0).doStep(kWidest, 0, 1.0, 1.0);
    s.setDebugLogging(kWidest, 0, 1)
        .armReentry(kWidest, 0, kReentryGetReal, 0, 6)
        .setReal(kWidest, 0, {6, 6}, {1.0, 2.0});
    s.armReentry(kWidest, 0, kReentrySetReal, 0, 4, 1.0).setReal(kWidest, 0, {4, 12}, {0.5, 0.5});
    s.instantiate(kTerminating, 1, {})
        .initialize(kTerminating, 1)
        .setReal(kTerminating, 1, {0}, {1.0});
    s.armReentry(kTerminating, 1, kReentrySetReal, 0, 0, 0.0).doStep(kTerminating, 1, 0.0, 1.0);
    s.instantiate(kPlain, 2).armReentry(kPlain, 2, kReentrySetDebugLogging, 0);
    s.simple(Operation::Reset, kPlain, 2);
    return s;
}

// ------------------------------------------------------------ FMI 2.0

// The machine states by their byte in the master's written FMU states.
enum MachineStateByte : std::uint8_t {
    kStateInstantiated,
    kStateInitializationMode,
    kStateStepComplete,
    kStateTerminated,
    kStateError,
};

// A whole co-simulation on a 2.0 library: parameters, steps, FMU states
// taken, restored, serialized and read back, derivatives, the status
// queries, reset and the end.
Sequence wholeLife2(int model) {
    constexpr Operation kGet = Operation::Fmi2GetReal;
    Sequence s;
    const bool terminates = mayRequestTermination(model);
    const std::vector<std::uint32_t> inputs = inputsOf(model);
    const std::vector<std::uint32_t> operands = operandsOf(model);
    s.instantiate2(model, 0);
    s.stepComplete2(model, 0, terminates ? std::vector<std::uint32_t>{} : inputs,
                    valuesFor(inputs.size(), {0.1, 0.25, 0.5, -0.1}));
    s.directionalDerivative(model, 0, outputsOf(model), operands,
                            valuesFor(operands.size(), {1.0, 0.5, -1.0}));
    s.doStep(model, 0, 0.0, 0.001, 1, Operation::Fmi2DoStep).getAll(model, 0, kGet);
    s.fmuState(Operation::Fmi2GetFMUstate, model, 0, 0)
        .doStep(model, 0, 0.001, 0.001, 0, Operation::Fmi2DoStep)
        .fmuState(Operation::Fmi2SetFMUstate, model, 0, 1)
        .getAll(model, 0, kGet)
        .fmuState(Operation::Fmi2SerializedFMUstateSize, model, 0, 1)
        .fmuState(Operation::Fmi2SerializeFMUstate, model, 0, 1)
        .deSerializeSerialized(model, 0, 0)
        .fmuState(Operation::Fmi2FreeFMUstate, model, 0, 2);
    for (const Operation o :
         {Operation::Fmi2GetStatus, Operation::Fmi2GetRealStatus, Operation::Fmi2GetIntegerStatus,
          Operation::Fmi2GetBooleanStatus, Operation::Fmi2GetStringStatus}) {
        for (const int kind : {0, 2, 3}) {
            s.status(o, model, 0, kind);
        }
    }
    if (terminates) {
        const std::vector<double> ones = valuesFor(inputs.size(), {1.0});
        s.setReal(model, 0, inputs, ones, 0, Operation::Fmi2SetReal)
            .doStep(model, 0, 0.0, 1.0, 1, Operation::Fmi2DoStep)
            .simple(Operation::Fmi2Reset, model, 0)
            .stepComplete2(model, 0, inputs, ones);
    }
    s.simple(Operation::Fmi2Terminate, model, 0)
        .getAll(model, 0, kGet)
        .simple(Operation::Fmi2Reset, model, 0)
        .stepComplete2(model, 0)
        .simple(Operation::Fmi2FreeInstance, model, 0);
    return s;
}

// Every 2.0 call in each state an instance can be in, on the model that
// computes under flush-to-zero.
Sequence everyCallEveryState2() {
    Sequence s;
    const auto everything = [&s](int slot) {
        s.setDebugLogging2(kFlushing, slot, 1, {})
            .setupExperiment2(kFlushing, slot, 0.0)
            .access(Operation::Fmi2SetReal, kFlushing, slot, {})
            .access(Operation::Fmi2GetReal, kFlushing, slot, {})
            .access(Operation::Fmi2SetBoolean, kFlushing, slot, {0})
            .access(Operation::Fmi2GetString, kFlushing, slot, {})
            .directionalDerivative(kFlushing, slot, {}, {}, {})
            .derivatives(Operation::Fmi2SetRealInputDerivatives, kFlushing, slot, 0)
            .derivatives(Operation::Fmi2GetRealOutputDerivatives, kFlushing, slot, 0)
            .status(Operation::Fmi2GetStatus, kFlushing, slot, 0)
            .doStep(kFlushing, slot, 0.0, 0.01, 1, Operation::Fmi2DoStep)
            .fmuState(Operation::Fmi2GetFMUstate, kFlushing, slot, 0)
            .fmuState(Operation::Fmi2SetFMUstate, kFlushing, slot, 1)
            .simple(Operation::Fmi2CancelStep, kFlushing, slot);
    };
    // Instantiated, initialization mode, step complete, terminated; the
    // cancel at the end of each round leaves Error, which the next round
    // finds.
    for (int slot = 0; slot < 3; ++slot) {
        s.instantiate2(kFlushing, slot);
    }
    everything(0);
    everything(0);
    s.simple(Operation::Fmi2EnterInitializationMode, kFlushing, 1);
    everything(1);
    s.stepComplete2(kFlushing, 2);
    everything(2);
    s.simple(Operation::Fmi2Reset, kFlushing, 2).stepComplete2(kFlushing, 2);
    s.simple(Operation::Fmi2Terminate, kFlushing, 2);
    everything(2);
    s.simple(Operation::Fmi2Terminate, kFlushing, kNullSlot)
        .simple(Operation::Fmi2FreeInstance, kFlushing, kNullSlot)
        .version(Operation::Fmi2GetVersion, kFlushing)
        .version(Operation::Fmi2GetTypesPlatform, kWidest);
    return s;
}

// Refused instantiations, allocation faults and the log categories.
Sequence instantiationFaults2() {
    Sequence s;
    for (const int callbacks :
         {kCallbacksTampered | kNullCallbacks, kCallbacksTampered | kNoLogger,
          kCallbacksTampered | kNoAllocate, kCallbacksTampered | kNoFree, int{kNoStepFinished}}) {
        InstantiateOptions o;
        o.callbacks = static_cast<std::uint8_t>(callbacks);
        s.instantiate2(kWidest, 0, o);
    }
    for (const std::uint8_t fmuType : {kRawFmuType, std::uint8_t{kRawFmuType + 2}}) {
        InstantiateOptions o;
        o.fmuType = fmuType;
        s.instantiate2(kWidest, 1, o);
    }
    for (const std::uint8_t name : {kNameEmpty, kNameNull}) {
        InstantiateOptions o;
        o.name = name;
        s.instantiate2(kWidest, 1, o);
    }
    for (const std::uint8_t guid : {kGuidUpperCase, kGuidNull, kGuidOtherModel}) {
        InstantiateOptions o;
        o.guid = guid;
        s.instantiate2(kWidest, 1, o);
    }
    InstantiateOptions failing;
    failing.allocation = kAllocationFaults | 1;
    s.instantiate2(kWidest, 2, failing);
    InstantiateOptions quiet;
    quiet.loggingOn = 0;
    quiet.extras = 3;
    s.instantiate2(kPlain, 0, quiet)
        .setDebugLogging2(kPlain, 0, 1, {1})
        .setupExperiment2(kPlain, 0, 0.5)
        .setDebugLogging2(kPlain, 0, 0, {0, 1})
        .setDebugLogging2(kPlain, 0, 1, {3})
        .instantiate2(kPlain, 1)
        .setDebugLogging2(kPlain, 1, 1, {1, 5})
        .instantiate2(kPlain, 2)
        .setDebugLogging2(kPlain, 2, 1, {1}, true);
    return s;
}

// Model Exchange on a 2.0 library: every mode, the counts of no states,
// outputs read after sets, FMU states across interfaces, and the calls of
// each interface on an instance of the other.
Sequence modelExchange2(int model) {
    InstantiateOptions exchange;
    exchange.fmuType = kRawFmuType;
    Sequence s;
    s.instantiate2(model, 0, exchange)
        .modelExchange2(model, 0, kGetNominalsOfContinuousStates, {0});
    s.stepComplete2(model, 0, {0, 1}, {1.0, 0.5}).getAll(model, 0, Operation::Fmi2GetReal);
    s.modelExchange2(model, 0, kNewDiscreteStates, {0})
        .modelExchange2(model, 0, kEnterContinuousTimeMode)
        .modelExchange2(model, 0, kSetTime, {0})
        .setReal(model, 0, {1}, {-0.25}, 0, Operation::Fmi2SetReal)
        .getAll(model, 0, Operation::Fmi2GetReal)
        .modelExchange2(model, 0, kCompletedIntegratorStep, {1, 0});
    for (const auto function :
         {kSetContinuousStates, kGetDerivatives, kGetEventIndicators, kGetContinuousStates}) {
        s.modelExchange2(model, 0, function, {0});
    }
    s.fmuState(Operation::Fmi2GetFMUstate, model, 0, 0)
        .fmuState(Operation::Fmi2SerializeFMUstate, model, 0, 1)
        .modelExchange2(model, 0, kEnterEventMode)
        .instantiate2(model, 1)
        .stepComplete2(model, 1)
        .deSerializeSerialized(model, 1, 0)
        .modelExchange2(model, 1, kSetTime, {0})
        .doStep(model, 0, 0.0, 0.1, 1, Operation::Fmi2DoStep)
        .deSerializeSerialized(model, 0, 0)
        .fmuState(Operation::Fmi2SetFMUstate, model, 0, 1)
        .modelExchange2(model, 0, kGetDerivatives, {1})
        .simple(Operation::Fmi2Reset, model, 0);
    return s;
}

// FMU states of every kind passed everywhere, and bytes damaged every way.
Sequence fmuStates2() {
    Sequence s;
    s.instantiate2(kWidest, 0).stepComplete2(kWidest, 0, {2, 3}, {0.5, -0.5});
    s.instantiate2(kWidest, 1).fmuState(Operation::Fmi2GetFMUstate, kWidest, 1, 0);
    s.fmuState(Operation::Fmi2GetFMUstate, kWidest, 0, 0)
        .fmuState(Operation::Fmi2GetFMUstate, kWidest, 0, 0, 0, kAllocationFaults | 1)
        .fmuState(Operation::Fmi2GetFMUstate, kWidest, 0, 1, kNullPointer);
    s.instantiate2(kWidest, 0).stepComplete2(kWidest, 0);
    s.fmuState(Operation::Fmi2GetFMUstate, kWidest, 0, 0)
        .fmuState(Operation::Fmi2GetFMUstate, kWidest, 0, 1);
    for (const int choice : {5, 6, 7}) {
        s.fmuState(Operation::Fmi2SetFMUstate, kWidest, 0, static_cast<std::uint8_t>(choice))
            .instantiate2(kWidest, 0);
        s.fmuState(Operation::Fmi2GetFMUstate, kWidest, 0, 0);
    }
    s.fmuState(Operation::Fmi2SerializedFMUstateSize, kWidest, 0, 1, kNullPointer)
        .instantiate2(kWidest, 0)
        .fmuState(Operation::Fmi2GetFMUstate, kWidest, 0, 0);
    for (const int sizeKind : {1, 2, 3}) {
        s.fmuState(Operation::Fmi2SerializeFMUstate, kWidest, 0, 1,
                   static_cast<std::uint8_t>(sizeKind << 1))
            .fmuState(Operation::Fmi2GetFMUstate, kWidest, 0, 0);
    }
    s.fmuState(Operation::Fmi2SerializeFMUstate, kWidest, 0, 1, kNullPointer)
        .instantiate2(kWidest, 0);
    s.deSerializeWritten(kWidest, 0, 0, kStateStepComplete, 2.5)
        .fmuState(Operation::Fmi2SetFMUstate, kWidest, 0, 1)
        .deSerializeWritten(kWidest, 0, 1, kStateError, -1.0)
        .fmuState(Operation::Fmi2SetFMUstate, kWidest, 0, 1)
        .deSerializeWritten(kWidest, 0, 0, kStateInstantiated, 0.0, kDamageCount, 0, 0,
                            kAllocationFaults | 1);
    for (std::uint8_t damage = 0; damage < kDamageCount; ++damage) {
        for (const int at : {0, 64, 255}) {
            s.instantiate2(kWidest, 0)
                .deSerializeWritten(kWidest, 0, 0, kStateStepComplete, 1.0, damage,
                                    static_cast<std::uint8_t>(at));
        }
    }
    s.instantiate2(kWidest, 0)
        .deSerializeWritten(kWidest, 0, 0, kRawMachineState, 0.0)
        .instantiate2(kWidest, 0)
        .deSerializeRaw(kWidest, 0, "Chassis force slave FMU state")
        .instantiate2(kWidest, 0)
        .deSerializeWritten(kWidest, 0, 0, kStateTerminated, 0.0, kDamageCount, 0,
                            kNullPointer | kNullBytes)
        .instantiate2(kPlain, 0)
        .fmuState(Operation::Fmi2GetFMUstate, kPlain, 0, 0)
        .fmuState(Operation::Fmi2SerializeFMUstate, kPlain, 0, 1)
        .deSerializeSerialized(kWidest, 1, 0)
        .instantiate2(kWidest, 1)
        .fmuState(Operation::Fmi2FreeFMUstate, kWidest, 1, 0)
        .fmuState(Operation::Fmi2FreeFMUstate, kWidest, 1, 6)
        .fmuState(Operation::Fmi2FreeFMUstate, kPlain, 0, 1, kNullPointer);
    return s;
}

// Steps of every special size and time, on the model that computes
// under flush-to-zero in the caller's default environment.
Sequence steppingEdges2() {
    Sequence s;
    const double nan = realFromBits(0x7ff8000000000000ULL);
    const double inf = realFromBits(0x7ff0000000000000ULL);
    const double subnormal = realFromBits(0x000fffffffffffffULL);
    const double points[][2] = {{0.0, subnormal}, {subnormal, 1.0e-300},
                                {0.0, 0.0},       {0.0, -0.0},
                                {0.0, -1.0},      {nan, 1.0},
                                {0.0, nan},       {-inf, 1.0},
                                {0.0, inf},       {1.0e308, 1.0e308},
                                {-2.6, 1.6}};
    int slot = 0;
    s.instantiate2(kFlushing, slot).stepComplete2(kFlushing, slot, {1, 4}, {subnormal, -0.06});
    for (const auto& point : points) {
        s.doStep(kFlushing, slot, point[0], point[1], 0, Operation::Fmi2DoStep)
            .getAll(kFlushing, slot, Operation::Fmi2GetReal)
            .status(Operation::Fmi2GetRealStatus, kFlushing, slot, 2)
            .directionalDerivative(kFlushing, slot, {5}, {1, 4}, {subnormal, 1.0});
        slot = (slot + 1) % 3;
        s.instantiate2(kFlushing, slot).stepComplete2(kFlushing, slot, {1, 4}, {subnormal, -0.06});
    }
    return s;
}

// Every model stepped through subnormal displacements in every floating-point
// environment a master's thread may have.
Sequence callerEnvironments2() {
    Sequence s;
    const double subnormal = realFromBits(0x0008000000000001ULL);
    for (std::uint8_t environment = 0; environment < std::size(kCallerEnvironments);
         ++environment) {
        s.callerEnvironment(environment);
        for (int model = 0; model < kModelCount; ++model) {
            s.instantiate2(model, 0).stepComplete2(model, 0, {0, 1, 2}, {subnormal, 1.0e-300, 0.5});
            s.doStep(model, 0, 0.0, subnormal, 0, Operation::Fmi2DoStep)
                .doStep(model, 0, 0.1, 0.3, 0, Operation::Fmi2DoStep)
                .getAll(model, 0, Operation::Fmi2GetReal)
                .directionalDerivative(model, 0, {5}, {0, 1, 2}, {subnormal, 1.0, -1.0});
        }
    }
    return s;
}

// The logger calls back into a 2.0 instance in the middle of a call.
Sequence loggerCallsBack2() {
    Sequence s;
    s.instantiate2(kPlain, 0).stepComplete2(kPlain, 0);
    s.armReentry(kPlain, 0, kReentrySetReal, 0, 1, 0.5, 2)
        .doStep(kPlain, 0, 0.0, 1.0, 1, Operation::Fmi2DoStep);
    s.armReentry(kPlain, 0, kReentryGetReal, 0, 3, 0.0, 2)
        .setReal(kPlain, 0, {1, 3}, {0.25, 1.0}, 0, Operation::Fmi2SetReal);
    s.instantiate2(kPlain, 1).armReentry(kPlain, 1, kReentrySetDebugLogging, 0, 0, 0.0, 2);
    s.simple(Operation::Fmi2Terminate, kPlain, 1);
    return s;
}

// A whole co-simulation of one model in FMI 3.0: the dependencies before
// and after initialization, both derivatives, steps, FMU states through
// their bytes, the end.
Sequence wholeLife3(int model) {
    constexpr Operation kDirectional = Operation::Fmi3GetDirectionalDerivative;
    constexpr Operation kAdjoint = Operation::Fmi3GetAdjointDerivative;
    const bool terminates = mayRequestTermination(model);
    const std::vector<std::uint32_t> inputs = inputsOf(model);
    const std::vector<std::uint32_t> operands = operandsOf(model);
    const std::vector<std::uint32_t> outputs = outputsOf(model);
    Sequence s;
    s.instantiate3(model, 0);
    for (const std::uint32_t output : outputs) {
        s.numberOfDependencies3(model, 0, output).dependencies3(model, 0, output);
    }
    s.stepMode3(model, 0, terminates ? std::vector<std::uint32_t>{} : inputs,
                valuesFor(inputs.size(), {0.1, 0.25, 0.5, -0.1}))
        .derivative3(kDirectional, model, 0, outputs, operands,
                     valuesFor(operands.size(), {1.0, 0.5, -1.0}))
        .derivative3(kAdjoint, model, 0, outputs, operands,
                     valuesFor(outputs.size(), {1.0, -2.0, 0.5}));
    for (const std::uint32_t output : outputs) {
        s.numberOfDependencies3(model, 0, output).dependencies3(model, 0, output);
    }
    s.step3(model, 0, 0.0, 0.001).getAll3(model, 0);
    s.fmuState3(Operation::Fmi3GetFMUState, model, 0, 0)
        .step3(model, 0, 0.001, 0.001)
        .fmuState3(Operation::Fmi3SetFMUState, model, 0, 1)
        .getAll3(model, 0)
        .fmuState3(Operation::Fmi3SerializedFMUStateSize, model, 0, 1)
        .fmuState3(Operation::Fmi3SerializeFMUState, model, 0, 1)
        .deSerializeSerialized(model, 0, 0, Operation::Fmi3DeserializeFMUState)
        .deSerializeSerialized(model, 0, 2, Operation::Fmi3DeserializeFMUState)
        .fmuState3(Operation::Fmi3FreeFMUState, model, 0, 2)
        .outputDerivatives3(model, 0, 0)
        .simple(Operation::Fmi3Terminate, model, 0)
        .getAll3(model, 0)
        .outputDerivatives3(model, 0, 1)
        .simple(Operation::Fmi3Reset, model, 0)
        .simple(Operation::Fmi3FreeInstance, model, 0);
    return s;
}

// FMU states of 3.0 taken, refused, serialized and read back, from the
// master's bytes, damaged ones, a 2.0 library's, and with calloc failing.
Sequence fmuStates3() {
    constexpr Operation kDeserialize = Operation::Fmi3DeserializeFMUState;
    Sequence s;
    s.instantiate3(kWidest, 0).stepMode3(kWidest, 0, {2, 3}, {0.5, -0.5});
    s.instantiate3(kWidest, 1).fmuState3(Operation::Fmi3GetFMUState, kWidest, 1, 0);
    s.fmuState3(Operation::Fmi3GetFMUState, kWidest, 0, 0)
        .fmuState3(Operation::Fmi3GetFMUState, kWidest, 0, 0, 0, 1)
        .instantiate3(kWidest, 0)
        .fmuState3(Operation::Fmi3GetFMUState, kWidest, 0, 0);
    for (const int choice : {5, 6, 7}) {
        s.fmuState3(Operation::Fmi3SerializedFMUStateSize, kWidest, 0,
                    static_cast<std::uint8_t>(choice))
            .instantiate3(kWidest, 0)
            .fmuState3(Operation::Fmi3GetFMUState, kWidest, 0, 0);
    }
    s.fmuState3(Operation::Fmi3SerializedFMUStateSize, kWidest, 0, 1, kNullPointer)
        .instantiate3(kWidest, 0)
        .fmuState3(Operation::Fmi3GetFMUState, kWidest, 0, 0);
    for (const int sizeKind : {1, 2, 3}) {
        s.fmuState3(Operation::Fmi3SerializeFMUState, kWidest, 0, 1,
                    static_cast<std::uint8_t>(sizeKind << 1))
            .fmuState3(Operation::Fmi3GetFMUState, kWidest, 0, 0);
    }
    s.fmuState3(Operation::Fmi3SerializeFMUState, kWidest, 0, 1, kNullPointer)
        .instantiate3(kWidest, 0);
    s.deSerializeWritten(kWidest, 0, 0, kStateStepComplete, 2.5, kDamageCount, 0, 0, 0,
                         kDeserialize)
        .fmuState3(Operation::Fmi3SetFMUState, kWidest, 0, 1)
        .deSerializeWritten(kWidest, 0, 1, kStateError, -1.0, kDamageCount, 0, 0, 0, kDeserialize)
        .fmuState3(Operation::Fmi3SetFMUState, kWidest, 0, 1)
        .deSerializeWritten(kWidest, 0, 0, kStateInstantiated, 0.0, kDamageCount, 0, 0, 1,
                            kDeserialize);
    for (std::uint8_t damage = 0; damage < kDamageCount; ++damage) {
        for (const int at : {0, 64, 255}) {
            s.instantiate3(kWidest, 0)
                .deSerializeWritten(kWidest, 0, 0, kStateStepComplete, 1.0, damage,
                                    static_cast<std::uint8_t>(at), 0, 0, kDeserialize);
        }
    }
    s.instantiate3(kWidest, 0)
        .deSerializeRaw(kWidest, 0, "Chassis force slave FMU state", kDeserialize)
        .instantiate3(kWidest, 0)
        .deSerializeWritten(kWidest, 0, 0, kStateTerminated, 0.0, kDamageCount, 0,
                            kNullPointer | kNullBytes, 0, kDeserialize);
    // Bytes of the 2.0 library, and 3.0 bytes read by the 2.0 library.
    s.instantiate2(kWidest, 0)
        .fmuState(Operation::Fmi2GetFMUstate, kWidest, 0, 0)
        .fmuState(Operation::Fmi2SerializeFMUstate, kWidest, 0, 1)
        .instantiate3(kWidest, 0)
        .deSerializeSerialized(kWidest, 0, 0, kDeserialize)
        .instantiate3(kWidest, 0)
        .fmuState3(Operation::Fmi3GetFMUState, kWidest, 0, 0)
        .fmuState3(Operation::Fmi3SerializeFMUState, kWidest, 0, 1)
        .deSerializeSerialized(kWidest, 0, 0);
    return s;
}

// The derivative and dependency calls refused: wrong counts, null arrays,
// wrong references, the wrong state, a model without partials.
Sequence derivativeFaults3() {
    constexpr Operation kDirectional = Operation::Fmi3GetDirectionalDerivative;
    constexpr Operation kAdjoint = Operation::Fmi3GetAdjointDerivative;
    Sequence s;
    s.instantiate3(kPlain, 0).derivative3(kDirectional, kPlain, 0, {3}, {0}, {1.0});
    for (const Operation o : {kDirectional, kAdjoint}) {
        for (const int seedCount : {0xF9, 0xFD}) {
            s.instantiate3(kPlain, 0).stepMode3(kPlain, 0).derivative3(
                o, kPlain, 0, {3}, {1, 2}, {1.0, 1.0}, 0, static_cast<std::uint8_t>(seedCount));
        }
        s.instantiate3(kPlain, 0).stepMode3(kPlain, 0).derivative3(o, kPlain, 0, {3}, {1}, {1.0}, 0,
                                                                   0, 0xFD);
        for (const int nulls : {kNullUnknowns, kNullKnowns, kNullSeeds, kNullResults}) {
            s.instantiate3(kPlain, 0).stepMode3(kPlain, 0).derivative3(
                o, kPlain, 0, {3}, {1}, {1.0}, static_cast<std::uint8_t>(kArraysTampered | nulls));
        }
        s.instantiate3(kPlain, 0)
            .stepMode3(kPlain, 0)
            .derivative3(o, kPlain, 0, {1}, {1}, {1.0})
            .instantiate3(kPlain, 0)
            .stepMode3(kPlain, 0)
            .derivative3(o, kPlain, 0, {3}, {4}, {1.0})
            .instantiate3(kPlain, 0)
            .stepMode3(kPlain, 0)
            .derivative3(o, kPlain, 0, {}, {}, {})
            .instantiate3(kTerminating, 0)
            .stepMode3(kTerminating, 0)
            .derivative3(o, kTerminating, 0, {1}, {0}, {1.0});
    }
    s.instantiate3(kFlushing, 0)
        .numberOfDependencies3(kFlushing, 0, 0)
        .instantiate3(kFlushing, 0)
        .numberOfDependencies3(kFlushing, 0, 6)
        .instantiate3(kFlushing, 0)
        .numberOfDependencies3(kFlushing, 0, 7)
        .instantiate3(kFlushing, 0)
        .numberOfDependencies3(kFlushing, 0, 5, kNullPointer)
        .instantiate3(kFlushing, 0)
        .dependencies3(kFlushing, 0, 5, 0xFD)
        .instantiate3(kFlushing, 0)
        .stepMode3(kFlushing, 0)
        .dependencies3(kFlushing, 0, 5, 0xFD);
    for (std::uint8_t bit = 1; bit < 16; bit <<= 1) {
        s.instantiate3(kFlushing, 0)
            .dependencies3(kFlushing, 0, 5, 0, static_cast<std::uint8_t>(kArraysTampered | bit));
    }
    s.instantiate3(kPlain, 0)
        .stepMode3(kPlain, 0)
        .outputDerivatives3(kPlain, 0, 2)
        .instantiate3(kPlain, 0)
        .outputDerivatives3(kPlain, 0, 0);
    return s;
}

// Every function that does not apply, each on a fresh instance.
Sequence inapplicable3() {
    Sequence s;
    for (std::uint8_t function = 0; function < 13; ++function) {
        s.instantiate3(kWidest, 0).inapplicable3(function, kWidest, 0);
        s.instantiateModelExchange3(kWidest, 0).inapplicable3(function, kWidest, 0);
    }
    s.inapplicable3(0, kWidest, kNullSlot);
    return s;
}

// A Model Exchange instance of the model that flushes to zero through its modes, every
// Model Exchange function in them, and the calls of the other interface on
// it and the reverse.
Sequence modelExchange3() {
    Sequence s;
    s.instantiateModelExchange3(kFlushing, 0)
        .stepMode3(kFlushing, 0, {4}, {0.1})
        .getAll3(kFlushing, 0)
        .step3(kFlushing, 0, 0.0, 0.1)
        .instantiateModelExchange3(kFlushing, 0)
        .stepMode3(kFlushing, 0, {4}, {0.1});
    // From event mode on, each allowed where it comes, back into event mode
    // last.
    for (const int function : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0}) {
        s.modelExchange3(static_cast<std::uint8_t>(function), kFlushing, 0)
            .setFloat64(kFlushing, 0, 4, 0.2)
            .getAll3(kFlushing, 0);
    }
    s.modelExchange3(5, kFlushing, 0, 7).instantiate3(kFlushing, 1);
    for (std::uint8_t function = 0; function < 12; ++function) {
        s.modelExchange3(function, kFlushing, 1);
    }
    s.fmuState3(Operation::Fmi3GetFMUState, kFlushing, 0, 0)
        .simple(Operation::Fmi3Terminate, kFlushing, 0)
        .instantiateModelExchange3(kFlushing, 2)
        .stepMode3(kFlushing, 2)
        .modelExchange3(2, kFlushing, 2)
        .simple(Operation::Fmi3Terminate, kFlushing, 2);
    return s;
}

// Parameters and inputs that are all NaNs of their own, so that two NaNs meet
// in a product, in every version and interface: which one comes out is the
// compiler's choice.
Sequence nansMeet() {
    const double n0 = realFromBits(0x7ff8000000000001ULL);
    const double n1 = realFromBits(0xfff8000000000002ULL);
    const double n2 = realFromBits(0x7ff4000000000003ULL);
    InstantiateOptions exchange;
    exchange.fmuType = kRawFmuType;
    Sequence s;
    s.instantiate(kPlain, 0).setReal(kPlain, 0, {0, 1, 2}, {n0, n1, n2});
    s.initialize(kPlain, 0).doStep(kPlain, 0, 0.0, 0.1).getAll(kPlain, 0);
    s.instantiate2(kWidest, 0, exchange)
        .stepComplete2(kWidest, 0, {1, 4, 5}, {n0, n1, n2})
        .fmuState(Operation::Fmi2GetFMUstate, kWidest, 0, 0)
        .fmuState(Operation::Fmi2SerializeFMUstate, kWidest, 0, 1)
        .getAll(kWidest, 0, Operation::Fmi2GetReal);
    s.instantiate2(kWidest, 1)
        .stepComplete2(kWidest, 1, {1, 4, 5}, {n1, n2, n0})
        .getAll(kWidest, 1, Operation::Fmi2GetReal);
    s.instantiateModelExchange3(kPlain, 0)
        .stepMode3(kPlain, 0, {0, 1, 2}, {n2, n1, n0})
        .getAll3(kPlain, 0);
    s.instantiate3(kPlain, 1).stepMode3(kPlain, 1, {0, 1, 2}, {n1, n0, n2}).getAll3(kPlain, 1);
    return s;
}

bool write(const std::string& directory, const std::string& name, const Sequence& sequence) {
    const std::string path = directory + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(path.c_str());
        return false;
    }
    const auto& bytes = sequence.bytes();
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
        return 2;
    }
    const std::string directory = argv[1];
    bool ok = true;
    for (int model = 0; model < kModelCount; ++model) {
        ok = write(directory, "life-" + std::to_string(model), wholeLife(model)) && ok;
    }
    ok = write(directory, "every-call-every-state", everyCallEveryState()) && ok;
    ok = write(directory, "value-access", valueAccess()) && ok;
    ok = write(directory, "instantiation-faults", instantiationFaults()) && ok;
    ok = write(directory, "stepping-edges-plain", steppingEdges(kPlain)) && ok;
    ok = write(directory, "stepping-edges-flush-to-zero", steppingEdges(kFlushing)) && ok;
    ok = write(directory, "status-and-derivatives", statusAndDerivatives()) && ok;
    ok = write(directory, "several-instances", severalInstances()) && ok;
    ok = write(directory, "other-types", otherTypes()) && ok;
    ok = write(directory, "logger-calls-back", loggerCallsBack()) && ok;
    for (int model = 0; model < kModelCount; ++model) {
        ok = write(directory, "fmi2-life-" + std::to_string(model), wholeLife2(model)) && ok;
    }
    ok = write(directory, "fmi2-every-call-every-state", everyCallEveryState2()) && ok;
    ok = write(directory, "fmi2-instantiation-faults", instantiationFaults2()) && ok;
    ok = write(directory, "fmi2-fmu-states", fmuStates2()) && ok;
    ok = write(directory, "fmi2-model-exchange-plain", modelExchange2(kPlain)) && ok;
    ok = write(directory, "fmi2-model-exchange-flush-to-zero", modelExchange2(kFlushing)) && ok;
    ok = write(directory, "fmi2-stepping-edges-flush-to-zero", steppingEdges2()) && ok;
    ok = write(directory, "fmi2-logger-calls-back", loggerCallsBack2()) && ok;
    ok = write(directory, "fmi2-caller-environments", callerEnvironments2()) && ok;
    for (int model = 0; model < kModelCount; ++model) {
        ok = write(directory, "fmi3-life-" + std::to_string(model), wholeLife3(model)) && ok;
    }
    ok = write(directory, "fmi3-fmu-states", fmuStates3()) && ok;
    ok = write(directory, "fmi3-derivative-faults", derivativeFaults3()) && ok;
    ok = write(directory, "fmi3-inapplicable", inapplicable3()) && ok;
    ok = write(directory, "fmi3-model-exchange", modelExchange3()) && ok;
    ok = write(directory, "nans-meet", nansMeet()) && ok;
    return ok ? 0 : 1;
}
