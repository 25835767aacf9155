// Loads a built co-simulation slave library at run time, the way a real master does: by file
// name, resolving every entry point through the model identifier prefix and nothing else.
#pragma once

#include <cstddef>
#include <string>

#include "FmiTypes.h"

extern "C" {

using fmiGetVersionFunction = const char* (*)();
using fmiGetTypesPlatformFunction = const char* (*)();
using fmiInstantiateSlaveFunction = fmiComponent (*)(fmiString instanceName, fmiString fmuGUID,
                                                     fmiString fmuLocation, fmiString mimeType,
                                                     fmiReal timeout, fmiBoolean visible,
                                                     fmiBoolean interactive,
                                                     fmiCallbackFunctions functions,
                                                     fmiBoolean loggingOn);
using fmiInitializeSlaveFunction = fmiStatus (*)(fmiComponent c, fmiReal tStart,
                                                 fmiBoolean StopTimeDefined, fmiReal tStop);
using fmiSetDebugLoggingFunction = fmiStatus (*)(fmiComponent c, fmiBoolean loggingOn);
using fmiTerminateSlaveFunction = fmiStatus (*)(fmiComponent c);
using fmiResetSlaveFunction = fmiStatus (*)(fmiComponent c);
using fmiFreeSlaveInstanceFunction = void (*)(fmiComponent c);

using fmiSetRealFunction = fmiStatus (*)(fmiComponent c, const fmiValueReference vr[],
                                         std::size_t nvr, const fmiReal value[]);
using fmiSetIntegerFunction = fmiStatus (*)(fmiComponent c, const fmiValueReference vr[],
                                            std::size_t nvr, const fmiInteger value[]);
using fmiSetBooleanFunction = fmiStatus (*)(fmiComponent c, const fmiValueReference vr[],
                                            std::size_t nvr, const fmiBoolean value[]);
using fmiSetStringFunction = fmiStatus (*)(fmiComponent c, const fmiValueReference vr[],
                                           std::size_t nvr, const fmiString value[]);

using fmiGetRealFunction = fmiStatus (*)(fmiComponent c, const fmiValueReference vr[],
                                         std::size_t nvr, fmiReal value[]);
using fmiGetIntegerFunction = fmiStatus (*)(fmiComponent c, const fmiValueReference vr[],
                                            std::size_t nvr, fmiInteger value[]);
using fmiGetBooleanFunction = fmiStatus (*)(fmiComponent c, const fmiValueReference vr[],
                                            std::size_t nvr, fmiBoolean value[]);
using fmiGetStringFunction = fmiStatus (*)(fmiComponent c, const fmiValueReference vr[],
                                           std::size_t nvr, fmiString value[]);

using fmiDoStepFunction = fmiStatus (*)(fmiComponent c, fmiReal currentCommunicationPoint,
                                        fmiReal communicationStepSize, fmiBoolean newStep);
using fmiCancelStepFunction = fmiStatus (*)(fmiComponent c);

using fmiGetStatusFunction = fmiStatus (*)(fmiComponent c, fmiStatusKind s, fmiStatus* value);
using fmiGetRealStatusFunction = fmiStatus (*)(fmiComponent c, fmiStatusKind s, fmiReal* value);
using fmiGetIntegerStatusFunction = fmiStatus (*)(fmiComponent c, fmiStatusKind s,
                                                  fmiInteger* value);
using fmiGetBooleanStatusFunction = fmiStatus (*)(fmiComponent c, fmiStatusKind s,
                                                  fmiBoolean* value);
using fmiGetStringStatusFunction = fmiStatus (*)(fmiComponent c, fmiStatusKind s, fmiString* value);

using fmiSetRealInputDerivativesFunction = fmiStatus (*)(fmiComponent c,
                                                         const fmiValueReference vr[],
                                                         std::size_t nvr, const fmiInteger order[],
                                                         const fmiReal value[]);
using fmiGetRealOutputDerivativesFunction = fmiStatus (*)(fmiComponent c,
                                                          const fmiValueReference vr[],
                                                          std::size_t nvr, const fmiInteger order[],
                                                          fmiReal value[]);

}  // extern "C"

