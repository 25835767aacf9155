// The FMI 2.0 functions of a loaded library, of both interfaces, resolved by their
// own names, and the recording callbacks in their 2.0 form.
#pragma once

#include <cstddef>
#include <string>

#include "Fmi2Types.h"
#include "SlaveLibrary.h"

struct Fmi2Functions {
    const char* (*getTypesPlatform)() = nullptr;
    const char* (*getVersion)() = nullptr;
    fmi2Status (*setDebugLogging)(fmi2Component, fmi2Boolean, std::size_t,
                                  const fmi2String[]) = nullptr;
    fmi2Component (*instantiate)(fmi2String, fmi2Type, fmi2String, fmi2String,
                                 const fmi2CallbackFunctions*, fmi2Boolean, fmi2Boolean) = nullptr;
    void (*freeInstance)(fmi2Component) = nullptr;
    fmi2Status (*setupExperiment)(fmi2Component, fmi2Boolean, fmi2Real, fmi2Real, fmi2Boolean,
                                  fmi2Real) = nullptr;
    fmi2Status (*enterInitializationMode)(fmi2Component) = nullptr;
    fmi2Status (*exitInitializationMode)(fmi2Component) = nullptr;
    fmi2Status (*terminate)(fmi2Component) = nullptr;
    fmi2Status (*reset)(fmi2Component) = nullptr;
    fmi2Status (*getReal)(fmi2Component, const fmi2ValueReference[], std::size_t,
                          fmi2Real[]) = nullptr;
    fmi2Status (*getInteger)(fmi2Component, const fmi2ValueReference[], std::size_t,
                             fmi2Integer[]) = nullptr;
    fmi2Status (*getBoolean)(fmi2Component, const fmi2ValueReference[], std::size_t,
                             fmi2Boolean[]) = nullptr;
    fmi2Status (*getString)(fmi2Component, const fmi2ValueReference[], std::size_t,
                            fmi2String[]) = nullptr;
    fmi2Status (*setReal)(fmi2Component, const fmi2ValueReference[], std::size_t,
                          const fmi2Real[]) = nullptr;
    fmi2Status (*setInteger)(fmi2Component, const fmi2ValueReference[], std::size_t,
                             const fmi2Integer[]) = nullptr;
    fmi2Status (*setBoolean)(fmi2Component, const fmi2ValueReference[], std::size_t,
                             const fmi2Boolean[]) = nullptr;
    fmi2Status (*setString)(fmi2Component, const fmi2ValueReference[], std::size_t,
                            const fmi2String[]) = nullptr;
    fmi2Status (*getFMUstate)(fmi2Component, fmi2FMUstate*) = nullptr;
    fmi2Status (*setFMUstate)(fmi2Component, fmi2FMUstate) = nullptr;
    fmi2Status (*freeFMUstate)(fmi2Component, fmi2FMUstate*) = nullptr;
    fmi2Status (*serializedFMUstateSize)(fmi2Component, fmi2FMUstate, std::size_t*) = nullptr;
    fmi2Status (*serializeFMUstate)(fmi2Component, fmi2FMUstate, fmi2Byte[], std::size_t) = nullptr;
    fmi2Status (*deSerializeFMUstate)(fmi2Component, const fmi2Byte[], std::size_t,
                                      fmi2FMUstate*) = nullptr;
    fmi2Status (*getDirectionalDerivative)(fmi2Component, const fmi2ValueReference[], std::size_t,
                                           const fmi2ValueReference[], std::size_t,
                                           const fmi2Real[], fmi2Real[]) = nullptr;
    fmi2Status (*setRealInputDerivatives)(fmi2Component, const fmi2ValueReference[], std::size_t,
                                          const fmi2Integer[], const fmi2Real[]) = nullptr;
    fmi2Status (*getRealOutputDerivatives)(fmi2Component, const fmi2ValueReference[], std::size_t,
                                           const fmi2Integer[], fmi2Real[]) = nullptr;
    fmi2Status (*doStep)(fmi2Component, fmi2Real, fmi2Real, fmi2Boolean) = nullptr;
    fmi2Status (*cancelStep)(fmi2Component) = nullptr;
    fmi2Status (*getStatus)(fmi2Component, fmi2StatusKind, fmi2Status*) = nullptr;
    fmi2Status (*getRealStatus)(fmi2Component, fmi2StatusKind, fmi2Real*) = nullptr;
    fmi2Status (*getIntegerStatus)(fmi2Component, fmi2StatusKind, fmi2Integer*) = nullptr;
    fmi2Status (*getBooleanStatus)(fmi2Component, fmi2StatusKind, fmi2Boolean*) = nullptr;
    fmi2Status (*getStringStatus)(fmi2Component, fmi2StatusKind, fmi2String*) = nullptr;
    fmi2Status (*enterEventMode)(fmi2Component) = nullptr;
    fmi2Status (*newDiscreteStates)(fmi2Component, fmi2EventInfo*) = nullptr;
    fmi2Status (*enterContinuousTimeMode)(fmi2Component) = nullptr;
    fmi2Status (*completedIntegratorStep)(fmi2Component, fmi2Boolean, fmi2Boolean*,
                                          fmi2Boolean*) = nullptr;
    fmi2Status (*setTime)(fmi2Component, fmi2Real) = nullptr;
    fmi2Status (*setContinuousStates)(fmi2Component, const fmi2Real[], std::size_t) = nullptr;
    fmi2Status (*getDerivatives)(fmi2Component, fmi2Real[], std::size_t) = nullptr;
    fmi2Status (*getEventIndicators)(fmi2Component, fmi2Real[], std::size_t) = nullptr;
    fmi2Status (*getContinuousStates)(fmi2Component, fmi2Real[], std::size_t) = nullptr;
    fmi2Status (*getNominalsOfContinuousStates)(fmi2Component, fmi2Real[], std::size_t) = nullptr;
};

// Resolves all 44 functions; false with the missing names in `error` otherwise.
bool resolveFmi2Functions(const SlaveLibrary& library, Fmi2Functions& functions,
                          std::string& error);

// The master's environment pointer that every 2.0 logger call must carry.
extern int fmi2Environment;

// The recording logger in its 2.0 form: it records into the same store as
// the 1.0 logger, whose status has the same values.
extern "C" void recordingLogger2(fmi2ComponentEnvironment componentEnvironment,
                                 fmi2String instanceName, fmi2Status status, fmi2String category,
                                 fmi2String message, ...);

// The recording logger, allocator and free in their 2.0 form. stepFinished
// stays null: the slave never steps asynchronously.
fmi2CallbackFunctions recordingCallbacks2();
