// The list of checks, the run (each check in a child), and the report.
#include <cstdio>

#include "Checks.h"
#include "Drive.h"
#include "JsonString.h"

namespace sepcheck {

std::mt19937 CheckContext::Random(const std::string& check_name) const {
    // FNV-1a of the name, mixed with the run's seed.
    uint32_t hash = 2166136261u;
    for (char c : check_name) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    std::seed_seq sequence = {seed, hash, static_cast<uint32_t>(level)};
    return std::mt19937(sequence);
}

int CheckContext::Scaled(int n1, int n2, int n3, int n4, int n5) const {
    const int by_level[] = {n1, n2, n3, n4, n5};
    const int at = level < kLowestLevel ? 0 : level > kHighestLevel ? kHighestLevel - 1 : level - 1;
    return by_level[at];
}

std::vector<Check> AllChecks() {
    std::vector<Check> checks;
    AddBoundaryChecks(&checks);
    AddLifeCycleChecks(&checks);
    AddHostileInputChecks(&checks);
    AddHostileHostChecks(&checks);
    AddContractChecks(&checks);
    return checks;
}

std::vector<CheckResult> RunChecks(const CheckContext& context, const std::function<void(const CheckResult&)>& report) {
    std::vector<CheckResult> results;
    for (const Check& check : AllChecks()) {
        const ChildOutcome outcome = RunInChild([&]() { return check.run(context); }, context.time_limit);
        CheckResult result;
        result.group = check.group;
        result.name = check.name;
        result.verdict = Judge(outcome, context.time_limit, check.contract_stop_ok);
        result.seconds = outcome.seconds;
        results.push_back(result);
        if (report) report(result);
    }
    return results;
}

std::string FormatResultLine(const CheckResult& result) {
    const char* mark = result.verdict.report ? "info" : result.verdict.skipped ? "skip" : result.verdict.passed ? "pass" : "FAIL";
    std::string line = std::string(mark) + "  " + result.group + "/" + result.name;
    if (!result.verdict.detail.empty()) line += ": " + result.verdict.detail;
    return line;
}

Tally Count(const std::vector<CheckResult>& results) {
    Tally t;
    for (const CheckResult& r : results)
        ++(r.verdict.report ? t.reported : r.verdict.skipped ? t.skipped : r.verdict.passed ? t.passed : t.failed);
    return t;
}

std::string FormatSummary(const std::vector<CheckResult>& results) {
    const Tally t = Count(results);
    std::string text = std::to_string(t.passed) + " passed, " + std::to_string(t.failed) + " failed";
    if (t.skipped > 0) text += ", " + std::to_string(t.skipped) + " skipped";
    if (t.reported > 0) text += ", " + std::to_string(t.reported) + " reported";
    return text;
}

std::string FormatResultsJson(const CheckContext& context, const std::vector<CheckResult>& results) {
    const Tally t = Count(results);
    std::string items;
    for (const CheckResult& r : results) {
        const char* state = r.verdict.report ? "report" : r.verdict.skipped ? "skip" : r.verdict.passed ? "pass" : "fail";
        if (!items.empty()) items += ",\n";
        items += "    {\"group\": " + sephost::JsonString(r.group) + ", \"name\": " + sephost::JsonString(r.name) + ", \"result\": \"" +
                 state + "\", \"detail\": " + sephost::JsonString(r.verdict.detail) + ", \"seconds\": " + Number(r.seconds) + "}";
    }
    return "{\n  \"file\": " + sephost::JsonString(context.path) + ",\n  \"seed\": " + std::to_string(context.seed) +
           ",\n  \"level\": " + std::to_string(context.level) + ",\n  \"checks\": [\n" + items +
           "\n  ],\n  \"passed\": " + std::to_string(t.passed) + ",\n  \"failed\": " + std::to_string(t.failed) +
           ",\n  \"skipped\": " + std::to_string(t.skipped) + ",\n  \"reported\": " + std::to_string(t.reported) +
           "\n}\n";
}

}  // namespace sepcheck
