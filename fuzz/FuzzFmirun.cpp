// The fuzz targets of fmirun's readers of a user's files, one per reader
// (chosen when built): the input CSV, the sweep table, the model description,
// the archive. Any
// input must end in a result or a Failure with the status of its kind, never
// in a crash, a leak, undefined behaviour or another exception; what a reader
// accepts must hold what the run relies on.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Archive.h"
#include "Failure.h"
#include "Inputs.h"
#include "ModelDescription.h"

namespace {

[[noreturn]] void broken() {
    std::abort();
}

void expectStatus(const Failure& failure, ExitStatus status) {
    if (failure.status() != status || std::string(failure.what()).empty()) {
        broken();
    }
}

#if defined(FUZZ_FMIRUN_INPUTS) || defined(FUZZ_FMIRUN_SWEEP)
// A model with two inputs, a parameter and an output, as the anti-roll bar;
// one input declares a unit, so that units in a header are checked.
const ModelDescription& model() {
    static const ModelDescription described = [] {
        ModelDescription m;
        m.modelIdentifier = "SingleBar";
        m.guid = "{fuzz}";
        m.variables = {{"rate", 0, Causality::Parameter, 15000.0, "", ""},
                       {"displacement1", 1, Causality::Input, 0.0, "m", ""},
                       {"displacement2", 2, Causality::Input, 0.0, "", ""},
                       {"force1", 3, Causality::Output, std::nullopt, "", ""}};
        return m;
    }();
    return described;
}
#endif

#if defined(FUZZ_FMIRUN_INPUTS)
void fuzz(std::string_view text) {
    try {
        const Inputs inputs = parseInputs(text, "fuzz.csv", model());
        if (inputs.variables.size() > 2) {
            broken();  // each input at most once
        }
        // Times in order, as a run asks, then back again: a step change's
        // two rows and the table's cursor.
        double values[2] = {};
        for (const double time : {-1e300, -1.0, 0.0, 0.5, 1.0, 1.0, 2.5, 1e300, 0.0, 1.0}) {
            inputs.at(time, values);
        }
    } catch (const Failure& failure) {
        expectStatus(failure, kExitInputFile);
    }
}
#elif defined(FUZZ_FMIRUN_SWEEP)
// A sweep of a run whose inputs file drives the first displacement.
void fuzz(std::string_view text) {
    Inputs driven;
    driven.variables = {&model().variables[1]};
    driven.origin = "driving.csv";
    try {
        const SweepTable table = parseSweep(text, "fuzz.csv", model(), driven);
        if (table.cases.empty() || table.lines.size() != table.cases.size()) {
            broken();
        }
        for (std::size_t i = 0; i < table.variables.size(); ++i) {
            const Variable* variable = table.variables[i];
            if (variable == driven.variables[0] || variable->causality == Causality::Output) {
                broken();
            }
            for (std::size_t j = 0; j < i; ++j) {
                if (table.variables[j] == variable) {
                    broken();  // each variable at most once
                }
            }
        }
        for (const std::vector<fmiReal>& values : table.cases) {
            if (values.size() != table.variables.size()) {
                broken();
            }
            for (const fmiReal value : values) {
                if (!std::isfinite(value)) {
                    broken();
                }
            }
        }
    } catch (const Failure& failure) {
        expectStatus(failure, kExitInputFile);
    }
}
#elif defined(FUZZ_FMIRUN_DESCRIPTION)
void fuzz(std::string_view text) {
    try {
        const ModelDescription described = parseModelDescription(std::string(text), "fuzz.xml");
        if (described.variables.empty() || described.guid.empty()) {
            broken();
        }
        for (const Variable& variable : described.variables) {
            if (variable.start && !std::isfinite(*variable.start)) {
                broken();
            }
            if (described.find(variable.name) != &variable) {
                broken();
            }
        }
        if (described.defaultStopTime &&
            !(*described.defaultStopTime > described.defaultStartTime.value_or(0.0))) {
            broken();
        }
    } catch (const Failure& failure) {
        expectStatus(failure, kExitModel);
    }
}
#elif defined(FUZZ_FMIRUN_ARCHIVE)
// Small bounds, so that the fuzzer meets them.
constexpr std::size_t kLargest = 1 << 16;

void fuzz(std::string_view bytes) {
    try {
        const FmuArchive archive(bytes.data(), bytes.size(), "fuzz.fmu");
        std::size_t total = 0;
        const auto count = [&total](const char*, std::size_t size) { total += size; };
        if (archive.contains("binaries/linux64/SingleBar.so")) {
            archive.unpack("binaries/linux64/SingleBar.so", kLargest, count);
            if (total > kLargest) {
                broken();
            }
        }
        const std::string description = archive.modelDescription();
        if (description.size() > kLargestModelDescription) {
            broken();
        }
    } catch (const Failure& failure) {
        expectStatus(failure, kExitModel);
    }
}
#else
#error "choose the reader to fuzz"
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
