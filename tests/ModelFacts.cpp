#include "ModelFacts.h"

namespace {

void antiRollBar(std::vector<fmiReal>& r) {
    const fmiReal force = (r[2] - r[1]) * r[0];
    r[3] = force;
    r[4] = -force;
}

void travelStop(std::vector<fmiReal>& r) {
    if (r[4] < r[0]) {
        r[5] = (r[0] - r[4]) * r[1];
    } else if (r[4] > r[2]) {
        r[5] = (r[2] - r[4]) * r[3];
    } else {
        r[5] = +0.0;
    }
}

void dualAntiRollBar(std::vector<fmiReal>& r) {
    const fmiReal first = (r[3] - r[2]) * r[0];
    const fmiReal second = (r[5] - r[4]) * r[1];
    r[6] = first;
    r[7] = -first;
    r[8] = second;
    r[9] = -second;
}

void countEvents(std::vector<fmiReal>& r) {
    r[1] += 1.0;
}

const std::vector<ModelFacts>& allModelFacts() {
    static const std::vector<ModelFacts> facts = {
        {"Halvorn",
         "{df6d0958-156a-469d-81e9-7eeddeec2de4}",
         {15000.0, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
         false,
         antiRollBar},
        {"Pendrake",
         "{893cb1e7-47fa-43c9-bb60-4aaabffe8056}",
         {-0.055, 50000.0, 0.09, 50000.0, std::nullopt, std::nullopt},
         true,
         travelStop},
        {"Corvessa",
         "{1a52f68c-d976-4fba-9cb9-51e50b2bb078}",
         {15000.0, 15000.0, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
          std::nullopt, std::nullopt, std::nullopt},
         false,
         dualAntiRollBar},
        {"Terminus",
         "{00000000-0000-4000-8000-000000000000}",
         {std::nullopt, std::nullopt},
         false,
         countEvents,
         true},
    };
    return facts;
}

}  // namespace

std::vector<fmiReal> ModelFacts::freshValues() const {
    std::vector<fmiReal> values;
    for (const auto& start : startValues) {
        values.push_back(start.value_or(0.0));
    }
    return values;
}

fmiReal ModelFacts::substep(fmiReal stepSize) const {
    return multipliesSubstep ? stepSize * 0.1 : stepSize / 10.0;
}

const ModelFacts* findModelFacts(const std::string& identifier) {
    for (const auto& facts : allModelFacts()) {
        if (facts.identifier == identifier) {
            return &facts;
        }
    }
    return nullptr;
}
