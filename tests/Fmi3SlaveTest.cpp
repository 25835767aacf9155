#include "Fmi3SlaveTest.h"

#include <random>

// Parameters around their start values, inputs displacement-sized, outputs
// 0; one draw in eight a subnormal, so that flush-to-zero shows.
std::vector<fmi3Float64> Fmi3SlaveTest::randomKnowns(unsigned seed) const {
    std::mt19937_64 random(seed);
    const auto uniform = [&](double low, double high) {
        return low + (high - low) * static_cast<double>(random() >> 11) * 0x1p-53;
    };
    std::vector<fmi3Float64> values = model().freshValues();
    for (fmi3ValueReference vr = 0; vr < model().firstOutput; ++vr) {
        const auto& start = model().startValues[vr];
        values[vr] = random() % 8 == 0 ? 0x1p-1070 * static_cast<double>(random() % 64)
                     : start           ? *start * uniform(0.5, 1.5)
                                       : uniform(-0.2, 0.2);
    }
    return values;
}

::testing::AssertionResult Fmi3SlaveTest::refusedWith(const std::string& text) const {
    const std::vector<LogRecord> records = logs();
    if (records.size() != 1) {
        return ::testing::AssertionFailure() << records.size() << " messages, expected one";
    }
    const LogRecord& record = records[0];
    if (record.component != &fmi3Environment || record.status != fmiError ||
        record.category != "logStatusError" || record.text != text) {
        return ::testing::AssertionFailure()
               << "got environment " << record.component << ", status " << record.status
               << ", category " << record.category << ", message \"" << record.text
               << "\"; expected the refusal \"" << text << "\"";
    }
    return ::testing::AssertionSuccess();
}
