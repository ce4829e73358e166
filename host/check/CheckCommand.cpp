// sep-host check FILE.sep [--seed S] [--level 1..5] [--json] [--time-limit SECONDS]
#include <cstdlib>
#include <iostream>

#include "CheckCommand.h"
#include "Checks.h"

namespace sepcheck {

namespace {

bool ParseWhole(const std::string& text, double low, double high, double* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return *end == '\0' && *value >= low && *value <= high;
}

}  // namespace

int CheckCommand(const std::vector<std::string>& args, std::string* problem) {
    CheckContext context;
    bool json = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const std::string next = i + 1 < args.size() ? args[i + 1] : "";
        double value = 0.0;
        if (a == "--json") {
            json = true;
        } else if (a == "--seed") {
            if (!ParseWhole(next, 0, 4294967295.0, &value) || value != double(uint32_t(value))) {
                *problem = "--seed needs a whole number from 0 to 4294967295";
                return kCheckUsage;
            }
            context.seed = uint32_t(value);
            ++i;
        } else if (a == "--level") {
            if (!ParseWhole(next, kLowestLevel, kHighestLevel, &value) || value != double(int(value))) {
                *problem = "--level needs 1, 2, 3, 4 or 5";
                return kCheckUsage;
            }
            context.level = int(value);
            ++i;
        } else if (a == "--time-limit") {
            if (!ParseWhole(next, 0.1, 86400.0, &value)) {
                *problem = "--time-limit needs seconds from 0.1 to 86400";
                return kCheckUsage;
            }
            context.time_limit = value;
            ++i;
        } else if (!a.empty() && a[0] == '-') {
            *problem = "unknown option " + a;
            return kCheckUsage;
        } else if (context.path.empty()) {
            context.path = a;
        } else {
            *problem = "one file at a time";
            return kCheckUsage;
        }
    }
    if (context.path.empty()) {
        *problem = "check needs a file";
        return kCheckUsage;
    }
    const std::vector<CheckResult> results = RunChecks(context, [json](const CheckResult& result) {
        if (!json) std::cout << FormatResultLine(result) << std::endl;
    });
    if (json) {
        std::cout << FormatResultsJson(context, results);
    } else {
        std::cout << FormatSummary(results) << std::endl;
    }
    for (const CheckResult& r : results)
        if (!r.verdict.passed && !r.verdict.skipped && !r.verdict.report) return kCheckFailed;
    return 0;
}

}  // namespace sepcheck
