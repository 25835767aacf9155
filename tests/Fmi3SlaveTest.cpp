#include "Fmi3SlaveTest.h"

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
