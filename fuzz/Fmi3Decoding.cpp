// Reads an FMI 3.0 call and its arguments from the input, as CallEncoding.h
// lays them out, builds the master's arrays and makes the call.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "CallEncoding.h"
#include "Decoding.h"
#include "Fmi3Rules.h"
#include "Input.h"
#include "Master.h"

namespace fmi3 {
namespace {

constexpr int kVersion = 3;
// What a damage that names another FMI version writes instead of 3.0.
constexpr const char* kOtherFmiVersions[] = {"1.0", "2.0", ""};

InstantiateArguments readInstantiateArguments(Input& in) {
    InstantiateArguments a;
    const InstanceName name = readInstanceName(in);
    a.nameKind = name.kind;
    a.inputName = name.inputName;
    a.tokenKind = guidKindOf(in.byte());
    a.loggingOn = (in.byte() & 1) != 0;
    a.flags = in.byte();
    if ((a.flags & kFmi3IntermediateVariables) != 0) {
        bool huge = false;
        a.nRequired = in.nvr(huge);
        a.nullRequired = huge;
    }
    a.callocFails = (in.byte() & 1) != 0;
    return a;
}

// The count of values beside a count of references, as kWrongCount says.
std::size_t readValueCount(Input& in, std::size_t nvr) {
    const std::uint8_t b = in.byte();
    return b < kWrongCount ? nvr : nvr + (b & 7) - 4;
}

void runFloat64(World& world, Input& in, bool isSet) {
    const Target t = readTarget(world, in, kVersion);
    AccessArrays<double> a = readAccessArrays<double>(in, isSet);
    const std::size_t nValues = readValueCount(in, a.nvr);
    if (isSet) {
        callSetFloat64(world, t.model, t.slot, t.instance, a.nvr, a.vr.get(), a.value.get(),
                       nValues);
    } else {
        callGetFloat64(world, t.model, t.slot, t.instance, a.nvr, a.vr.get(), a.value.get(),
                       nValues);
    }
}

void runOtherType(World& world, Input& in) {
    const std::size_t function = in.byte() % otherTypeCount();
    const Target t = readTarget(world, in, kVersion);
    // Wide enough for a value of any type; never read or written.
    AccessArrays<double> a = readAccessArrays<double>(in, false);
    const std::size_t nValues = readValueCount(in, a.nvr);
    callOtherType(world, function, t.model, t.slot, t.instance, a.nvr, a.vr.get(), a.value.get(),
                  nValues);
}

void runSetDebugLogging(World& world, Input& in) {
    const Target t = readTarget(world, in, kVersion);
    const fmi3Boolean loggingOn = (in.byte() & 1) != 0;
    const std::uint8_t b = in.byte();
    const std::size_t n = b % 4;
    std::vector<fmi3String> categories;
    std::size_t count = 0;
    const char* const* table = categoryTable(count);
    for (std::size_t i = 0; i < n; ++i) {
        categories.push_back(table[in.byte() % count]);
    }
    callSetDebugLogging(world, t.model, t.slot, t.instance, loggingOn, n,
                        b >= kArraysTampered ? nullptr : categories.data());
}

void runDeserialize(World& world, Input& in) {
    const Target t = readTarget(world, in, kVersion);
    const FmuStateChoice choice = in.byte();
    const std::uint8_t flags = in.byte();
    const bool callocFails = (in.byte() & 1) != 0;
    BytesToRead bytes;
    bytes.null = (flags & kNullBytes) != 0;
    bytes.bytes =
        readSerializedBytes(world, in, identityOf(t.model), t.instance, kOtherFmiVersions);
    callDeserialize(world, t.model, t.slot, t.instance, choice, bytes, (flags & kNullPointer) != 0,
                    callocFails);
}

std::unique_ptr<std::uint32_t[]> readReferences(Input& in, std::size_t n, bool leftOut) {
    if (leftOut) {
        return nullptr;
    }
    std::unique_ptr<std::uint32_t[]> vr = masterArray<std::uint32_t>(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        vr[i] = in.valueReference();
    }
    return vr;
}

// Counts of unknowns and knowns, a null-arrays byte as for
// fmi2GetDirectionalDerivative, the counts of seeds and sensitivities as
// kWrongCount says, then the references and the seeds.
void runDerivative(World& world, Input& in, bool adjoint) {
    const Target t = readTarget(world, in, kVersion);
    bool hugeUnknowns = false;
    bool hugeKnowns = false;
    DerivativeArguments a;
    a.nUnknowns = in.nvr(hugeUnknowns);
    a.nKnowns = in.nvr(hugeKnowns);
    const std::uint8_t b = in.byte();
    std::uint8_t nulls = b >= kArraysTampered ? b & 0x0F : 0;
    const std::size_t seeded = adjoint ? a.nUnknowns : a.nKnowns;
    const std::size_t resulting = adjoint ? a.nKnowns : a.nUnknowns;
    if (hugeUnknowns) {
        nulls |= kNullUnknowns | (adjoint ? kNullSeeds : kNullResults);
    }
    if (hugeKnowns) {
        nulls |= kNullKnowns | (adjoint ? kNullResults : kNullSeeds);
    }
    a.nSeed = readValueCount(in, seeded);
    a.nSensitivity = readValueCount(in, resulting);
    const std::unique_ptr<std::uint32_t[]> unknowns =
        readReferences(in, a.nUnknowns, (nulls & kNullUnknowns) != 0);
    const std::unique_ptr<std::uint32_t[]> knowns =
        readReferences(in, a.nKnowns, (nulls & kNullKnowns) != 0);
    std::unique_ptr<double[]> seed;
    if ((nulls & kNullSeeds) == 0) {
        seed = masterArray<double>(seeded, 0.0);
        for (std::size_t i = 0; i < seeded; ++i) {
            seed[i] = in.real();
        }
    }
    std::unique_ptr<double[]> sensitivity;
    if ((nulls & kNullResults) == 0) {
        sensitivity = masterArray<double>(resulting, realFromBits(kUntouchedBits));
    }
    a.unknowns = unknowns.get();
    a.knowns = knowns.get();
    a.seed = seed.get();
    a.sensitivity = sensitivity.get();
    callDerivative(world, adjoint, t.model, t.slot, t.instance, a);
}

void runOutputDerivatives(World& world, Input& in) {
    const Target t = readTarget(world, in, kVersion);
    const DerivativeArrays a = readDerivativeArrays(in);
    const std::size_t nValues = readValueCount(in, a.nvr);
    callOutputDerivatives(world, t.model, t.slot, t.instance, a.nvr, a.vr.get(), a.order.get(),
                          a.value.get(), nValues);
}

}  // namespace

void runCall(World& world, Input& in, Operation operation) {
    switch (operation) {
        case Operation::Fmi3InstantiateCoSimulation:
        case Operation::Fmi3InstantiateModelExchange:
        case Operation::Fmi3InstantiateScheduledExecution: {
            const NewTarget t = readNewTarget(in);
            const InstantiateArguments a = readInstantiateArguments(in);
            if (operation == Operation::Fmi3InstantiateScheduledExecution) {
                callInstantiateScheduledExecution(world, t.model, t.slot, a);
            } else {
                callInstantiate(world, t.model, t.slot, a,
                                operation == Operation::Fmi3InstantiateModelExchange);
            }
            break;
        }
        case Operation::Fmi3FreeInstance: {
            const Target t = readTarget(world, in, kVersion);
            callFreeInstance(world, t.model, t.slot, t.instance);
            break;
        }
        case Operation::Fmi3SetDebugLogging:
            runSetDebugLogging(world, in);
            break;
        case Operation::Fmi3EnterInitializationMode: {
            const Target t = readTarget(world, in, kVersion);
            const fmi3Boolean toleranceDefined = (in.byte() & 1) != 0;
            const fmi3Float64 tolerance = in.real();
            const fmi3Float64 startTime = in.real();
            const fmi3Boolean stopTimeDefined = (in.byte() & 1) != 0;
            const fmi3Float64 stopTime = in.real();
            callEnterInitializationMode(world, t.model, t.slot, t.instance, toleranceDefined,
                                        tolerance, startTime, stopTimeDefined, stopTime);
            break;
        }
        case Operation::Fmi3ExitInitializationMode:
        case Operation::Fmi3Terminate:
        case Operation::Fmi3Reset: {
            const Target t = readTarget(world, in, kVersion);
            callPlain(world, operation, t.model, t.slot, t.instance);
            break;
        }
        case Operation::Fmi3SetFloat64:
        case Operation::Fmi3GetFloat64:
            runFloat64(world, in, operation == Operation::Fmi3SetFloat64);
            break;
        case Operation::Fmi3OtherType:
            runOtherType(world, in);
            break;
        case Operation::Fmi3GetFMUState: {
            const FmuStateArguments a = readFmuStateArguments(world, in, kVersion);
            const Target& t = a.target;
            callGetFmuState(world, t.model, t.slot, t.instance, a.choice, a.nullPointer(),
                            (in.byte() & 1) != 0);
            break;
        }
        case Operation::Fmi3SetFMUState: {
            const Target t = readTarget(world, in, kVersion);
            callSetFmuState(world, t.model, t.slot, t.instance, in.byte());
            break;
        }
        case Operation::Fmi3FreeFMUState:
        case Operation::Fmi3SerializedFMUStateSize:
        case Operation::Fmi3SerializeFMUState:
            runFmuStateCall(world, in, kVersion, operation == Operation::Fmi3FreeFMUState,
                            operation == Operation::Fmi3SerializedFMUStateSize, callFreeFmuState,
                            callSerializedSize, callSerialize);
            break;
        case Operation::Fmi3DoStep: {
            const Target t = readTarget(world, in, kVersion);
            const fmi3Float64 communicationPoint = in.real();
            const fmi3Float64 stepSize = in.real();
            const fmi3Boolean noSetPrior = (in.byte() & 1) != 0;
            const std::uint8_t b = in.byte();
            callDoStep(world, t.model, t.slot, t.instance, communicationPoint, stepSize, noSetPrior,
                       b >= kArraysTampered ? b : 0);
            break;
        }
        case Operation::Fmi3Inapplicable: {
            const std::size_t function = in.byte() % inapplicableCount();
            const Target t = readTarget(world, in, kVersion);
            callInapplicable(world, function, t.model, t.slot, t.instance);
            break;
        }
        case Operation::Fmi3ModelExchange: {
            const std::size_t function = in.byte() % modelExchangeCount();
            const Target t = readTarget(world, in, kVersion);
            // Mostly no continuous states or event indicators, as the count
            // must be; one or two otherwise.
            const std::uint8_t flags = in.byte();
            callModelExchange(world, function, t.model, t.slot, t.instance,
                              flags % 8 < 6 ? 0 : flags % 8 - 5, (flags & 0x80) != 0, in.real());
            break;
        }
        case Operation::Fmi3GetVersion:
            callVersion(world, modelOfTarget(in.byte()));
            break;
        case Operation::Fmi3DeserializeFMUState:
            runDeserialize(world, in);
            break;
        case Operation::Fmi3GetDirectionalDerivative:
        case Operation::Fmi3GetAdjointDerivative:
            runDerivative(world, in, operation == Operation::Fmi3GetAdjointDerivative);
            break;
        case Operation::Fmi3GetNumberOfVariableDependencies: {
            const Target t = readTarget(world, in, kVersion);
            const fmi3ValueReference dependent = in.valueReference();
            callNumberOfDependencies(world, t.model, t.slot, t.instance, dependent,
                                     (in.byte() & kNullPointer) != 0);
            break;
        }
        case Operation::Fmi3GetVariableDependencies: {
            const Target t = readTarget(world, in, kVersion);
            const fmi3ValueReference dependent = in.valueReference();
            const std::uint8_t countByte = in.byte();
            callVariableDependencies(world, t.model, t.slot, t.instance, dependent, countByte,
                                     in.byte());
            break;
        }
        case Operation::Fmi3GetOutputDerivatives:
            runOutputDerivatives(world, in);
            break;
        default:
            break;
    }
}

}  // namespace fmi3
