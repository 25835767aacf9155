// A 40 kg mass on the travel stop, released at rest at -0.10 m, 45 mm below
// the stop's lower limit, and coupled to the stop's FMI 3.0 library in the
// two ways a master can import it:
//
// - Model Exchange: this program integrates the mass with the classical
//   Runge-Kutta method and asks the library for the force at every stage,
//   at the stage's own time and displacement. The stop's spring oscillates
//   the mass at sqrt(50000 / 40) = 35.4 rad/s, so the mass leaves the stop
//   at 0.045 m * 35.4 rad/s = 1.59 m/s.
// - Co-simulation: this program hands the library the displacement at the
//   start of each communication step, steps the library, reads the force and
//   then moves the mass over the same step under that force, held constant.
//   The force lags the mass by a step: at 1 ms the mass leaves the stop too
//   fast, at 10 ms the coupling feeds energy in at every bounce and diverges.
//
// Usage: travel_stop_coupling LIBRARY [PICTURE.svg|.png]
// where LIBRARY is the travel stop's FMI 3.0 library (fmi3/<id>.so of a
// build, or binaries/x86_64-linux/<id>.so of its archive).
#include <dlfcn.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <string>
#include <vector>

#include "Fmi3Types.h"
#include "Plot.h"

namespace {

// The travel stop's variables, by value reference, as its model
// description declares them.
constexpr fmi3ValueReference kDisplacement = 4;
constexpr fmi3ValueReference kForce = 5;
// Its instantiation token.
constexpr const char* kToken = "{893cb1e7-47fa-43c9-bb60-4aaabffe8056}";

constexpr double kMass = 40.0;                      // kg
constexpr double kReleasedAt = -0.10;               // m
constexpr double kDuration = 2.0;                   // s
constexpr double kSolverStep = 0.001;               // s, Model Exchange
constexpr double kCouplingSteps[] = {0.001, 0.01};  // s, co-simulation

extern "C" {
using InstantiateModelExchange = fmi3Instance (*)(fmi3String, fmi3String, fmi3String, fmi3Boolean,
                                                  fmi3Boolean, fmi3InstanceEnvironment,
                                                  fmi3LogMessageCallback);
using InstantiateCoSimulation = fmi3Instance (*)(fmi3String, fmi3String, fmi3String, fmi3Boolean,
                                                 fmi3Boolean, fmi3Boolean, fmi3Boolean,
                                                 const fmi3ValueReference[], std::size_t,
                                                 fmi3InstanceEnvironment, fmi3LogMessageCallback,
                                                 fmi3IntermediateUpdateCallback);
using EnterInitializationMode = fmi3Status (*)(fmi3Instance, fmi3Boolean, fmi3Float64, fmi3Float64,
                                               fmi3Boolean, fmi3Float64);
using InstanceCall = fmi3Status (*)(fmi3Instance);
using FreeInstance = void (*)(fmi3Instance);
using UpdateDiscreteStates = fmi3Status (*)(fmi3Instance, fmi3Boolean*, fmi3Boolean*, fmi3Boolean*,
                                            fmi3Boolean*, fmi3Boolean*, fmi3Float64*);
using SetTime = fmi3Status (*)(fmi3Instance, fmi3Float64);
using SetFloat64 = fmi3Status (*)(fmi3Instance, const fmi3ValueReference[], std::size_t,
                                  const fmi3Float64[], std::size_t);
using GetFloat64 = fmi3Status (*)(fmi3Instance, const fmi3ValueReference[], std::size_t,
                                  fmi3Float64[], std::size_t);
using DoStep = fmi3Status (*)(fmi3Instance, fmi3Float64, fmi3Float64, fmi3Boolean, fmi3Boolean*,
                              fmi3Boolean*, fmi3Boolean*, fmi3Float64*);

void printMessage(fmi3InstanceEnvironment, fmi3Status, fmi3String category, fmi3String message) {
    std::fprintf(stderr, "[%s] %s\n", category, message);
}
}

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "travel_stop_coupling: %s\n", what.c_str());
    std::exit(1);
}

void check(fmi3Status status, const char* call) {
    if (status != fmi3OK) {
        fail(std::string(call) + " did not return fmi3OK");
    }
}

struct Library {
    void* handle;

    template <typename Function>
    Function function(const char* name) const {
        void* const address = dlsym(handle, name);
        if (address == nullptr) {
            fail(std::string("the library does not export ") + name);
        }
        return reinterpret_cast<Function>(address);
    }
};

// The mass's position and speed over time, and the largest speed reached.
struct Motion {
    std::vector<double> time;
    std::vector<double> speed;
    double peakSpeed = 0.0;

