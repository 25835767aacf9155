// The test master's entry: slave_tests <path of a built slave library> [gtest options]
//
// The library is loaded once, by path, as a real master loads it. Suites named
// after another model of the registry are left out; every other suite applies
// to every model. An FMI 2.0 library (one that exports fmi2GetVersion) runs
// the suites named Fmi2..., a 3.0 library (one that exports fmi3GetVersion)
// the suites named Fmi3..., a 1.0 library all others.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "SlaveTest.h"

namespace {

// The suites named after another model of the registry are left out, and
// those of the other FMI versions: a 1.0 library runs every suite not named
// Fmi2... or Fmi3... (nor <Identifier>Fmi...), a 2.0 or 3.0 library those
// named Fmi<version>... and <Identifier>Fmi<version>.... Where the filter
// given names no suite to run (only some to leave out), these are the ones.
void leaveOutOtherModels(const ModelFacts& facts, int fmiVersion) {
    const std::string& identifier = facts.identifier;
    const std::string given = ::testing::GTEST_FLAG(filter);
    const std::size_t dash = given.find('-');
    std::string positive = given.substr(0, dash);
    std::string negative = dash == std::string::npos ? "" : given.substr(dash + 1) + ":";
    const bool unnamed = positive.empty() || positive == "*";
    if (fmiVersion == 1) {
        negative += "Fmi2*:Fmi3*:" + identifier + "Fmi*";
        // The 1.0 suites are those of the 1.0 deliverables, which never end
        // the simulation and have real variables alone (seven blocks per
        // instance, other types refused at their first reference, random
        // inputs in the cross-platform scenario): a model made to do what
        // they never do runs its own, whatever the filter.
        if (facts.mayRequestTermination) {
            positive = identifier + "*";
        }
    } else if (unnamed) {
        const std::string version = "Fmi" + std::to_string(fmiVersion);
        positive = version + "*:" + identifier + version + "*";
    }
    for (const ModelFacts& model : allModelFacts()) {
        if (model.identifier != identifier) {
            negative += ":" + model.identifier + "*";
        }
    }
    ::testing::GTEST_FLAG(filter) = positive + "-" + negative;
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <slave library> [gtest options]\n", argv[0]);
        return 2;
    }
    TestContext& context = testContext();
    // A status flag set beforehand (x86's MXCSR holds them; AArch64's FPCR
    // does not) shows whether loading leaves it alone; the inexact exception
    // is masked (untrapped), so setting it changes no result.
    setFloatingPointControl(floatingPointControl() | kInexactFlag);
    context.mxcsrBeforeLoad = floatingPointControl();
    std::string error;
    if (!context.library.load(argv[1], error)) {
        std::fprintf(stderr, "cannot load %s: %s\n", argv[1], error.c_str());
        return 2;
    }
    context.mxcsrAfterLoad = floatingPointControl();
    context.facts = findModelFacts(context.library.identifier());
    if (context.facts == nullptr) {
        std::fprintf(stderr, "no facts known for model %s\n", context.library.identifier().c_str());
        return 2;
    }
    if (context.library.fmiVersion() == 2 &&
        !resolveFmi2Functions(context.library, context.fmi2, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    if (context.library.fmiVersion() == 3 &&
        !resolveFmi3Functions(context.library, context.fmi3, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    leaveOutOtherModels(*context.facts, context.library.fmiVersion());
    return RUN_ALL_TESTS();
}
