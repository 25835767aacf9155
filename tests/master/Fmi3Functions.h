// The FMI 3.0 functions of a loaded library that the tests call, resolved by
// their own names; the names of every function a 3.0 binary exports; and the
// recording logMessage in its 3.0 form.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "Fmi3Types.h"
#include "SlaveLibrary.h"

struct Fmi3Functions {
    const char* (*getVersion)() = nullptr;
    fmi3Status (*setDebugLogging)(fmi3Instance, fmi3Boolean, std::size_t,
                                  const fmi3String[]) = nullptr;
    fmi3Instance (*instantiateModelExchange)(fmi3String, fmi3String, fmi3String, fmi3Boolean,
                                             fmi3Boolean, fmi3InstanceEnvironment,
                                             fmi3LogMessageCallback) = nullptr;
    fmi3Instance (*instantiateCoSimulation)(fmi3String, fmi3String, fmi3String, fmi3Boolean,
                                            fmi3Boolean, fmi3Boolean, fmi3Boolean,
                                            const fmi3ValueReference[], std::size_t,
                                            fmi3InstanceEnvironment, fmi3LogMessageCallback,
                                            fmi3IntermediateUpdateCallback) = nullptr;
    fmi3Instance (*instantiateScheduledExecution)(fmi3String, fmi3String, fmi3String, fmi3Boolean,
                                                  fmi3Boolean, fmi3InstanceEnvironment,
                                                  fmi3LogMessageCallback, fmi3ClockUpdateCallback,
                                                  fmi3LockPreemptionCallback,
                                                  fmi3UnlockPreemptionCallback) = nullptr;
    void (*freeInstance)(fmi3Instance) = nullptr;
    fmi3Status (*enterInitializationMode)(fmi3Instance, fmi3Boolean, fmi3Float64, fmi3Float64,
                                          fmi3Boolean, fmi3Float64) = nullptr;
    fmi3Status (*exitInitializationMode)(fmi3Instance) = nullptr;
    fmi3Status (*enterEventMode)(fmi3Instance) = nullptr;
    fmi3Status (*terminate)(fmi3Instance) = nullptr;
    fmi3Status (*reset)(fmi3Instance) = nullptr;
    fmi3Status (*getFloat64)(fmi3Instance, const fmi3ValueReference[], std::size_t, fmi3Float64[],
                             std::size_t) = nullptr;
    fmi3Status (*setFloat64)(fmi3Instance, const fmi3ValueReference[], std::size_t,
                             const fmi3Float64[], std::size_t) = nullptr;
    fmi3Status (*getInt32)(fmi3Instance, const fmi3ValueReference[], std::size_t, fmi3Int32[],
                           std::size_t) = nullptr;
    fmi3Status (*setBoolean)(fmi3Instance, const fmi3ValueReference[], std::size_t,
                             const fmi3Boolean[], std::size_t) = nullptr;
    fmi3Status (*getBinary)(fmi3Instance, const fmi3ValueReference[], std::size_t, std::size_t[],
                            fmi3Binary[], std::size_t) = nullptr;
    fmi3Status (*getClock)(fmi3Instance, const fmi3ValueReference[], std::size_t,
                           fmi3Clock[]) = nullptr;
    fmi3Status (*getNumberOfVariableDependencies)(fmi3Instance, fmi3ValueReference,
                                                  std::size_t*) = nullptr;
    fmi3Status (*getVariableDependencies)(fmi3Instance, fmi3ValueReference, std::size_t[],
                                          fmi3ValueReference[], std::size_t[], fmi3DependencyKind[],
                                          std::size_t) = nullptr;
    fmi3Status (*getFMUState)(fmi3Instance, fmi3FMUState*) = nullptr;
    fmi3Status (*setFMUState)(fmi3Instance, fmi3FMUState) = nullptr;
    fmi3Status (*freeFMUState)(fmi3Instance, fmi3FMUState*) = nullptr;
    fmi3Status (*serializedFMUStateSize)(fmi3Instance, fmi3FMUState, std::size_t*) = nullptr;
    fmi3Status (*serializeFMUState)(fmi3Instance, fmi3FMUState, fmi3Byte[], std::size_t) = nullptr;
    fmi3Status (*deserializeFMUState)(fmi3Instance, const fmi3Byte[], std::size_t,
                                      fmi3FMUState*) = nullptr;
    using Derivative = fmi3Status (*)(fmi3Instance, const fmi3ValueReference[], std::size_t,
                                      const fmi3ValueReference[], std::size_t, const fmi3Float64[],
                                      std::size_t, fmi3Float64[], std::size_t);
    Derivative getDirectionalDerivative = nullptr;
    Derivative getAdjointDerivative = nullptr;
    fmi3Status (*enterConfigurationMode)(fmi3Instance) = nullptr;
    fmi3Status (*enterStepMode)(fmi3Instance) = nullptr;
    fmi3Status (*getOutputDerivatives)(fmi3Instance, const fmi3ValueReference[], std::size_t,
                                       const fmi3Int32[], fmi3Float64[], std::size_t) = nullptr;
    fmi3Status (*doStep)(fmi3Instance, fmi3Float64, fmi3Float64, fmi3Boolean, fmi3Boolean*,
                         fmi3Boolean*, fmi3Boolean*, fmi3Float64*) = nullptr;
    fmi3Status (*setTime)(fmi3Instance, fmi3Float64) = nullptr;
    fmi3Status (*getNumberOfContinuousStates)(fmi3Instance, std::size_t*) = nullptr;
    fmi3Status (*activateModelPartition)(fmi3Instance, fmi3ValueReference, fmi3Float64) = nullptr;
    fmi3Status (*getIntervalDecimal)(fmi3Instance, const fmi3ValueReference[], std::size_t,
                                     fmi3Float64[], fmi3IntervalQualifier[]) = nullptr;
    fmi3Status (*updateDiscreteStates)(fmi3Instance, fmi3Boolean*, fmi3Boolean*, fmi3Boolean*,
                                       fmi3Boolean*, fmi3Boolean*, fmi3Float64*) = nullptr;
    fmi3Status (*evaluateDiscreteStates)(fmi3Instance) = nullptr;
    fmi3Status (*exitConfigurationMode)(fmi3Instance) = nullptr;
    fmi3Status (*getIntervalFraction)(fmi3Instance, const fmi3ValueReference[], std::size_t,
                                      fmi3UInt64[], fmi3UInt64[],
                                      fmi3IntervalQualifier[]) = nullptr;
    fmi3Status (*getShiftDecimal)(fmi3Instance, const fmi3ValueReference[], std::size_t,
                                  fmi3Float64[]) = nullptr;
    fmi3Status (*getShiftFraction)(fmi3Instance, const fmi3ValueReference[], std::size_t,
                                   fmi3UInt64[], fmi3UInt64[]) = nullptr;
    fmi3Status (*setIntervalDecimal)(fmi3Instance, const fmi3ValueReference[], std::size_t,
                                     const fmi3Float64[]) = nullptr;
    fmi3Status (*setIntervalFraction)(fmi3Instance, const fmi3ValueReference[], std::size_t,
                                      const fmi3UInt64[], const fmi3UInt64[]) = nullptr;
    fmi3Status (*setShiftDecimal)(fmi3Instance, const fmi3ValueReference[], std::size_t,
                                  const fmi3Float64[]) = nullptr;
    fmi3Status (*setShiftFraction)(fmi3Instance, const fmi3ValueReference[], std::size_t,
                                   const fmi3UInt64[], const fmi3UInt64[]) = nullptr;
    // Model Exchange.
    fmi3Status (*enterContinuousTimeMode)(fmi3Instance) = nullptr;
    fmi3Status (*completedIntegratorStep)(fmi3Instance, fmi3Boolean, fmi3Boolean*,
                                          fmi3Boolean*) = nullptr;
    using Vector = fmi3Status (*)(fmi3Instance, fmi3Float64[], std::size_t);
    fmi3Status (*setContinuousStates)(fmi3Instance, const fmi3Float64[], std::size_t) = nullptr;
    Vector getContinuousStateDerivatives = nullptr;
    Vector getEventIndicators = nullptr;
    Vector getContinuousStates = nullptr;
    Vector getNominalsOfContinuousStates = nullptr;
    fmi3Status (*getNumberOfEventIndicators)(fmi3Instance, std::size_t*) = nullptr;
};

// The 75 functions that every FMI 3.0 binary exports, whatever its interfaces.
const std::vector<std::string>& fmi3FunctionNames();

// Resolves the functions above; false with the missing names in `error`
// otherwise.
bool resolveFmi3Functions(const SlaveLibrary& library, Fmi3Functions& functions,
                          std::string& error);

// The master's environment pointer that every 3.0 logMessage call must carry.
extern int fmi3Environment;

// Records a 3.0 message in the process-wide recorder: the environment as the
// component, no instance name, and the finished message as both format and
// text, with no arguments fetched.
extern "C" void recordingLogMessage(fmi3InstanceEnvironment instanceEnvironment, fmi3Status status,
                                    fmi3String category, fmi3String message);
