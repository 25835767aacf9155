// The FMI 1.0 calls as the fuzz target makes them: each one works out what
// the slave must do (status, messages, frees, the instance's new record),
// makes the call on the model's library and has it checked. A null instance
// stands for a null component.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "CallEncoding.h"
#include "FmiTypes.h"
#include "Input.h"
#include "Master.h"

namespace fmi1 {

struct InstantiateArguments {
    NameKind nameKind = kNameGenerated;
    std::string inputName;
    GuidKind guidKind = kGuidOwn;
    std::uint8_t callbacks = 0;
    fmiBoolean loggingOn = fmiFalse;
    std::uint8_t allocation = 0;
    std::uint8_t extras = 0;
    fmiReal timeout = 0.0;
};

// Retires whatever occupies the slot first.
void callInstantiate(World& world, int model, int slot, const InstantiateArguments& a);
void callInitialize(World& world, int model, int slot, Instance* s, fmiReal tStart,
                    fmiBoolean stopTimeDefined, fmiReal tStop);
void callSetDebugLogging(World& world, int model, int slot, Instance* s, fmiBoolean loggingOn);
void callTerminate(World& world, int model, int slot, Instance* s);
void callReset(World& world, int model, int slot, Instance* s);
void callFree(World& world, int model, int slot, Instance* s);

void callSetReal(World& world, int model, int slot, Instance* s, std::size_t nvr,
                 const fmiValueReference* vr, const fmiReal* value);
void callGetReal(World& world, int model, int slot, Instance* s, std::size_t nvr,
                 const fmiValueReference* vr, fmiReal* value);
// The Set or Get of the integers, booleans or strings that `operation` names.
void callOtherType(World& world, Operation operation, int model, int slot, Instance* s,
                   std::size_t nvr, const fmiValueReference* vr, fmiInteger* value);
void callOtherType(World& world, Operation operation, int model, int slot, Instance* s,
                   std::size_t nvr, const fmiValueReference* vr, fmiBoolean* value);
void callOtherType(World& world, Operation operation, int model, int slot, Instance* s,
                   std::size_t nvr, const fmiValueReference* vr, fmiString* value);

void callDoStep(World& world, int model, int slot, Instance* s, fmiReal communicationPoint,
                fmiReal stepSize, fmiBoolean newStep);
void callCancelStep(World& world, int model, int slot, Instance* s);
// One of the five status queries.
void callStatus(World& world, Operation operation, int model, int slot, Instance* s,
                fmiStatusKind kind, bool nullValue);
void callSetRealInputDerivatives(World& world, int model, int slot, Instance* s, std::size_t nvr,
                                 const fmiValueReference* vr, const fmiInteger* order,
                                 const fmiReal* value);
void callGetRealOutputDerivatives(World& world, int model, int slot, Instance* s, std::size_t nvr,
                                  const fmiValueReference* vr, const fmiInteger* order,
                                  fmiReal* value);
// fmiGetVersion or fmiGetTypesPlatform.
void callVersion(World& world, Operation operation, int model);

// Brings an instance that is not in Error through terminate to free; one in
// Error stays with the others in Error for good.
void retire(World& world, int model, int slot);

// Reads one call of `operation` and its arguments from the input, and makes it.
void runCall(World& world, Input& in, Operation operation);

}  // namespace fmi1