    void record(double t, double v) {
        time.push_back(t);
        speed.push_back(v);
        peakSpeed = std::fmax(peakSpeed, std::fabs(v));
    }
};

class ModelExchangeStop {
  public:
    explicit ModelExchangeStop(const Library& library)
        : setTime_(library.function<SetTime>("fmi3SetTime")),
          setFloat64_(library.function<SetFloat64>("fmi3SetFloat64")),
          getFloat64_(library.function<GetFloat64>("fmi3GetFloat64")),
          terminate_(library.function<InstanceCall>("fmi3Terminate")),
          freeInstance_(library.function<FreeInstance>("fmi3FreeInstance")) {
        instance_ = library.function<InstantiateModelExchange>("fmi3InstantiateModelExchange")(
            "stop", kToken, nullptr, fmi3False, fmi3False, nullptr, printMessage);
        if (instance_ == nullptr) {
            fail("fmi3InstantiateModelExchange gave no instance");
        }
        check(library.function<EnterInitializationMode>("fmi3EnterInitializationMode")(
                  instance_, fmi3False, 0.0, 0.0, fmi3False, 0.0),
              "fmi3EnterInitializationMode");
        check(library.function<InstanceCall>("fmi3ExitInitializationMode")(instance_),
              "fmi3ExitInitializationMode");
        // The event iteration the standard asks for after initialization;
        // the stop has no discrete states, so it ends at once.
        fmi3Boolean more = fmi3True;
        fmi3Boolean terminate = fmi3False;
        fmi3Boolean nominalsChanged = fmi3False;
        fmi3Boolean valuesChanged = fmi3False;
        fmi3Boolean nextEventTimeDefined = fmi3False;
        fmi3Float64 nextEventTime = 0.0;
        while (more) {
            check(library.function<UpdateDiscreteStates>("fmi3UpdateDiscreteStates")(
                      instance_, &more, &terminate, &nominalsChanged, &valuesChanged,
                      &nextEventTimeDefined, &nextEventTime),
                  "fmi3UpdateDiscreteStates");
        }
        check(library.function<InstanceCall>("fmi3EnterContinuousTimeMode")(instance_),
              "fmi3EnterContinuousTimeMode");
    }

    ~ModelExchangeStop() {
        terminate_(instance_);
        freeInstance_(instance_);
    }
    ModelExchangeStop(const ModelExchangeStop&) = delete;
    ModelExchangeStop& operator=(const ModelExchangeStop&) = delete;

    // The force at this time and displacement, with no delay.
    double force(double time, double displacement) {
        check(setTime_(instance_, time), "fmi3SetTime");
        check(setFloat64_(instance_, &kDisplacement, 1, &displacement, 1), "fmi3SetFloat64");
        double value = 0.0;
        check(getFloat64_(instance_, &kForce, 1, &value, 1), "fmi3GetFloat64");
        return value;
    }

  private:
    SetTime setTime_;
    SetFloat64 setFloat64_;
    GetFloat64 getFloat64_;
    InstanceCall terminate_;
    FreeInstance freeInstance_;
    fmi3Instance instance_ = nullptr;
};

// The classical Runge-Kutta method on x' = v, v' = F(t, x) / m.
Motion runModelExchange(const Library& library) {
    ModelExchangeStop stop(library);
    Motion motion;
    double x = kReleasedAt;
    double v = 0.0;
    const auto steps = static_cast<long>(std::lround(kDuration / kSolverStep));
    const double h = kSolverStep;
    motion.record(0.0, v);
    for (long n = 0; n < steps; ++n) {
        const double t = static_cast<double>(n) * h;
        const double a1 = stop.force(t, x) / kMass;
        const double a2 = stop.force(t + h / 2, x + h / 2 * v) / kMass;
        const double a3 = stop.force(t + h / 2, x + h / 2 * (v + h / 2 * a1)) / kMass;
        const double a4 = stop.force(t + h, x + h * (v + h / 2 * a2)) / kMass;
        x += h / 6 * (v + 2 * (v + h / 2 * a1) + 2 * (v + h / 2 * a2) + (v + h * a3));
        v += h / 6 * (a1 + 2 * a2 + 2 * a3 + a4);
        motion.record(static_cast<double>(n + 1) * h, v);
    }
    return motion;
}

