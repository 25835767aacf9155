// The log categories of the FMI 2.0 and 3.0 libraries, declared in their
// model descriptions and named in every message they send. Refusals and
// failures are always sent; the calls are traced only while a master has
// debug logging on for that category.
#pragma once

#include <cstdint>

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

constexpr bool sameText(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

constexpr std::uint32_t categoryBit(const char* name) {
    std::uint32_t index = 0;
    while (!sameText(kLogCategories[index].name, name)) {
        ++index;
    }
    return std::uint32_t{1} << index;
}

constexpr std::uint32_t kCallsCategory = categoryBit(logCategory::kCalls.name);
constexpr std::uint32_t kAllCategories =
    (std::uint32_t{1} << (sizeof kLogCategories / sizeof kLogCategories[0])) - 1;
