#include "SlaveLibrary.h"

#include <cstring>
#include <type_traits>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

#ifdef _WIN32

std::string lastWindowsError() {
    const DWORD code = GetLastError();
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text = "error " + std::to_string(code);
    if (length != 0 && buffer != nullptr) {
        std::string message(buffer, length);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                    message.back() == ' ' || message.back() == '.')) {
            message.pop_back();
        }
        text += ": " + message;
    }
    if (buffer != nullptr) {
        LocalFree(buffer);
    }
    return text;
}

#endif

// Converts a looked-up address to a typed function pointer. Copying the bytes sidesteps the
// object/function pointer cast, which is only conditionally supported, and MinGW's
// -Wcast-function-type warning on FARPROC.
template <typename Function>
Function toFunction(void* address) {
    static_assert(sizeof(Function) == sizeof(void*), "function and data pointers differ in size");
    Function function;
    std::memcpy(&function, &address, sizeof function);
    return function;
}

}  // namespace

SlaveLibrary::~SlaveLibrary() {
    unload();
}

std::string SlaveLibrary::identifierFromPath(const std::string& path) {
    // Both separators are accepted everywhere: Windows paths may use either, and a Linux test
    // may well be handed a path written with '/' for a .dll name.
    const std::size_t separator = path.find_last_of("/\\");
    std::string name = separator == std::string::npos ? path : path.substr(separator + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot != 0) {
        name.erase(dot);
    }
    if (name.size() > 3 && name.compare(0, 3, "lib") == 0) {
        name.erase(0, 3);
    }
    return name;
}

void SlaveLibrary::unload() {
    if (handle_ != nullptr) {
#ifdef _WIN32
        FreeLibrary(static_cast<HMODULE>(handle_));
#else
        dlclose(handle_);
#endif
        handle_ = nullptr;
    }
    functions_ = FmiFunctions{};
    identifier_.clear();
    path_.clear();
    fmiVersion_ = 1;
}

void* SlaveLibrary::symbol(const char* name) const {
    if (handle_ == nullptr || name == nullptr) {
        return nullptr;
    }
#ifdef _WIN32
    FARPROC address = GetProcAddress(static_cast<HMODULE>(handle_), name);
    void* result = nullptr;
    static_assert(sizeof address == sizeof result, "function and data pointers differ in size");
    std::memcpy(&result, &address, sizeof result);
    return result;
#else
    return dlsym(handle_, name);
#endif
}

bool SlaveLibrary::load(const std::string& path, std::string& error) {
    unload();
    error.clear();

    const std::string identifier = identifierFromPath(path);
    if (identifier.empty()) {
        error = "cannot derive a model identifier from '" + path + "'";
        return false;
    }

#ifdef _WIN32
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        error = "cannot load '" + path + "': " + lastWindowsError();
        return false;
    }
    handle_ = module;
#else
    // RTLD_LOCAL: several slaves loaded in one process must not see each other's symbols,
    // which is the situation the identifier prefix exists for.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        error = "cannot load '" + path + "': " + (reason != nullptr ? reason : "unknown error");
        return false;
    }
    handle_ = handle;
#endif
    identifier_ = identifier;
    path_ = path;
    if (symbol("fmi2GetVersion") != nullptr) {
        fmiVersion_ = 2;
        return true;
    }
    if (symbol("fmi3GetVersion") != nullptr) {
        fmiVersion_ = 3;
        return true;
    }

    std::string missing;
    auto resolve = [&](auto& target, const char* fmiName) {
        const std::string name = identifier + "_" + fmiName;
        void* address = symbol(name.c_str());
        if (address == nullptr) {
            if (!missing.empty()) {
                missing += ", ";
            }
            missing += name;
            return;
        }
        target = toFunction<std::remove_reference_t<decltype(target)>>(address);
    };

    FmiFunctions& f = functions_;
    resolve(f.getVersion, "fmiGetVersion");
    resolve(f.getTypesPlatform, "fmiGetTypesPlatform");
    resolve(f.instantiateSlave, "fmiInstantiateSlave");
    resolve(f.initializeSlave, "fmiInitializeSlave");
    resolve(f.setDebugLogging, "fmiSetDebugLogging");
    resolve(f.terminateSlave, "fmiTerminateSlave");
    resolve(f.resetSlave, "fmiResetSlave");
    resolve(f.freeSlaveInstance, "fmiFreeSlaveInstance");
    resolve(f.setReal, "fmiSetReal");
    resolve(f.setInteger, "fmiSetInteger");
    resolve(f.setBoolean, "fmiSetBoolean");
    resolve(f.setString, "fmiSetString");
    resolve(f.getReal, "fmiGetReal");
    resolve(f.getInteger, "fmiGetInteger");
    resolve(f.getBoolean, "fmiGetBoolean");
    resolve(f.getString, "fmiGetString");
    resolve(f.doStep, "fmiDoStep");
    resolve(f.cancelStep, "fmiCancelStep");
    resolve(f.getStatus, "fmiGetStatus");
    resolve(f.getRealStatus, "fmiGetRealStatus");
    resolve(f.getIntegerStatus, "fmiGetIntegerStatus");
    resolve(f.getBooleanStatus, "fmiGetBooleanStatus");
    resolve(f.getStringStatus, "fmiGetStringStatus");
    resolve(f.setRealInputDerivatives, "fmiSetRealInputDerivatives");
    resolve(f.getRealOutputDerivatives, "fmiGetRealOutputDerivatives");

    if (!missing.empty()) {
        error = "'" + path + "' does not export " + missing;
        unload();
        return false;
    }
    return true;
}
