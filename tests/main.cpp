// The test master's entry: slave_tests <path of a built slave library> [gtest options]
//
// The library is loaded once, by path, as a real master loads it. Suites named
// after another model of the registry are left out; every other suite applies
// to every model. An FMI 2.0 library (one that exports fmi2GetVersion) runs
// the suites named Fmi2... (and <Identifier>Fmi2...), a 3.0 library (one that
// exports fmi3GetVersion) those named Fmi3..., a 1.0 library all others.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "SlaveTest.h"

namespace {

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Whether a suite applies to this library: not named after another model of
// the registry, and of its FMI version (Fmi2... and <Identifier>Fmi2... are
// of 2.0, Fmi3... of 3.0, all others of 1.0). The 1.0 suites are those of
// the 1.0 deliverables, which never end the simulation and have real
// variables alone (seven blocks per instance, other types refused at their
// first reference, random inputs in the cross-platform scenario): on its 1.0
// library a model made to do what they never do runs its own.
bool applies(const std::string& suite, const ModelFacts& facts, int fmiVersion) {
    for (const ModelFacts& model : allModelFacts()) {
        if (model.identifier != facts.identifier && startsWith(suite, model.identifier)) {
            return false;
        }
    }
    const bool own = startsWith(suite, facts.identifier);
    const std::string rest = own ? suite.substr(facts.identifier.size()) : suite;
    const int version = startsWith(rest, "Fmi2") ? 2 : startsWith(rest, "Fmi3") ? 3 : 1;
    return version == fmiVersion && (own || fmiVersion != 1 || !facts.mayRequestTermination);
}

// The suites that do not apply are left out, whatever filter is given.
void leaveOutWhatDoesNotApply(const ModelFacts& facts, int fmiVersion) {
    std::string filter = ::testing::GTEST_FLAG(filter);
    filter += filter.find('-') == std::string::npos ? "-" : "";
    const ::testing::UnitTest& tests = *::testing::UnitTest::GetInstance();
    for (int i = 0; i < tests.total_test_suite_count(); ++i) {
        const std::string suite = tests.GetTestSuite(i)->name();
        if (!applies(suite, facts, fmiVersion)) {
            filter += (filter.back() == '-' ? "" : ":") + suite + ".*";
        }
    }
    ::testing::GTEST_FLAG(filter) = filter;
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
    leaveOutWhatDoesNotApply(*context.facts, context.library.fmiVersion());
    return RUN_ALL_TESTS();
}
