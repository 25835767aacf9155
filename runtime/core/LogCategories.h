// The log categories of the FMI 2.0 and 3.0 libraries, declared in their
// model descriptions and named in every message they send. Refusals and
// failures are always sent; the calls are traced only while a master has
// debug logging on for that category.
#pragma once

struct LogCategory {
    const char* name;
    const char* description;
};

namespace logCategory {
constexpr LogCategory kError = {"logStatusError",
                                "Calls refused or failed, with the reason (always sent)"};
constexpr LogCategory kCalls = {"logCalls",
                                "Every call with its arguments and results (debug logging)"};
}  // namespace logCategory

constexpr LogCategory kLogCategories[] = {logCategory::kError, logCategory::kCalls};
