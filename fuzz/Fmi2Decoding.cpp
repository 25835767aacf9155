// Reads an FMI 2.0 call and its arguments from the input, as CallEncoding.h
// lays them out, builds the master's arrays and makes the call.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "CallEncoding.h"
#include "Decoding.h"
#include "Fmi2Rules.h"
#include "FmuStateBytes.h"
#include "Input.h"
#include "Master.h"

namespace fmi2 {
namespace {

constexpr int kVersion = 2;

void runInstantiate(World& world, Input& in) {
    const NewTarget t = readNewTarget(in);
    InstantiateArguments a;
    const InstanceName name = readInstanceName(in);
    a.nameKind = name.kind;
    a.inputName = name.inputName;
    a.guidKind = guidKindOf(in.byte());
    const std::uint8_t type = in.byte();
    a.fmuType = static_cast<fmi2Type>(type < kRawFmuType ? fmi2CoSimulation : kFmuTypes[type & 3]);
    a.callbacks = in.byte();
    a.loggingOn = in.byte();
    a.allocation = in.byte();
    a.extras = in.byte();
    callInstantiate(world, t.model, t.slot, a);
}

void runSetDebugLogging(World& world, Input& in) {
    const Target t = readTarget(world, in, kVersion);
    const fmi2Boolean loggingOn = in.byte();
    const std::uint8_t b = in.byte();
    const std::size_t n = b % 4;
    std::vector<fmi2String> categories;
    std::size_t count = 0;
    const char* const* table = categoryTable(count);
    for (std::size_t i = 0; i < n; ++i) {
        categories.push_back(table[in.byte() % count]);
    }
    const bool nullArray = b >= kArraysTampered;
    callSetDebugLogging(world, t.model, t.slot, t.instance, loggingOn, n,
                        nullArray ? nullptr : categories.data());
}

template <typename Value>
void runOtherType(World& world, Input& in, Operation operation, bool isSet) {
    const Target t = readTarget(world, in, kVersion);
    AccessArrays<Value> a = readAccessArrays<Value>(in, isSet);
    callOtherType(world, operation, t.model, t.slot, t.instance, a.nvr, a.vr.get(), a.value.get());
}

std::uint32_t readMachineState(Input& in) {
    const std::uint8_t b = in.byte();
    return b < kRawMachineState ? std::uint32_t{1} << (b % 5) : in.u32();
}

// The master's own bytes for a content it chooses, or damaged ones.
std::vector<char> writtenBytes(Input& in, int model, const Instance* s, bool damaged) {
    fmuStateBytes::Identity who = identityOf(model);
    fmuStateBytes::Content content;
    content.state = readMachineState(in);
    content.time = in.real();
    content.reals = s != nullptr ? s->reals : factsOf(model).freshValues();
    if (!damaged) {
        return fmuStateBytes::serialized(who, content);
    }
    const auto damage = static_cast<Damage>(in.byte() % kDamageCount);
    const std::uint8_t at = in.byte();
    std::uint32_t formatVersion = fmuStateBytes::kVersion;
    std::uint32_t realCount = who.realCount;
    const int other = (model + 1) % kModelCount;
    switch (damage) {
        case kFlipByte:
        case kTruncate:
        case kAppendByte: {
            std::vector<char> bytes = fmuStateBytes::serialized(who, content);
            const std::size_t position = at * bytes.size() / 256;
            if (damage == kFlipByte) {
                bytes[position] = static_cast<char>(bytes[position] ^ 0xa5);
            } else if (damage == kTruncate) {
                bytes.resize(position);
            } else {
                bytes.push_back(static_cast<char>(at));
            }
            return bytes;
        }
        case kOtherFormatVersion:
            formatVersion = in.u32();
            break;
        case kOtherFmiVersion: {
            static const char* const versions[] = {"1.0", "3.0", ""};
            who.fmiVersion = versions[at % 3];
            break;
        }
        case kOtherModel:
            who.identifier = factsOf(other).identifier;
            break;
        case kOtherGuid:
            who.guid = factsOf(other).guid;
            break;
        default:
            realCount = at % 2 == 0 ? realCount + 1 : realCount - 1;
            break;
    }
    std::vector<char> bytes = fmuStateBytes::unsummed(who, formatVersion, content, realCount);
    fmuStateBytes::appendChecksum(bytes);
    return bytes;
}

BytesToRead readBytes(World& world, Input& in, int model, const Instance* s, bool null) {
    BytesToRead bytes;
    bytes.null = null;
    switch (static_cast<BytesSource>(in.byte() % 4)) {
        case kBytesWritten:
            bytes.bytes = writtenBytes(in, model, s, false);
            break;
        case kBytesSerialized:
            bytes.bytes = world.serialized;
            break;
        case kBytesRaw: {
            const std::size_t length = in.byte();
            for (std::size_t i = 0; i < length; ++i) {
                bytes.bytes.push_back(static_cast<char>(in.byte()));
            }
            break;
        }
        default:
            bytes.bytes = writtenBytes(in, model, s, true);
            break;
    }
    return bytes;
}

void runDeSerialize(World& world, Input& in) {
    const Target t = readTarget(world, in, kVersion);
    const FmuStateChoice choice = in.byte();
    const std::uint8_t flags = in.byte();
    const std::uint8_t allocation = in.byte();
    const BytesToRead bytes = readBytes(world, in, t.model, t.instance, (flags & kNullBytes) != 0);
    callDeSerialize(world, t.model, t.slot, t.instance, choice, bytes, (flags & kNullPointer) != 0,
                    allocation);
}

void runDirectionalDerivative(World& world, Input& in) {
    const Target t = readTarget(world, in, kVersion);
    bool hugeUnknowns = false;
    bool hugeKnowns = false;
    const std::size_t nUnknown = in.nvr(hugeUnknowns);
    const std::size_t nKnown = in.nvr(hugeKnowns);
    const std::uint8_t b = in.byte();
    std::uint8_t nulls = b >= kArraysTampered ? b & 0x0F : 0;
    if (hugeUnknowns) {
        nulls |= kNullUnknowns | kNullResults;
    }
    if (hugeKnowns) {
        nulls |= kNullKnowns | kNullSeeds;
    }
    std::unique_ptr<std::uint32_t[]> unknowns;
    if ((nulls & kNullUnknowns) == 0) {
        unknowns = masterArray<std::uint32_t>(nUnknown, 0);
        for (std::size_t i = 0; i < nUnknown; ++i) {
            unknowns[i] = in.valueReference();
        }
    }
    std::unique_ptr<std::uint32_t[]> knowns;
    if ((nulls & kNullKnowns) == 0) {
        knowns = masterArray<std::uint32_t>(nKnown, 0);
        for (std::size_t j = 0; j < nKnown; ++j) {
            knowns[j] = in.valueReference();
        }
    }
    std::unique_ptr<double[]> seed;
    if ((nulls & kNullSeeds) == 0) {
        seed = masterArray<double>(nKnown, 0.0);
        for (std::size_t j = 0; j < nKnown; ++j) {
            seed[j] = in.real();
        }
    }
    std::unique_ptr<double[]> result;
    if ((nulls & kNullResults) == 0) {
        result = masterArray<double>(nUnknown, realFromBits(kUntouchedBits));
    }
    callDirectionalDerivative(world, t.model, t.slot, t.instance, nUnknown, unknowns.get(), nKnown,
                              knowns.get(), seed.get(), result.get());
}

}  // namespace

void runCall(World& world, Input& in, Operation operation) {
    switch (operation) {
        case Operation::Fmi2Instantiate:
            runInstantiate(world, in);
            break;
        case Operation::Fmi2FreeInstance: {
            const Target t = readTarget(world, in, kVersion);
            callFreeInstance(world, t.model, t.slot, t.instance);
            break;
        }
        case Operation::Fmi2SetDebugLogging:
            runSetDebugLogging(world, in);
            break;
        case Operation::Fmi2SetupExperiment: {
            const Target t = readTarget(world, in, kVersion);
            const fmi2Boolean toleranceDefined = in.byte();
            const fmi2Real tolerance = in.real();
            const fmi2Real startTime = in.real();
            const fmi2Boolean stopTimeDefined = in.byte();
            const fmi2Real stopTime = in.real();
            callSetupExperiment(world, t.model, t.slot, t.instance, toleranceDefined, tolerance,
                                startTime, stopTimeDefined, stopTime);
            break;
        }
        case Operation::Fmi2EnterInitializationMode:
        case Operation::Fmi2ExitInitializationMode:
        case Operation::Fmi2Terminate:
        case Operation::Fmi2Reset:
        case Operation::Fmi2CancelStep: {
            const Target t = readTarget(world, in, kVersion);
            callPlain(world, operation, t.model, t.slot, t.instance);
            break;
        }
        case Operation::Fmi2SetReal:
        case Operation::Fmi2GetReal: {
            const bool isSet = operation == Operation::Fmi2SetReal;
            const Target t = readTarget(world, in, kVersion);
            const AccessArrays<fmi2Real> a = readAccessArrays<fmi2Real>(in, isSet);
            if (isSet) {
                callSetReal(world, t.model, t.slot, t.instance, a.nvr, a.vr.get(), a.value.get());
            } else {
                callGetReal(world, t.model, t.slot, t.instance, a.nvr, a.vr.get(), a.value.get());
            }
            break;
        }
        case Operation::Fmi2SetInteger:
        case Operation::Fmi2GetInteger:
        case Operation::Fmi2SetBoolean:
        case Operation::Fmi2GetBoolean:
            runOtherType<int>(world, in, operation, operation <= Operation::Fmi2SetString);
            break;
        case Operation::Fmi2SetString:
        case Operation::Fmi2GetString:
            runOtherType<const char*>(world, in, operation, operation <= Operation::Fmi2SetString);
            break;
        case Operation::Fmi2GetFMUstate: {
            const Target t = readTarget(world, in, kVersion);
            const FmuStateChoice choice = in.byte();
            const std::uint8_t flags = in.byte();
            callGetFmuState(world, t.model, t.slot, t.instance, choice, (flags & kNullPointer) != 0,
                            in.byte());
            break;
        }
        case Operation::Fmi2SetFMUstate: {
            const Target t = readTarget(world, in, kVersion);
            callSetFmuState(world, t.model, t.slot, t.instance, in.byte());
            break;
        }
        case Operation::Fmi2FreeFMUstate: {
            const Target t = readTarget(world, in, kVersion);
            const FmuStateChoice choice = in.byte();
            callFreeFmuState(world, t.model, t.slot, t.instance, choice,
                             (in.byte() & kNullPointer) != 0);
            break;
        }
        case Operation::Fmi2SerializedFMUstateSize: {
            const Target t = readTarget(world, in, kVersion);
            const FmuStateChoice choice = in.byte();
            callSerializedSize(world, t.model, t.slot, t.instance, choice,
                               (in.byte() & kNullPointer) != 0);
            break;
        }
        case Operation::Fmi2SerializeFMUstate: {
            const Target t = readTarget(world, in, kVersion);
            const FmuStateChoice choice = in.byte();
            const std::uint8_t flags = in.byte();
            callSerialize(world, t.model, t.slot, t.instance, choice, flags >> 1,
                          (flags & kNullPointer) != 0);
            break;
        }
        case Operation::Fmi2DeSerializeFMUstate:
            runDeSerialize(world, in);
            break;
        case Operation::Fmi2GetDirectionalDerivative:
            runDirectionalDerivative(world, in);
            break;
        case Operation::Fmi2SetRealInputDerivatives:
        case Operation::Fmi2GetRealOutputDerivatives: {
            const Target t = readTarget(world, in, kVersion);
            const DerivativeArrays a = readDerivativeArrays(in);
            callDerivatives(world, operation, t.model, t.slot, t.instance, a.nvr, a.vr.get(),
                            a.order.get(), a.value.get());
            break;
        }
        case Operation::Fmi2DoStep: {
            const Target t = readTarget(world, in, kVersion);
            const fmi2Real communicationPoint = in.real();
            const fmi2Real stepSize = in.real();
            callDoStep(world, t.model, t.slot, t.instance, communicationPoint, stepSize, in.byte());
            break;
        }
        case Operation::Fmi2GetStatus:
        case Operation::Fmi2GetRealStatus:
        case Operation::Fmi2GetIntegerStatus:
        case Operation::Fmi2GetBooleanStatus:
        case Operation::Fmi2GetStringStatus: {
            const Target t = readTarget(world, in, kVersion);
            const int kind = readStatusKind(in);
            callStatus(world, operation, t.model, t.slot, t.instance, kind, (in.byte() & 1) != 0);
            break;
        }
        case Operation::Fmi2GetVersion:
        case Operation::Fmi2GetTypesPlatform:
            callVersion(world, operation, modelOfTarget(in.byte()));
            break;
        default:
            break;
    }
}

}  // namespace fmi2
