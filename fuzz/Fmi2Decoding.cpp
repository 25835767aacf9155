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
// What a damage that names another FMI version writes instead of 2.0.
constexpr const char* kOtherFmiVersions[] = {"1.0", "3.0", ""};

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

void runDeSerialize(World& world, Input& in) {
    const Target t = readTarget(world, in, kVersion);
    const FmuStateChoice choice = in.byte();
    const std::uint8_t flags = in.byte();
    const std::uint8_t allocation = in.byte();
    BytesToRead bytes;
    bytes.null = (flags & kNullBytes) != 0;
    bytes.bytes =
        readSerializedBytes(world, in, identityOf(t.model), t.instance, kOtherFmiVersions);
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

void runModelExchange(World& world, Input& in) {
    const Target t = readTarget(world, in, kVersion);
    ModelExchangeArguments a;
    a.function = static_cast<ModelExchangeFunction>(in.byte() % kModelExchangeFunctionCount);
    std::unique_ptr<double[]> states;
    switch (a.function) {
        case kNewDiscreteStates:
            a.nulls = in.byte();
            break;
        case kCompletedIntegratorStep:
            a.flag = in.byte();
            a.nulls = in.byte();
            break;
        case kSetTime:
            a.time = in.real();
            break;
        case kEnterEventMode:
        case kEnterContinuousTimeMode:
            break;
        default: {
            bool huge = false;
            a.count = in.nvr(huge);
            if (!huge) {
                states = masterArray<double>(a.count, realFromBits(kUntouchedBits));
                a.states = states.get();
            }
            break;
        }
    }
    callModelExchange(world, t.model, t.slot, t.instance, a);
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
        case Operation::Fmi2GetReal:
            runRealAccess<fmi2Real>(world, in, kVersion, operation == Operation::Fmi2SetReal,
                                    callSetReal, callGetReal);
            break;
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
            const FmuStateArguments a = readFmuStateArguments(world, in, kVersion);
            const Target& t = a.target;
            callGetFmuState(world, t.model, t.slot, t.instance, a.choice, a.nullPointer(),
                            in.byte());
            break;
        }
        case Operation::Fmi2SetFMUstate: {
            const Target t = readTarget(world, in, kVersion);
            callSetFmuState(world, t.model, t.slot, t.instance, in.byte());
            break;
        }
        case Operation::Fmi2FreeFMUstate:
        case Operation::Fmi2SerializedFMUstateSize:
        case Operation::Fmi2SerializeFMUstate:
            runFmuStateCall(world, in, kVersion, operation == Operation::Fmi2FreeFMUstate,
                            operation == Operation::Fmi2SerializedFMUstateSize, callFreeFmuState,
                            callSerializedSize, callSerialize);
            break;
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
        case Operation::Fmi2ModelExchange:
            runModelExchange(world, in);
            break;
        case Operation::Fmi2GetVersion:
        case Operation::Fmi2GetTypesPlatform:
            callVersion(world, operation, modelOfTarget(in.byte()));
            break;
        default:
            break;
    }
}

}  // namespace fmi2
