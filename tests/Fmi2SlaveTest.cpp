#include "Fmi2SlaveTest.h"

#include <random>

// Parameters around their start values, inputs displacement-sized, outputs
// 0; one draw in eight a subnormal, so that flush-to-zero shows.
std::vector<fmi2Real> Fmi2SlaveTest::randomKnowns(unsigned seed) const {
    std::mt19937_64 random(seed);
    const auto uniform = [&](double low, double high) {
        return low + (high - low) * static_cast<double>(random() >> 11) * 0x1p-53;
    };
    std::vector<fmi2Real> values = model().freshValues();
    for (fmi2ValueReference vr = 0; vr < model().firstOutput; ++vr) {
        const auto& start = model().startValues[vr];
        values[vr] = random() % 8 == 0 ? 0x1p-1070 * static_cast<double>(random() % 64)
                     : start           ? *start * uniform(0.5, 1.5)
                                       : uniform(-0.2, 0.2);
    }
    return values;
}
