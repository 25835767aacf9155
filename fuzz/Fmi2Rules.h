// The FMI 2.0 calls as the fuzz target makes them, on the 2.0 libraries of
// the models: each one works out what the slave must do, makes the call and
// has it checked, as the 1.0 calls do. A null instance stands for a null
// component.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "CallEncoding.h"
#include "Fmi2Types.h"
#include "FmuStateBytes.h"
#include "Input.h"
#include "Master.h"

namespace fmi2 {

struct InstantiateArguments {
    NameKind nameKind = kNameGenerated;
    std::string inputName;
    GuidKind guidKind = kGuidOwn;
    fmi2Type fmuType = fmi2CoSimulation;
    std::uint8_t callbacks = 0;
    fmi2Boolean loggingOn = fmi2False;
    std::uint8_t allocation = 0;
    std::uint8_t extras = 0;
};

// An FMU state as a master passes it: by the handle byte of CallEncoding.h.
using FmuStateChoice = std::uint8_t;

// Serialized bytes for fmi2DeSerializeFMUstate, as the input asks for them.
struct BytesToRead {
    bool null = false;
    std::vector<char> bytes;
};

// Retires whatever occupies the slot first.
void callInstantiate(World& world, int model, int slot, const InstantiateArguments& a);
void callFreeInstance(World& world, int model, int slot, Instance* s);
void callSetDebugLogging(World& world, int model, int slot, Instance* s, fmi2Boolean loggingOn,
                         std::size_t nCategories, const fmi2String* categories);
void callSetupExperiment(World& world, int model, int slot, Instance* s,
                         fmi2Boolean toleranceDefined, fmi2Real tolerance, fmi2Real startTime,
                         fmi2Boolean stopTimeDefined, fmi2Real stopTime);
// fmi2EnterInitializationMode, fmi2ExitInitializationMode, fmi2Terminate,
// fmi2Reset or fmi2CancelStep: the calls that take nothing but the component.
void callPlain(World& world, Operation operation, int model, int slot, Instance* s);

void callSetReal(World& world, int model, int slot, Instance* s, std::size_t nvr,
                 const fmi2ValueReference* vr, const fmi2Real* value);
void callGetReal(World& world, int model, int slot, Instance* s, std::size_t nvr,
                 const fmi2ValueReference* vr, fmi2Real* value);
// The integer, boolean and string calls: `value` is never read or written.
void callOtherType(World& world, Operation operation, int model, int slot, Instance* s,
                   std::size_t nvr, const fmi2ValueReference* vr, void* value);

void callGetFmuState(World& world, int model, int slot, Instance* s, FmuStateChoice choice,
                     bool nullPointer, std::uint8_t allocation);
void callSetFmuState(World& world, int model, int slot, Instance* s, FmuStateChoice choice);
void callFreeFmuState(World& world, int model, int slot, Instance* s, FmuStateChoice choice,
                      bool nullPointer);
void callSerializedSize(World& world, int model, int slot, Instance* s, FmuStateChoice choice,
                        bool nullSize);
// sizeKind: 0 the size needed, 1 none, 2 one byte short, 3 more than needed.
void callSerialize(World& world, int model, int slot, Instance* s, FmuStateChoice choice,
                   std::uint8_t sizeKind, bool nullBytes);
void callDeSerialize(World& world, int model, int slot, Instance* s, FmuStateChoice choice,
                     const BytesToRead& bytes, bool nullPointer, std::uint8_t allocation);

void callDirectionalDerivative(World& world, int model, int slot, Instance* s, std::size_t nUnknown,
                               const fmi2ValueReference* unknowns, std::size_t nKnown,
                               const fmi2ValueReference* knowns, const fmi2Real* seed,
                               fmi2Real* result);
// fmi2SetRealInputDerivatives or fmi2GetRealOutputDerivatives.
void callDerivatives(World& world, Operation operation, int model, int slot, Instance* s,
                     std::size_t nvr, const fmi2ValueReference* vr, const fmi2Integer* order,
                     fmi2Real* value);
void callDoStep(World& world, int model, int slot, Instance* s, fmi2Real communicationPoint,
                fmi2Real stepSize, fmi2Boolean noSetPrior);
// One of the five status queries.
void callStatus(World& world, Operation operation, int model, int slot, Instance* s, int kind,
                bool nullValue);
// One of the Model Exchange calls, with what CallEncoding.h reads for it;
// `states` has `count` elements, or is null.
struct ModelExchangeArguments {
    ModelExchangeFunction function = kEnterEventMode;
    std::uint8_t nulls = 0;
    fmi2Boolean flag = fmi2False;
    fmi2Real time = 0.0;
    std::size_t count = 0;
    fmi2Real* states = nullptr;
};
void callModelExchange(World& world, int model, int slot, Instance* s,
                       const ModelExchangeArguments& a);
// fmi2GetVersion or fmi2GetTypesPlatform.
void callVersion(World& world, Operation operation, int model);

// Frees the instance in the slot, whatever its state.
void retire(World& world, int model, int slot);

// The identity a library of the model checks serialized bytes against.
fmuStateBytes::Identity identityOf(int model);

// Reads one call of `operation` and its arguments from the input, and makes it.
void runCall(World& world, Input& in, Operation operation);

}  // namespace fmi2
