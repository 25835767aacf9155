// Reads an FMI 1.0 call and its arguments from the input, as CallEncoding.h
// lays them out, builds the master's arrays and makes the call.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "CallEncoding.h"
#include "Fmi1Rules.h"
#include "FmiTypes.h"
#include "Input.h"
#include "Master.h"

namespace fmi1 {

void runCall(World& world, Input& in, Operation operation) {
    switch (operation) {
        case Operation::Instantiate: {
            const std::uint8_t b = in.byte();
            const int model = modelOfTarget(b);
            const int slot = slotOfTarget(b) % kSlotsPerModel;
            InstantiateArguments a;
            a.nameKind = nameKindOf(in.byte());
            if (a.nameKind == kNameFromInput) {
                const std::size_t length = in.byte() % (kMaxInputNameLength + 1);
                for (std::size_t i = 0; i < length; ++i) {
                    a.inputName.push_back(static_cast<char>(in.byte()));
                }
                // What the slave sees is the C string up to the first NUL.
                a.inputName = a.inputName.c_str();
            }
            a.guidKind = guidKindOf(in.byte());
            a.callbacks = in.byte();
            a.loggingOn = static_cast<fmiBoolean>(in.byte());
            a.allocation = in.byte();
            a.extras = in.byte();
            a.timeout = in.real();
            callInstantiate(world, model, slot, a);
            break;
        }
        case Operation::Initialize: {
            const Target t = readTarget(world.slots, in);
            const fmiReal tStart = in.real();
            const auto stopTimeDefined = static_cast<fmiBoolean>(in.byte());
            const fmiReal tStop = in.real();
            callInitialize(world, t.model, t.slot, t.instance, tStart, stopTimeDefined, tStop);
            break;
        }
        case Operation::SetDebugLogging: {
            const Target t = readTarget(world.slots, in);
            callSetDebugLogging(world, t.model, t.slot, t.instance,
                                static_cast<fmiBoolean>(in.byte()));
            break;
        }
        case Operation::Terminate: {
            const Target t = readTarget(world.slots, in);
            callTerminate(world, t.model, t.slot, t.instance);
            break;
        }
        case Operation::Reset: {
            const Target t = readTarget(world.slots, in);
            callReset(world, t.model, t.slot, t.instance);
            break;
        }
        case Operation::Free: {
            const Target t = readTarget(world.slots, in);
            callFree(world, t.model, t.slot, t.instance);
            break;
        }
        case Operation::SetReal:
        case Operation::GetReal:
        case Operation::SetInteger:
        case Operation::SetBoolean:
        case Operation::SetString:
        case Operation::GetInteger:
        case Operation::GetBoolean:
        case Operation::GetString: {
            const Target t = readTarget(world.slots, in);
            bool huge = false;
            const std::size_t nvr = in.nvr(huge);
            std::uint8_t nulls = in.nullArrays();
            if (huge) {
                // No array can hold that many elements; a null vr[] is
                // refused before either array is looked at.
                nulls |= kNullVr | kNullValue;
            }
            std::unique_ptr<fmiValueReference[]> vr;
            if ((nulls & kNullVr) == 0) {
                vr = masterArray<fmiValueReference>(nvr, 0);
                for (std::size_t i = 0; i < nvr; ++i) {
                    vr[i] = in.valueReference();
                }
            }
            const bool nullValue = (nulls & kNullValue) != 0;
            switch (operation) {
                case Operation::SetReal: {
                    std::unique_ptr<fmiReal[]> value;
                    if (!nullValue) {
                        value = masterArray<fmiReal>(nvr, 0.0);
                        for (std::size_t i = 0; i < nvr; ++i) {
                            value[i] = in.real();
                        }
                    }
                    callSetReal(world, t.model, t.slot, t.instance, nvr, vr.get(), value.get());
                    break;
                }
                case Operation::GetReal: {
                    std::unique_ptr<fmiReal[]> value;
                    if (!nullValue) {
                        value = masterArray<fmiReal>(nvr, realFromBits(kUntouchedBits));
                    }
                    callGetReal(world, t.model, t.slot, t.instance, nvr, vr.get(), value.get());
                    break;
                }
                case Operation::SetInteger:
                case Operation::GetInteger: {
                    const bool isSet = operation == Operation::SetInteger;
                    std::unique_ptr<fmiInteger[]> value;
                    if (!nullValue) {
                        value = masterArray<fmiInteger>(nvr, 0x5a5a5a5a);
                        for (std::size_t i = 0; isSet && i < nvr; ++i) {
                            value[i] = static_cast<fmiInteger>(in.u32());
                        }
                    }
                    callOtherType(world, operation, t.model, t.slot, t.instance, nvr, vr.get(),
                                  value.get());
                    break;
                }
                case Operation::SetBoolean:
                case Operation::GetBoolean: {
                    const bool isSet = operation == Operation::SetBoolean;
                    std::unique_ptr<fmiBoolean[]> value;
                    if (!nullValue) {
                        value = masterArray<fmiBoolean>(nvr, 0x5a);
                        for (std::size_t i = 0; isSet && i < nvr; ++i) {
                            value[i] = static_cast<fmiBoolean>(in.byte());
                        }
                    }
                    callOtherType(world, operation, t.model, t.slot, t.instance, nvr, vr.get(),
                                  value.get());
                    break;
                }
                default: {
                    const bool isSet = operation == Operation::SetString;
                    static const char untouchedText[] = "untouched";
                    std::unique_ptr<fmiString[]> value;
                    if (!nullValue) {
                        value = masterArray<fmiString>(nvr, untouchedText);
                        std::size_t count = 0;
                        const char* const* strings = stringTable(count);
                        for (std::size_t i = 0; isSet && i < nvr; ++i) {
                            value[i] = strings[in.byte() % count];
                        }
                    }
                    callOtherType(world, operation, t.model, t.slot, t.instance, nvr, vr.get(),
                                  value.get());
                    break;
                }
            }
            break;
        }
        case Operation::DoStep: {
            const Target t = readTarget(world.slots, in);
            const fmiReal communicationPoint = in.real();
            const fmiReal stepSize = in.real();
            callDoStep(world, t.model, t.slot, t.instance, communicationPoint, stepSize,
                       static_cast<fmiBoolean>(in.byte()));
            break;
        }
        case Operation::CancelStep: {
            const Target t = readTarget(world.slots, in);
            callCancelStep(world, t.model, t.slot, t.instance);
            break;
        }
        case Operation::GetStatus:
        case Operation::GetRealStatus:
        case Operation::GetIntegerStatus:
        case Operation::GetBooleanStatus:
        case Operation::GetStringStatus: {
            const Target t = readTarget(world.slots, in);
            const std::uint8_t b = in.byte();
            const auto kind =
                static_cast<fmiStatusKind>(b < kRawStatusKind ? b % 4 : static_cast<int>(in.u32()));
            const bool nullValue = (in.byte() & 1) != 0;
            callStatus(world, operation, t.model, t.slot, t.instance, kind, nullValue);
            break;
        }
        case Operation::SetRealInputDerivatives:
        case Operation::GetRealOutputDerivatives: {
            const Target t = readTarget(world.slots, in);
            bool huge = false;
            const std::size_t nvr = in.nvr(huge);
            std::uint8_t nulls = in.nullArrays();
            if (huge) {
                nulls |= kNullVr | kNullValue | kNullOrder;
            }
            // Neither call may read vr[] or order[]; their contents do not matter.
            std::unique_ptr<fmiValueReference[]> vr;
            if ((nulls & kNullVr) == 0) {
                vr = masterArray<fmiValueReference>(nvr, 0xffffffffU);
            }
            std::unique_ptr<fmiInteger[]> order;
            if ((nulls & kNullOrder) == 0) {
                order = masterArray<fmiInteger>(nvr, 1);
            }
            std::unique_ptr<fmiReal[]> value;
            if ((nulls & kNullValue) == 0) {
                value = masterArray<fmiReal>(nvr, realFromBits(kUntouchedBits));
            }
            if (operation == Operation::SetRealInputDerivatives) {
                callSetRealInputDerivatives(world, t.model, t.slot, t.instance, nvr, vr.get(),
                                            order.get(), value.get());
            } else {
                callGetRealOutputDerivatives(world, t.model, t.slot, t.instance, nvr, vr.get(),
                                             order.get(), value.get());
            }
            break;
        }
        case Operation::GetVersion:
        case Operation::GetTypesPlatform:
            callVersion(world, operation, modelOfTarget(in.byte()));
            break;
        case Operation::ArmReentry: {
            const Target t = readTarget(world.slots, in);
            const auto action = static_cast<ReentryAction>(in.byte() % 4);
            fmiBoolean flag = fmiFalse;
            fmiValueReference vr = 0;
            fmiReal value = 0.0;
            if (action == kReentrySetDebugLogging) {
                flag = static_cast<fmiBoolean>(in.byte());
            } else if (action != kReentryNone) {
                vr = in.valueReference();
                if (action == kReentrySetReal) {
                    value = in.real();
                }
            }
            if (t.instance != nullptr) {
                t.instance->armed = action;
                t.instance->reentry = action;
                t.instance->reentryFlag = flag;
                t.instance->reentryReference = vr;
                t.instance->reentryValue = value;
            }
            break;
        }
        case Operation::Count:
            break;
    }
}

}  // namespace fmi1
