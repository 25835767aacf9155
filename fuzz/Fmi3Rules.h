// The FMI 3.0 calls as the fuzz target makes them, on the 3.0 libraries of
// the models: each one works out what the slave must do, makes the call and
// has it checked, as the 1.0 and 2.0 calls do. A null instance stands for a
// null fmi3Instance. A 3.0 instance takes its memory from the C runtime's
// calloc, which the master counts and can make fail, and AddressSanitizer
// tells whether each block the master knows of is still allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "CallEncoding.h"
#include "Fmi3Types.h"
#include "FmuStateBytes.h"
#include "Input.h"
#include "Master.h"

namespace fmi3 {

struct InstantiateArguments {
    NameKind nameKind = kNameGenerated;
    std::string inputName;
    GuidKind tokenKind = kGuidOwn;
    fmi3Boolean loggingOn = false;
    std::uint8_t flags = 0;
    std::size_t nRequired = 0;
    bool nullRequired = false;
    bool callocFails = false;
};

// An FMU state as a master passes it: by the handle byte of CallEncoding.h.
using FmuStateChoice = std::uint8_t;

// Serialized bytes for fmi3DeserializeFMUState, as the input asks for them.
struct BytesToRead {
    bool null = false;
    std::vector<char> bytes;
};

// The arguments of fmi3GetDirectionalDerivative and fmi3GetAdjointDerivative.
struct DerivativeArguments {
    const fmi3ValueReference* unknowns = nullptr;
    std::size_t nUnknowns = 0;
    const fmi3ValueReference* knowns = nullptr;
    std::size_t nKnowns = 0;
    const fmi3Float64* seed = nullptr;
    std::size_t nSeed = 0;
    fmi3Float64* sensitivity = nullptr;
    std::size_t nSensitivity = 0;
};

// fmi3InstantiateCoSimulation or fmi3InstantiateModelExchange; retires
// whatever occupies the slot first.
void callInstantiate(World& world, int model, int slot, const InstantiateArguments& a,
                     bool modelExchange);
// fmi3InstantiateScheduledExecution, which this FMU does not have.
void callInstantiateScheduledExecution(World& world, int model, int slot,
                                       const InstantiateArguments& a);
void callFreeInstance(World& world, int model, int slot, Instance* s);
void callSetDebugLogging(World& world, int model, int slot, Instance* s, fmi3Boolean loggingOn,
                         std::size_t nCategories, const fmi3String* categories);
void callEnterInitializationMode(World& world, int model, int slot, Instance* s,
                                 fmi3Boolean toleranceDefined, fmi3Float64 tolerance,
                                 fmi3Float64 startTime, fmi3Boolean stopTimeDefined,
                                 fmi3Float64 stopTime);
// fmi3ExitInitializationMode, fmi3Terminate or fmi3Reset.
void callPlain(World& world, Operation operation, int model, int slot, Instance* s);

void callSetFloat64(World& world, int model, int slot, Instance* s, std::size_t nvr,
                    const fmi3ValueReference* vr, const fmi3Float64* values, std::size_t nValues);
void callGetFloat64(World& world, int model, int slot, Instance* s, std::size_t nvr,
                    const fmi3ValueReference* vr, fmi3Float64* values, std::size_t nValues);
// One of the value-access functions of the types no model has, by its index
// in the library's table (otherTypeCount of them); `values` is never read or
// written.
std::size_t otherTypeCount();
void callOtherType(World& world, std::size_t function, int model, int slot, Instance* s,
                   std::size_t nvr, const fmi3ValueReference* vr, void* values,
                   std::size_t nValues);

void callGetFmuState(World& world, int model, int slot, Instance* s, FmuStateChoice choice,
                     bool nullPointer, bool callocFails);
void callSetFmuState(World& world, int model, int slot, Instance* s, FmuStateChoice choice);
void callFreeFmuState(World& world, int model, int slot, Instance* s, FmuStateChoice choice,
                      bool nullPointer);
void callSerializedSize(World& world, int model, int slot, Instance* s, FmuStateChoice choice,
                        bool nullSize);
// sizeKind: 0 the size needed, 1 none, 2 one byte short, 3 more than needed.
void callSerialize(World& world, int model, int slot, Instance* s, FmuStateChoice choice,
                   std::uint8_t sizeKind, bool nullBytes);
void callDeserialize(World& world, int model, int slot, Instance* s, FmuStateChoice choice,
                     const BytesToRead& bytes, bool nullPointer, bool callocFails);

// fmi3GetDirectionalDerivative, or fmi3GetAdjointDerivative for `adjoint`.
void callDerivative(World& world, bool adjoint, int model, int slot, Instance* s,
                    const DerivativeArguments& a);
void callNumberOfDependencies(World& world, int model, int slot, Instance* s,
                              fmi3ValueReference dependent, bool nullCount);
// countByte: the count passed, as kWrongCount says, beside the count of
// dependencies the instance has; nulls: from kArraysTampered on, its low four
// bits leave out the four arrays in the order of the arguments.
void callVariableDependencies(World& world, int model, int slot, Instance* s,
                              fmi3ValueReference dependent, std::uint8_t countByte,
                              std::uint8_t nulls);
void callOutputDerivatives(World& world, int model, int slot, Instance* s, std::size_t nvr,
                           const fmi3ValueReference* vr, const fmi3Int32* orders,
                           fmi3Float64* values, std::size_t nValues);

// nullResults: the bits of kNullStepResults.
void callDoStep(World& world, int model, int slot, Instance* s, fmi3Float64 communicationPoint,
                fmi3Float64 stepSize, fmi3Boolean noSetPrior, std::uint8_t nullResults);
// One of the functions that do not apply, by its index in the library's
// table (inapplicableCount of them).
std::size_t inapplicableCount();
void callInapplicable(World& world, std::size_t function, int model, int slot, Instance* s);
void callVersion(World& world, int model);
// One of the Model Exchange functions by its index in the library's table
// (modelExchangeCount of them): `count` for the vector calls, `nullResult`
// leaving out the first result pointer, `time` for fmi3SetTime.
std::size_t modelExchangeCount();
void callModelExchange(World& world, std::size_t function, int model, int slot, Instance* s,
                       std::size_t count, bool nullResult, double time);

// Frees the instance in the slot, whatever its state.
void retire(World& world, int model, int slot);

// The identity a library of the model checks serialized bytes against.
fmuStateBytes::Identity identityOf(int model);

// Reads one call of `operation` and its arguments from the input, and makes it.
void runCall(World& world, Input& in, Operation operation);

}  // namespace fmi3
