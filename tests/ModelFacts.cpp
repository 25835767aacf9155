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

fmiReal antiRollBarPartial(const std::vector<fmiReal>& r, fmiValueReference unknown,
                           fmiValueReference known) {
    const fmiReal first = known == 0 ? r[2] - r[1] : known == 1 ? -r[0] : known == 2 ? r[0] : 0.0;
    return unknown == 3 ? first : -first;
}

fmiReal travelStopPartial(const std::vector<fmiReal>& r, fmiValueReference,
                          fmiValueReference known) {
    if (r[4] < r[0]) {
        return known == 0 ? r[1] : known == 1 ? r[0] - r[4] : known == 4 ? -r[1] : 0.0;
    }
    if (r[4] > r[2]) {
        return known == 2 ? r[3] : known == 3 ? r[2] - r[4] : known == 4 ? -r[3] : 0.0;
    }
    return 0.0;
}

fmiReal dualAntiRollBarPartial(const std::vector<fmiReal>& r, fmiValueReference unknown,
                               fmiValueReference known) {
    const bool firstBar = unknown < 8;
    const fmiValueReference rate = firstBar ? 0 : 1;
    const fmiValueReference end1 = firstBar ? 2 : 4;
    const fmiValueReference end2 = firstBar ? 3 : 5;
    const fmiReal first = known == rate   ? r[end2] - r[end1]
                          : known == end1 ? -r[rate]
                          : known == end2 ? r[rate]
                                          : 0.0;
    return unknown % 2 == 0 ? first : -first;
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
         antiRollBar,
         false,
         3,
         false,
         antiRollBarPartial},
        {"Pendrake",
         "{893cb1e7-47fa-43c9-bb60-4aaabffe8056}",
         {-0.055, 50000.0, 0.09, 50000.0, std::nullopt, std::nullopt},
         true,
         travelStop,
         false,
         5,
         true,
         travelStopPartial},
        {"Corvessa",
         "{1a52f68c-d976-4fba-9cb9-51e50b2bb078}",
         {15000.0, 15000.0, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
          std::nullopt, std::nullopt, std::nullopt},
         false,
         dualAntiRollBar,
         false,
         6,
         false,
         dualAntiRollBarPartial},
        {"Terminus",
         "{00000000-0000-4000-8000-000000000000}",
         {std::nullopt, std::nullopt},
         false,
         countEvents,
         true,
         1},
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