// One entry point per co-simulation function, all resolved (non-null) after a successful load.
struct FmiFunctions {
    fmiGetVersionFunction getVersion = nullptr;
    fmiGetTypesPlatformFunction getTypesPlatform = nullptr;
    fmiInstantiateSlaveFunction instantiateSlave = nullptr;
    fmiInitializeSlaveFunction initializeSlave = nullptr;
    fmiSetDebugLoggingFunction setDebugLogging = nullptr;
    fmiTerminateSlaveFunction terminateSlave = nullptr;
    fmiResetSlaveFunction resetSlave = nullptr;
    fmiFreeSlaveInstanceFunction freeSlaveInstance = nullptr;
    fmiSetRealFunction setReal = nullptr;
    fmiSetIntegerFunction setInteger = nullptr;
    fmiSetBooleanFunction setBoolean = nullptr;
    fmiSetStringFunction setString = nullptr;
    fmiGetRealFunction getReal = nullptr;
    fmiGetIntegerFunction getInteger = nullptr;
    fmiGetBooleanFunction getBoolean = nullptr;
    fmiGetStringFunction getString = nullptr;
    fmiDoStepFunction doStep = nullptr;
    fmiCancelStepFunction cancelStep = nullptr;
    fmiGetStatusFunction getStatus = nullptr;
    fmiGetRealStatusFunction getRealStatus = nullptr;
    fmiGetIntegerStatusFunction getIntegerStatus = nullptr;
    fmiGetBooleanStatusFunction getBooleanStatus = nullptr;
    fmiGetStringStatusFunction getStringStatus = nullptr;
    fmiSetRealInputDerivativesFunction setRealInputDerivatives = nullptr;
    fmiGetRealOutputDerivativesFunction getRealOutputDerivatives = nullptr;
};

class SlaveLibrary {
  public:
    SlaveLibrary() = default;
    ~SlaveLibrary();

    SlaveLibrary(const SlaveLibrary&) = delete;
    SlaveLibrary& operator=(const SlaveLibrary&) = delete;

    // Opens the library and resolves all 25 functions as <identifier>_fmi<Name>; a library that
    // exports fmi2GetVersion is an FMI 2.0 library, whose functions resolveFmi2Functions()
    // resolves, one that exports fmi3GetVersion an FMI 3.0 library, whose functions
    // resolveFmi3Functions() resolves; for neither is any 1.0 function looked for. On failure
    // returns false, leaves nothing loaded and explains why in `error` (naming the missing
    // symbol when one is missing). Loading again first unloads the current library.
    bool load(const std::string& path, std::string& error);

    // Closes the library; every pointer obtained from it becomes invalid.
    void unload();

    bool isLoaded() const {
        return handle_ != nullptr;
    }

    // The loader's handle of the library (an HMODULE on Windows); null when not loaded.
    void* nativeHandle() const {
        return handle_;
    }

    // Raw lookup of any exported symbol (function or data); null when absent or not loaded.
    void* symbol(const char* name) const;

    const FmiFunctions& fmi() const {
        return functions_;
    }
    // 1, 2 or 3: the FMI version of the loaded library.
    int fmiVersion() const {
        return fmiVersion_;
    }
    const std::string& identifier() const {
        return identifier_;
    }
    const std::string& path() const {
        return path_;
    }

    // "/x/libModel.so" -> "Model", "Model.dll" -> "Model": the base name without a
    // leading "lib" (added by Unix and MinGW toolchains) and without its extension.
    static std::string identifierFromPath(const std::string& path);

  private:
    void* handle_ = nullptr;
    FmiFunctions functions_;
    std::string identifier_;
    std::string path_;
    int fmiVersion_ = 1;
};