// The library stepped first with the displacement held over the step, then
// the mass over the same step under the force the library gave.
Motion runCoSimulation(const Library& library, double h) {
    fmi3Instance instance = library.function<InstantiateCoSimulation>(
        "fmi3InstantiateCoSimulation")("stop", kToken, nullptr, fmi3False, fmi3False, fmi3False,
                                       fmi3False, nullptr, 0, nullptr, printMessage, nullptr);
    if (instance == nullptr) {
        fail("fmi3InstantiateCoSimulation gave no instance");
    }
    const auto setFloat64 = library.function<SetFloat64>("fmi3SetFloat64");
    const auto getFloat64 = library.function<GetFloat64>("fmi3GetFloat64");
    const auto doStep = library.function<DoStep>("fmi3DoStep");
    check(library.function<EnterInitializationMode>("fmi3EnterInitializationMode")(
              instance, fmi3False, 0.0, 0.0, fmi3False, 0.0),
          "fmi3EnterInitializationMode");
    check(library.function<InstanceCall>("fmi3ExitInitializationMode")(instance),
          "fmi3ExitInitializationMode");
    Motion motion;
    double x = kReleasedAt;
    double v = 0.0;
    motion.record(0.0, v);
    const auto steps = static_cast<long>(std::lround(kDuration / h));
    for (long n = 0; n < steps; ++n) {
        const double t = static_cast<double>(n) * h;
        check(setFloat64(instance, &kDisplacement, 1, &x, 1), "fmi3SetFloat64");
        fmi3Boolean eventHandlingNeeded = fmi3False;
        fmi3Boolean terminateSimulation = fmi3False;
        fmi3Boolean earlyReturn = fmi3False;
        fmi3Float64 lastSuccessfulTime = 0.0;
        check(doStep(instance, t, h, fmi3True, &eventHandlingNeeded, &terminateSimulation,
                     &earlyReturn, &lastSuccessfulTime),
              "fmi3DoStep");
        double force = 0.0;
        check(getFloat64(instance, &kForce, 1, &force, 1), "fmi3GetFloat64");
        const double a = force / kMass;
        x += v * h + a * h * h / 2;
        v += a * h;
        motion.record(static_cast<double>(n + 1) * h, v);
    }
    library.function<InstanceCall>("fmi3Terminate")(instance);
    library.function<FreeInstance>("fmi3FreeInstance")(instance);
    return motion;
}

// The speeds every millisecond; the 10 ms coupling's in a panel of its own,
// since its scale is a hundred times larger.
plot::Figure figureOf(const Motion& modelExchange, const Motion& millisecond,
                      const Motion& tenMilliseconds) {
    plot::Figure figure;
    figure.title = {"A 40 kg mass on the travel stop, released at rest at -0.10 m",
                    "Model Exchange: RK4 at 1 ms, the force at every stage; co-simulation: the "
                    "stop stepped first, then the mass"};
    plot::Panel fine;
    fine.xLabel = "time [s]";
    fine.yLabel = "speed [m/s]";
    fine.x = modelExchange.time;
    fine.curves.push_back({"Model Exchange", modelExchange.speed});
    fine.curves.push_back({"co-simulation, 1 ms", millisecond.speed});
    plot::Panel coarse;
    coarse.xLabel = "time [s]";
    coarse.yLabel = "speed [m/s]";
    coarse.x = tenMilliseconds.time;
    coarse.curves.push_back({"co-simulation, 10 ms", tenMilliseconds.speed});
    figure.panels = {fine, coarse};
    return figure;
}

void draw(const plot::Figure& figure, const std::string& path) {
    const auto format = plot::formatOf(path);
    if (!format) {
        fail("a picture's name ends in .svg or .png: " + path);
    }
    std::string bytes;
    try {
        bytes = plot::render(figure, *format);
    } catch (const std::exception& error) {
        fail(error.what());
    }
    std::ofstream file(path, std::ios::binary);
    file << bytes;
    if (!file.flush()) {
        fail("cannot write " + path);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: travel_stop_coupling LIBRARY [PICTURE.svg|.png]\n");
        return 2;
    }
    const Library library{dlopen(argv[1], RTLD_NOW | RTLD_LOCAL)};
    if (library.handle == nullptr) {
        fail(dlerror());
    }
    const Motion modelExchange = runModelExchange(library);
    const Motion millisecond = runCoSimulation(library, kCouplingSteps[0]);
    const Motion tenMilliseconds = runCoSimulation(library, kCouplingSteps[1]);
    std::printf("peak speed, Model Exchange, force at every RK4 stage: %.3f m/s\n",
                modelExchange.peakSpeed);
    std::printf("peak speed, co-simulation at 1 ms:  %.3f m/s\n", millisecond.peakSpeed);
    std::printf("peak speed, co-simulation at 10 ms: %.3f m/s\n", tenMilliseconds.peakSpeed);
    if (argc == 3) {
        draw(figureOf(modelExchange, millisecond, tenMilliseconds), argv[2]);
    }
    dlclose(library.handle);
    return 0;
}
