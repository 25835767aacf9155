// Reads an FMI 1.0 call and its arguments from the input, as CallEncoding.h
// lays them out, builds the master's arrays and makes the call.
#include <cstddef>
#include <cstdint>

#include "CallEncoding.h"
#include "Decoding.h"
#include "Fmi1Rules.h"
#include "FmiTypes.h"
#include "Input.h"
#include "Master.h"

namespace fmi1 {
namespace {

constexpr int kVersion = 1;

void runInstantiate(World& world, Input& in) {
    const NewTarget t = readNewTarget(in);
    InstantiateArguments a;
    const InstanceName name = readInstanceName(in);
    a.nameKind = name.kind;
    a.inputName = name.inputName;
    a.guidKind = guidKindOf(in.byte());
    a.callbacks = in.byte();
    a.loggingOn = static_cast<fmiBoolean>(in.byte());
    a.allocation = in.byte();
    a.extras = in.byte();
    a.timeout = in.real();
    callInstantiate(world, t.model, t.slot, a);
}

template <typename Value>
void runOtherType(World& world, Input& in, Operation operation, bool isSet) {
    const Target t = readTarget(world, in, kVersion);
    const AccessArrays<Value> a = readAccessArrays<Value>(in, isSet);
    callOtherType(world, operation, t.model, t.slot, t.instance, a.nvr, a.vr.get(), a.value.get());
}

}  // namespace

void runCall(World& world, Input& in, Operation operation) {
    switch (operation) {
        case Operation::Instantiate:
            runInstantiate(world, in);
            break;
        case Operation::Initialize: {
            const Target t = readTarget(world, in, kVersion);
            const fmiReal tStart = in.real();
            const auto stopTimeDefined = static_cast<fmiBoolean>(in.byte());
            const fmiReal tStop = in.real();
            callInitialize(world, t.model, t.slot, t.instance, tStart, stopTimeDefined, tStop);
            break;
        }
        case Operation::SetDebugLogging: {
            const Target t = readTarget(world, in, kVersion);
            callSetDebugLogging(world, t.model, t.slot, t.instance,
                                static_cast<fmiBoolean>(in.byte()));
            break;
        }
        case Operation::Terminate: {
            const Target t = readTarget(world, in, kVersion);
            callTerminate(world, t.model, t.slot, t.instance);
            break;
        }
        case Operation::Reset: {
            const Target t = readTarget(world, in, kVersion);
            callReset(world, t.model, t.slot, t.instance);
            break;
        }
        case Operation::Free: {
            const Target t = readTarget(world, in, kVersion);
            callFree(world, t.model, t.slot, t.instance);
            break;
        }
        case Operation::SetReal:
        case Operation::GetReal:
            runRealAccess<fmiReal>(world, in, kVersion, operation == Operation::SetReal,
                                   callSetReal, callGetReal);
            break;
        case Operation::SetInteger:
        case Operation::GetInteger:
            runOtherType<fmiInteger>(world, in, operation, operation == Operation::SetInteger);
            break;
        case Operation::SetBoolean:
        case Operation::GetBoolean:
            runOtherType<fmiBoolean>(world, in, operation, operation == Operation::SetBoolean);
            break;
        case Operation::SetString:
        case Operation::GetString:
            runOtherType<fmiString>(world, in, operation, operation == Operation::SetString);
            break;
        case Operation::DoStep: {
            const Target t = readTarget(world, in, kVersion);
            const fmiReal communicationPoint = in.real();
            const fmiReal stepSize = in.real();
            callDoStep(world, t.model, t.slot, t.instance, communicationPoint, stepSize,
                       static_cast<fmiBoolean>(in.byte()));
            break;
        }
        case Operation::CancelStep: {
            const Target t = readTarget(world, in, kVersion);
            callCancelStep(world, t.model, t.slot, t.instance);
            break;
        }
        case Operation::GetStatus:
        case Operation::GetRealStatus:
        case Operation::GetIntegerStatus:
        case Operation::GetBooleanStatus:
        case Operation::GetStringStatus: {
            const Target t = readTarget(world, in, kVersion);
            const auto kind = static_cast<fmiStatusKind>(readStatusKind(in));
            const bool nullValue = (in.byte() & 1) != 0;
            callStatus(world, operation, t.model, t.slot, t.instance, kind, nullValue);
            break;
        }
        case Operation::SetRealInputDerivatives:
        case Operation::GetRealOutputDerivatives: {
            const Target t = readTarget(world, in, kVersion);
            const DerivativeArrays a = readDerivativeArrays(in);
            if (operation == Operation::SetRealInputDerivatives) {
                callSetRealInputDerivatives(world, t.model, t.slot, t.instance, a.nvr, a.vr.get(),
                                            a.order.get(), a.value.get());
            } else {
                callGetRealOutputDerivatives(world, t.model, t.slot, t.instance, a.nvr, a.vr.get(),
                                             a.order.get(), a.value.get());
            }
            break;
        }
        case Operation::GetVersion:
        case Operation::GetTypesPlatform:
            callVersion(world, operation, modelOfTarget(in.byte()));
            break;
        default:
            break;
    }
}

}  // namespace fmi1
