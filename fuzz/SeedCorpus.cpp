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

namespace {

enum Model { kHalvorn, kPendrake, kCorvessa, kTerminus };
constexpr int kRealCounts[kModelCount] = {5, 6, 10, 2};

struct InstantiateOptions {
    std::uint8_t name = 0;  // NameKind
    std::string inputName;
    std::uint8_t guid = 0;  // GuidKind
    std::uint8_t callbacks = 0;
    std::uint8_t loggingOn = 1;
    std::uint8_t allocation = 0;
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
        byte(o.name);
        if (o.name == kNameFromInput) {
            byte(static_cast<std::uint8_t>(o.inputName.size()));
            for (const char ch : o.inputName) {
                byte(static_cast<std::uint8_t>(ch));
            }
        }
        byte(o.guid);
        byte(o.callbacks);
        byte(o.loggingOn);
        byte(o.allocation);
        byte(0);  // extras
        real(0.0);
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
    Sequence& setReal(int model, int slot, std::initializer_list<std::uint32_t> vr,
                      std::initializer_list<double> values, std::uint8_t nulls = 0) {
        operation(Operation::SetReal);
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
    Sequence& access(Operation o, int model, int slot, std::initializer_list<std::uint32_t> vr,
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
                if (o == Operation::SetInteger) {
                    u32(1);
                } else if (o == Operation::SetBoolean || o == Operation::SetString) {
                    byte(1);
                }
            }
        }
        return *this;
    }
    // The logger calls back into the instance at its next message.
    Sequence& armReentry(int model, int slot, ReentryAction action, std::uint8_t flag = 0,
                         std::uint32_t vr = 0, double value = 0.0) {
        operation(Operation::ArmReentry);
        byte(targetByte(model, slot));
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
    Sequence& getAll(int model, int slot) {
        operation(Operation::GetReal);
        byte(targetByte(model, slot));
        byte(static_cast<std::uint8_t>(kRealCounts[model]));
        byte(0);
        for (int r = 0; r < kRealCounts[model]; ++r) {
            reference(static_cast<std::uint32_t>(r));
        }
        return *this;
    }
    Sequence& doStep(int model, int slot, double t, double h, std::uint8_t newStep = 1) {
        operation(Operation::DoStep);
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
        byte(static_cast<std::uint8_t>(model));
        return *this;
    }

  private:
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
        if (vr < kSmallReferenceModulus) {
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
    Sequence s;
    s.instantiate(model, 0);
    switch (model) {
        case kHalvorn:
            s.setReal(model, 0, {1, 2}, {0.25, 0.5});
            break;
        case kPendrake:
            s.setReal(model, 0, {4}, {0.1});
            break;
        case kCorvessa:
            s.setReal(model, 0, {2, 3, 4, 5}, {0.01, 0.03, 0.1, 0.1});
            break;
        default:
            break;
    }
    s.initialize(model, 0).doStep(model, 0, 0.0, 0.001).getAll(model, 0);
    s.setDebugLogging(model, 0, 0).doStep(model, 0, 0.001, 0.001).getAll(model, 0);
    s.simple(Operation::Reset, model, 0).getAll(model, 0).initialize(model, 0);
    if (model == kTerminus) {
        // The request to end the simulation, answered part way through the step.
        s.setReal(model, 0, {0}, {1.0}).doStep(model, 0, -1.5, 1.0).doStep(model, 0, 0.0, 1.0);
    }
    s.simple(Operation::Terminate, model, 0).getAll(model, 0).simple(Operation::Free, model, 0);
    return s;
}

// Every call with a component in every state, on the dual anti-roll bar.
Sequence everyCallEveryState() {
    Sequence s;
    const auto everything = [&s](int slot) {
        s.setDebugLogging(kCorvessa, slot, 1)
            .access(Operation::SetReal, kCorvessa, slot, {})
            .access(Operation::SetInteger, kCorvessa, slot, {})
            .access(Operation::GetReal, kCorvessa, slot, {})
            .access(Operation::GetString, kCorvessa, slot, {})
            .doStep(kCorvessa, slot, 0.0, 0.0)
            .simple(Operation::CancelStep, kCorvessa, slot)
            .status(Operation::GetStatus, kCorvessa, slot, 0)
            .derivatives(Operation::SetRealInputDerivatives, kCorvessa, slot, 1)
            .derivatives(Operation::GetRealOutputDerivatives, kCorvessa, slot, 3);
    };
    for (int slot = 0; slot < 3; ++slot) {
        s.instantiate(kCorvessa, slot);
    }
    everything(0);
    s.initialize(kCorvessa, 1);
    everything(1);
    s.initialize(kCorvessa, 2).simple(Operation::Terminate, kCorvessa, 2);
    everything(2);
    // The three ends of a life, called in the wrong state.
    s.simple(Operation::Free, kCorvessa, 0)
        .simple(Operation::Reset, kCorvessa, 1)
        .simple(Operation::Terminate, kCorvessa, 1);
    // A null component for good measure.
    s.simple(Operation::Terminate, kCorvessa, kNullSlot)
        .doStep(kCorvessa, kNullSlot, 0.0, 1.0)
        .access(Operation::GetReal, kCorvessa, kNullSlot, {0});
    return s;
}

// Null arrays, references at and beyond the end, the other variable types.
Sequence valueAccess() {
    Sequence s;
    for (int slot = 0; slot < 3; ++slot) {
        s.instantiate(kHalvorn, slot);
    }
    s.access(Operation::SetReal, kHalvorn, 0, {}, kNullVr | kNullValue)
        .access(Operation::GetReal, kHalvorn, 0, {4, 0, 4})
        .setReal(kHalvorn, 0, {3, 3}, {1.0, 2.0})
        .setReal(kHalvorn, 0, {1, 5, 2}, {0.5, 0.5, 0.5})
        .access(Operation::GetReal, kHalvorn, 1, {0, 0xffffffffU})
        .access(Operation::SetInteger, kHalvorn, 2, {0, 1});
    s.instantiate(kHalvorn, 0).instantiate(kHalvorn, 1).instantiate(kHalvorn, 2);
    s.access(Operation::GetString, kHalvorn, 0, {0}, kNullValue)
        .access(Operation::GetBoolean, kHalvorn, 1, {7}, kNullVr)
        .access(Operation::SetBoolean, kHalvorn, 2, {0x80000000U});
    s.instantiate(kHalvorn, 0).access(Operation::SetString, kHalvorn, 0, {3});
    return s;
}

// Refused instantiations and every allocation fault.
Sequence instantiationFaults() {
    Sequence s;
    for (const int callbacks : {kCallbacksTampered | kNoLogger, kCallbacksTampered | kNoAllocate,
                                kCallbacksTampered | kNoFree, int{kNoStepFinished}}) {
        InstantiateOptions o;
        o.callbacks = static_cast<std::uint8_t>(callbacks);
        s.instantiate(kPendrake, 0, o);
    }
    for (const std::uint8_t name : {kNameEmpty, kNameNull}) {
        InstantiateOptions o;
        o.name = name;
        s.instantiate(kPendrake, 1, o);
    }
    for (const std::uint8_t guid : {kGuidUpperCase, kGuidNull, kGuidOtherModel}) {
        InstantiateOptions o;
        o.guid = guid;
        s.instantiate(kPendrake, 1, o);
    }
    InstantiateOptions named;
    named.name = kNameFromInput;
    named.inputName = "front left %s %d";
    s.instantiate(kPendrake, 2, named).setReal(kPendrake, 2, {0}, {1.0});
    for (std::uint8_t k = 1; k <= 15; ++k) {
        InstantiateOptions o;
        o.allocation = kAllocationFaults | k;
        s.instantiate(kCorvessa, k % 3, o);
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
    s.instantiate(kHalvorn, 0);
    for (const Operation o :
         {Operation::GetStatus, Operation::GetRealStatus, Operation::GetIntegerStatus,
          Operation::GetBooleanStatus, Operation::GetStringStatus}) {
        for (const int kind : {0, 1, 2, 3, -1, 0x7fffffff}) {
            s.status(o, kHalvorn, 0, kind, kind == 1);
        }
    }
    s.initialize(kHalvorn, 0)
        .derivatives(Operation::SetRealInputDerivatives, kHalvorn, 0, 0, kNullVr | kNullValue)
        .derivatives(Operation::SetRealInputDerivatives, kHalvorn, 0, 0xf0)
        .derivatives(Operation::GetRealOutputDerivatives, kHalvorn, 0, 3)
        .derivatives(Operation::GetRealOutputDerivatives, kHalvorn, 0, 0, kNullValue)
        .derivatives(Operation::GetRealOutputDerivatives, kHalvorn, 0, 2, kNullValue);
    s.version(Operation::GetVersion, kHalvorn).version(Operation::GetTypesPlatform, kPendrake);
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

// Variables of the other types, which only the test model has.
Sequence otherTypes() {
    Sequence s;
    s.instantiate(kTerminus, 0)
        .access(Operation::SetInteger, kTerminus, 0, {0, 0})
        .access(Operation::SetBoolean, kTerminus, 0, {0})
        .access(Operation::SetString, kTerminus, 0, {0})
        .access(Operation::GetInteger, kTerminus, 0, {0})
        .access(Operation::GetBoolean, kTerminus, 0, {0, 0})
        .access(Operation::GetString, kTerminus, 0, {0})
        .initialize(kTerminus, 0)
        .simple(Operation::Terminate, kTerminus, 0)
        .access(Operation::GetString, kTerminus, 0, {0, 1});
    return s;
}

// A logger that calls back into the instance in the middle of a call: while
// a step traces its events, while the elements of a value access are traced,
// and while a refusal is logged.
Sequence loggerCallsBack() {
    Sequence s;
    s.instantiate(kCorvessa, 0).initialize(kCorvessa, 0).setReal(kCorvessa, 0, {2}, {0.5});
    s.armReentry(kCorvessa, 0, kReentrySetReal, 0, 3, 0.25).doStep(kCorvessa, 0, 0.0, 1.0);
    s.armReentry(kCorvessa, 0, kReentrySetDebugLogging, 0).doStep(kCorvessa, 0, 1.0, 1.0);
    s.setDebugLogging(kCorvessa, 0, 1)
        .armReentry(kCorvessa, 0, kReentryGetReal, 0, 6)
        .setReal(kCorvessa, 0, {6, 6}, {1.0, 2.0});
    s.armReentry(kCorvessa, 0, kReentrySetReal, 0, 4, 1.0)
        .setReal(kCorvessa, 0, {4, 12}, {0.5, 0.5});
    s.instantiate(kTerminus, 1, {}).initialize(kTerminus, 1).setReal(kTerminus, 1, {0}, {1.0});
    s.armReentry(kTerminus, 1, kReentrySetReal, 0, 0, 0.0).doStep(kTerminus, 1, 0.0, 1.0);
    s.instantiate(kHalvorn, 2).armReentry(kHalvorn, 2, kReentrySetDebugLogging, 0);
    s.simple(Operation::Reset, kHalvorn, 2);
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
        ok = write(directory, std::string("life-") + kModelIdentifiers[model], wholeLife(model)) &&
             ok;
    }
    ok = write(directory, "every-call-every-state", everyCallEveryState()) && ok;
    ok = write(directory, "value-access", valueAccess()) && ok;
    ok = write(directory, "instantiation-faults", instantiationFaults()) && ok;
    ok = write(directory, "stepping-edges-Halvorn", steppingEdges(kHalvorn)) && ok;
    ok = write(directory, "stepping-edges-Pendrake", steppingEdges(kPendrake)) && ok;
    ok = write(directory, "status-and-derivatives", statusAndDerivatives()) && ok;
    ok = write(directory, "several-instances", severalInstances()) && ok;
    ok = write(directory, "other-types", otherTypes()) && ok;
    ok = write(directory, "logger-calls-back", loggerCallsBack()) && ok;
    return ok ? 0 : 1;
}
