// The test master's entry: slave_tests <path of a built slave library> [gtest options]
//
// The library is loaded once, by path, as a real master loads it. Suites named
// after another model are left out; every other suite applies to every model.
// An FMI 2.0 library (one that exports fmi2GetVersion) runs the suites named
// Fmi2..., a 3.0 library (one that exports fmi3GetVersion) the suites named
// Fmi3..., a 1.0 library all others.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "SlaveTest.h"

namespace {

void leaveOutOtherModels(const ModelFacts& facts, int fmiVersion) {
    const std::string& identifier = facts.identifier;
    const std::string version = fmiVersion == 1 ? "" : "Fmi" + std::to_string(fmiVersion);
    // A model of the tests alone runs its own suites: <Identifier>... on its
    // 1.0 library, <Identifier>Fmi3... on its 3.0 one, whatever filter is
    // given; on its 2.0 library the tests its command line names, those of
    // the version's suites that are about it.
    if (facts.onlyOwnSuites) {
        if (fmiVersion == 2 && ::testing::GTEST_FLAG(filter) != "*") {
            return;
        }
        ::testing::GTEST_FLAG(filter) =
            fmiVersion == 1 ? identifier + "*-" + identifier + "Fmi*" : identifier + version + "*";
        return;
    }
    if (fmiVersion == 2 || fmiVersion == 3) {
        const std::string filter = ::testing::GTEST_FLAG(filter);
        ::testing::GTEST_FLAG(filter) = filter == "*" ? version + "*" : filter;
        return;
    }
    std::string others = "Fmi2*:Fmi3*";
    for (const char* model : {"Halvorn", "Pendrake", "Corvessa", "Terminus"}) {
        if (identifier != model) {
            others += ":" + std::string(model) + "*";
        }
    }
    std::string filter = ::testing::GTEST_FLAG(filter);
    filter += (filter.find('-') == std::string::npos ? "-" : ":") + others;
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
    leaveOutOtherModels(*context.facts, context.library.fmiVersion());
    return RUN_ALL_TESTS();
}
