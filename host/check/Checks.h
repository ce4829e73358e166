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
    // Seconds one call into the module may take per 1024 samples of block
    // (never less): past it, the call is reported hung at once.
    double call_limit = 3.0;
    int only_case = -1;                   // --case: run only this case of each check (-1: all)
    bool in_process = false;              // run the checks in sep-host's own process
    std::vector<std::string> only, skip;  // --only, --skip: names or patterns
    // Where a failure's full report (what its child wrote) is kept, in a
    // file made new for it; empty: the temporary folder ($TMPDIR or /tmp).
    std::string report_folder;

    // A generator for one check: the run's seed mixed with the check's name,
    // so that each check sees the same cases whatever runs before it.
    std::mt19937 Random(const std::string& check_name) const;
    // A generator for case `k` of a check: the seed, the check's name and
    // the case number alone (not the level), so that one case can be run
    // again on its own, at any level.
    std::mt19937 CaseRandom(const std::string& check_name, int k) const;
    // The case numbers to run of a series from `first`, `count` long at
    // this level: all of them, or with --case only that one (when it lies
    // in [first, first + span)), each noted as the case under way.
    std::vector<int> Cases(int first, int count, int span = 1000) const;
    // Whether a part of a check that has no case number runs (not with --case).
    bool RunsUncased() const { return only_case < 0; }
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
void AddInvarianceChecks(std::vector<Check>* checks);

// "the declaration table does not end: ...": the one fault of a table cut
// off at the host's limit.
std::string TableCutOffText();
// Why the checks that place the module cannot run (its declaration table
// is cut off at the host's limit, a Skip's text), or empty.
std::string DeclarationTableCutOff(const std::string& path);

// Every check, in the order they run.
std::vector<Check> AllChecks();

// The result of one check as the runner saw it.
struct CheckResult {
    std::string group;
    std::string name;
    Verdict verdict;
    double seconds = 0.0;
    // Where it failed, as far as known: the case (-1: none), the rate and
    // block size of the last call into the module, the call under way.
    int case_index = -1;
    float sample_rate = 0.0f;
    int32_t block_size = 0;
    std::string call;
    std::string repro;        // a failure: the command that runs just this again
    std::string report;       // a failure: what the child wrote (a sanitizer's or a crash's report), its last 16 KiB
    std::string report_file;  // a failure with a report: the file that holds all of it
};

// Whether the check GROUP/NAME is chosen by `patterns` (each a name, a
// GROUP/NAME, or a shell pattern of either, as "life-cycle/*").
bool MatchesAny(const Check& check, const std::vector<std::string>& patterns);
// The checks the context chooses (--only, --skip), in the order they run.
std::vector<Check> ChosenChecks(const CheckContext& context);

// Runs the chosen checks, each in a child (or in this process with
// `in_process`); `report` sees each result as it comes.
std::vector<CheckResult> RunChecks(const CheckContext& context, const std::function<void(const CheckResult&)>& report);
// "sep-host check --only GROUP/NAME --case K --seed S FILE".
std::string ReproCommand(const CheckContext& context, const CheckResult& result);

// The results by verdict: a report first, then a skip, then a pass; the rest failed.
struct Tally {
    size_t passed = 0, failed = 0, skipped = 0, reported = 0;
};
Tally Count(const std::vector<CheckResult>& results);

// Text of one result line and of the summary; the JSON document.
std::string FormatResultLine(const CheckResult& result);
std::string FormatSummary(const std::vector<CheckResult>& results);
std::string FormatResultsJson(const CheckContext& context, const std::vector<CheckResult>& results);
// JUnit XML: one test suite, one test case per check.
std::string FormatResultsJunit(const CheckContext& context, const std::vector<CheckResult>& results);
// Every check with its one line of what it verifies.
std::string FormatList();

}  // namespace sepcheck
