#include "Summary.h"

#include <cmath>
#include <cstdio>

#include "Numbers.h"

std::vector<std::string> summaryLines(const ModelDescription& model, const std::string& origin,
                                      const std::string& which, const TimeGrid& grid,
                                      const RunResult& result, const CsvOutput* rows) {
    char span[128];
    std::snprintf(span, sizeof span, ": %zu steps from t = %g to %g, outputs ", result.steps,
                  grid.start(), grid.stop());
    std::vector<std::string> lines = {model.modelIdentifier + " (" + origin + ")" + which + span +
                                      (rows != nullptr ? "in " + rows->name() : "not written")};
    for (const OutputRange& range : result.ranges) {
        char text[256];
        if (!range.seen) {
            std::snprintf(text, sizeof text, "  %-14s no numbers", range.variable->name.c_str());
        } else {
            const bool minIsPeak = std::fabs(range.min) > std::fabs(range.max);
            std::snprintf(text, sizeof text, "  %-14s peak %10g at t = %-7g (from %g to %g)",
                          range.variable->name.c_str(), minIsPeak ? range.min : range.max,
                          minIsPeak ? range.minTime : range.maxTime, range.min, range.max);
        }
        lines.emplace_back(text);
    }
    return lines;
}

std::string summaryCsvHeader(const std::vector<std::string>& leading) {
    std::string header;
    for (const std::string& name : leading) {
        header += name + ",";
    }
    return header + "variable,peak,peak_time,min,min_time,max,max_time\n";
}

std::string summaryCsvRows(const RunResult& result, const std::string& lead) {
    std::string rows;
    for (const OutputRange& range : result.ranges) {
        rows += lead + range.variable->name;
        if (!range.seen) {
            rows += ",,,,,,\n";
            continue;
        }
        const bool minIsPeak = std::fabs(range.min) > std::fabs(range.max);
        for (const double value :
             {minIsPeak ? range.min : range.max, minIsPeak ? range.minTime : range.maxTime,
              range.min, range.minTime, range.max, range.maxTime}) {
            rows += "," + formatReal(value);
        }
        rows += "\n";
    }
    return rows;
}
