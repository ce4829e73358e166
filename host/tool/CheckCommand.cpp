// sep-host check: every check of host/check on one module, each in a child
// process; one line per check and a summary, or one JSON document.
#include <algorithm>
#include <cstdio>
#include <iostream>

#include "Checks.h"
#include "Command.h"
#include "CommandLine.h"
#include "FileAccess.h"

namespace septool {

namespace {

// The names and patterns of every --only (or --skip), commas separating several.
std::vector<std::string> Patterns(const std::vector<std::string>& given) {
    std::vector<std::string> patterns;
    for (const std::string& text : given) {
        size_t from = 0;
        while (from <= text.size()) {
            const size_t comma = std::min(text.find(',', from), text.size());
            if (comma > from) patterns.push_back(text.substr(from, comma - from));
            from = comma + 1;
        }
    }
    return patterns;
}

const char kCheckHelp[] =
    "Runs every check on the module, each in a child process (a crash or a hang fails that check and\n"
    "the run goes on): boundary, life cycle, hostile input, hostile host, the module's side of the\n"
    "contract, no allocation in process or event calls, the same output whatever the split into calls\n"
    "and beside other instances, and the cost of subnormal inputs (reported). One line per check and\n"
    "a summary \"N passed, M failed\". Higher levels run longer with more random cases. Every failed\n"
    "line ends with the command that runs just that case again. Fails on any failed check.\n"
    "See docs/check.md.";

constexpr sephost::HostRange kSeedRange = {"", 0.0, 4294967295.0, true};
constexpr sephost::HostRange kLevelRange = {"", sepcheck::kLowestLevel, sepcheck::kHighestLevel, true};
constexpr sephost::HostRange kTimeLimitRange = {"seconds", 0.1, 86400.0, false};
constexpr sephost::HostRange kCallLimitRange = {"seconds", 0.01, 86400.0, false};
constexpr sephost::HostRange kCaseRange = {"", 0.0, 1e9, true};

// Every option of check, into `context` and the flags.
void AddCheckOptions(CommandLine& line, sepcheck::CheckContext* context, std::vector<std::string>* only,
                     std::vector<std::string>* skip, std::string* junit, bool* json, bool* list) {
    AddNumberOption(
        line, "--seed", kSeedRange, [context](double v) { context->seed = static_cast<uint32_t>(v); },
        "fixes the random cases (default 1)", "S");
    AddNumberOption(
        line, "--level", kLevelRange, [context](double v) { context->level = static_cast<int>(v); },
        "higher levels run longer with more random cases (default 1)", "1..5");
    AddNumberOption(
        line, "--time-limit", kTimeLimitRange, [context](double v) { context->time_limit = v; },
        "bounds each check (default 60)", "SECONDS");
    AddNumberOption(
        line, "--call-limit", kCallLimitRange, [context](double v) { context->call_limit = v; },
        "bounds each call into the module per 1024 samples of block (default 3)", "SECONDS");
    AddRepeatedOption(line, "--only", only, "run only these checks: GROUP/NAME, shell globs, commas between", "NAMES");
    AddRepeatedOption(line, "--skip", skip, "skip these checks, named as for --only", "NAMES");
    AddNumberOption(
        line, "--case", kCaseRange, [context](double v) { context->only_case = static_cast<int>(v); },
        "run only case K of each check", "K");
    line.add_flag("--in-process", context->in_process,
                  "run the checks without a child process, for a debugger: a crash ends the run");
    line.add_option("--junit", *junit, "also write JUnit XML for CI servers")->type_name("FILE");
    line.add_flag("--json", *json, "print one JSON document instead");
    line.add_flag("--list", *list, "name every check");
    line.add_option("FILE.sep", context->path, "the module library");
}

// The JUnit report into its temporary file, then renamed over the target.
bool WriteJunit(const sepcheck::CheckContext& context, const std::vector<sepcheck::CheckResult>& results,
                sephost::OutputFile* junit) {
    const std::string xml = sepcheck::FormatResultsJunit(context, results);
    FILE* file = std::fopen(junit->TemporaryPath().c_str(), "wb");
    const bool written = file != nullptr && std::fwrite(xml.data(), 1, xml.size(), file) == xml.size();
    const bool closed = file != nullptr && std::fclose(file) == 0;
    std::string problem;
    if (written && closed && junit->Commit(&problem)) return true;
    std::cerr << "sep-host check: cannot write " << junit->Target() << (problem.empty() ? "" : ": " + problem)
              << std::endl;
    return false;
}

}  // namespace

int CheckCommand(const std::vector<std::string>& args) {
    CommandLine line("check", kCheckHelp);
    sepcheck::CheckContext context;
    std::vector<std::string> only, skip;
    std::string junit_path, problem;
    bool json = false, list = false;
    AddCheckOptions(line, &context, &only, &skip, &junit_path, &json, &list);
    int status = kExitOk;
    if (!line.Parse(args, &status)) return status;
    if (list && args.size() == 1) {
        std::cout << sepcheck::FormatList();
        return kExitOk;
    }
    if (list || context.path.empty()) return line.Usage(list ? "--list takes no other argument" : "check needs a file");
    context.only = Patterns(only);
    context.skip = Patterns(skip);
    for (const std::vector<std::string>* patterns : {&context.only, &context.skip})
        for (const std::string& pattern : *patterns) {
            bool any = false;
            for (const sepcheck::Check& check : sepcheck::AllChecks())
                any = any || sepcheck::MatchesAny(check, {pattern});
            if (!any) return line.Usage("no check is named '" + pattern + "' (sep-host check --list names them)");
        }
    // The JUnit file is checked before the run and written after it, beside
    // its target and renamed over it.
    sephost::OutputFile junit;
    if (!junit_path.empty() && !junit.Begin(junit_path, &problem)) return line.Usage("--junit: " + problem);
    // A failure's full report goes beside the JUnit file, or to the
    // temporary folder.
    if (!junit.Target().empty()) {
        const size_t slash = junit.Target().rfind('/');
        context.report_folder = slash == std::string::npos ? "." : slash == 0 ? "/" : junit.Target().substr(0, slash);
    }
    if (!json) {
        std::cout << "check " << context.path << ": seed " << context.seed << ", level " << context.level << std::endl;
        if (context.in_process)
            std::cout
                << "in-process: the checks run in sep-host itself, so a crash or a hang of the module ends the run"
                << std::endl;
    }
    const std::vector<sepcheck::CheckResult> results =
        sepcheck::RunChecks(context, [json](const sepcheck::CheckResult& result) {
            if (!json) std::cout << sepcheck::FormatResultLine(result) << std::endl;
        });
    if (json) {
        std::cout << sepcheck::FormatResultsJson(context, results);
    } else {
        std::cout << sepcheck::FormatSummary(results) << std::endl;
    }
    if (!junit.Target().empty() && !WriteJunit(context, results, &junit)) return kExitFailed;
    return sepcheck::Count(results).failed > 0 ? kExitFailed : kExitOk;
}

}  // namespace septool
