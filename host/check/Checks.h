// The checks of `sep-host check`: each a small named function of the module
// file, the seed and the level, registered in its group; the runner calls
// each in a child process.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "ChildRun.h"

namespace sepcheck {

constexpr int kLowestLevel = 1;
constexpr int kHighestLevel = 5;

struct CheckContext {
    std::string path;  // the .sep
    uint32_t seed = 1;
    int level = 1;
    double time_limit = 60.0;  // seconds per check

    // A generator for one check: the run's seed mixed with the check's name,
    // so that each check sees the same cases whatever runs before it.
    std::mt19937 Random(const std::string& check_name) const;
    // n1, ..., n5 by level.
    int Scaled(int n1, int n2, int n3, int n4, int n5) const;
    // The bound on one host block of process calls, in seconds.
    double BlockTimeBound() const { return time_limit / 20.0; }
};

struct Check {
    const char* group;
    const char* name;
    const char* what;  // one line: what it verifies
    std::function<Verdict(const CheckContext&)> run;
    // A host's fault is injected: a module's own debug contract check that
    // stops the process counts as a refusal, not a failure.
    bool contract_stop_ok = false;
};

// Each group adds its checks.
void AddBoundaryChecks(std::vector<Check>* checks);
void AddLifeCycleChecks(std::vector<Check>* checks);
void AddHostileInputChecks(std::vector<Check>* checks);
void AddHostileHostChecks(std::vector<Check>* checks);
void AddContractChecks(std::vector<Check>* checks);

// Every check, in the order they run.
std::vector<Check> AllChecks();

// The result of one check as the runner saw it.
struct CheckResult {
    std::string group;
    std::string name;
    Verdict verdict;
    double seconds = 0.0;
};

// Runs every check, each in a child; `report` sees each result as it comes.
std::vector<CheckResult> RunChecks(const CheckContext& context, const std::function<void(const CheckResult&)>& report);

// The results by verdict: a report first, then a skip, then a pass; the rest failed.
struct Tally {
    size_t passed = 0, failed = 0, skipped = 0, reported = 0;
};
Tally Count(const std::vector<CheckResult>& results);

// Text of one result line and of the summary; the JSON document.
std::string FormatResultLine(const CheckResult& result);
std::string FormatSummary(const std::vector<CheckResult>& results);
std::string FormatResultsJson(const CheckContext& context, const std::vector<CheckResult>& results);

}  // namespace sepcheck
