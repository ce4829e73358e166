// sep-host check: every check of host/check on one module, each in a child
// process; one line per check and a summary, or one JSON document.
#include <algorithm>
#include <cstdio>
#include <iostream>

#include "Checks.h"
#include "Command.h"
#include "FileAccess.h"

namespace septool {

namespace {

// The names and patterns of every --only (or --skip), commas separating several.
std::vector<std::string> Patterns(const Arguments& arguments, const std::string& option) {
    std::vector<std::string> patterns;
    for (const auto& given : arguments.values) {
        if (given.first != option) continue;
        size_t from = 0;
        while (from <= given.second.size()) {
            const size_t comma = std::min(given.second.find(',', from), given.second.size());
            if (comma > from) patterns.push_back(given.second.substr(from, comma - from));
            from = comma + 1;
        }
    }
    return patterns;
}

}  // namespace

int CheckCommand(const std::vector<std::string>& args) {
    if (args.size() == 1 && args[0] == "--list") {
        std::cout << sepcheck::FormatList();
        return kExitOk;
    }
    Arguments arguments;
    std::string problem;
    if (!ReadArguments("check", args, {"--json", "--in-process"}, nullptr, &arguments, &problem,
                       {"--seed", "--level", "--time-limit", "--call-limit", "--only", "--skip", "--case", "--junit"}))
        return Usage(problem);
    sepcheck::CheckContext context;
    context.path = arguments.file;
    context.only = Patterns(arguments, "--only");
    context.skip = Patterns(arguments, "--skip");
    context.in_process = arguments.Has("--in-process");
    double value = 0.0;
    if (arguments.Value("--seed") != nullptr) {
        if (!ReadNumber(arguments.Value("--seed")->c_str(), 0.0, 4294967295.0, true, &value))
            return Usage("--seed needs a whole number from 0 to 4294967295");
        context.seed = static_cast<uint32_t>(value);
    }
    if (arguments.Value("--level") != nullptr) {
        if (!ReadNumber(arguments.Value("--level")->c_str(), sepcheck::kLowestLevel, sepcheck::kHighestLevel, true,
                        &value))
            return Usage("--level needs 1, 2, 3, 4 or 5");
        context.level = static_cast<int>(value);
    }
    if (arguments.Value("--time-limit") != nullptr) {
        if (!ReadNumber(arguments.Value("--time-limit")->c_str(), 0.1, 86400.0, false, &value))
            return Usage("--time-limit needs seconds from 0.1 to 86400");
        context.time_limit = value;
    }
    if (arguments.Value("--call-limit") != nullptr) {
        if (!ReadNumber(arguments.Value("--call-limit")->c_str(), 0.01, 86400.0, false, &value))
            return Usage("--call-limit needs seconds from 0.01 to 86400");
        context.call_limit = value;
    }
    if (arguments.Value("--case") != nullptr) {
        if (!ReadNumber(arguments.Value("--case")->c_str(), 0.0, 1e9, true, &value))
            return Usage("--case needs a whole number from 0");
        context.only_case = static_cast<int>(value);
    }
    for (const std::vector<std::string>* patterns : {&context.only, &context.skip})
        for (const std::string& pattern : *patterns) {
            bool any = false;
            for (const sepcheck::Check& check : sepcheck::AllChecks()) any = any || sepcheck::MatchesAny(check, {pattern});
            if (!any) return Usage("no check is named '" + pattern + "' (sep-host check --list names them)");
        }
    // The JUnit file is checked before the run and written after it, beside
    // its target and renamed over it.
    sephost::OutputFile junit;
    if (arguments.Value("--junit") != nullptr && !junit.Begin(*arguments.Value("--junit"), &problem))
        return Usage("--junit: " + problem);
    // A failure's full report goes beside the JUnit file, or to the
    // temporary folder.
    if (!junit.Target().empty()) {
        const size_t slash = junit.Target().rfind('/');
        context.report_folder = slash == std::string::npos ? "." : slash == 0 ? "/" : junit.Target().substr(0, slash);
    }
    const bool json = arguments.Has("--json");
    if (!json) {
        std::cout << "check " << context.path << ": seed " << context.seed << ", level " << context.level << std::endl;
        if (context.in_process)
            std::cout << "in-process: the checks run in sep-host itself, so a crash or a hang of the module ends the run"
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
    if (!junit.Target().empty()) {
        const std::string xml = sepcheck::FormatResultsJunit(context, results);
        FILE* file = std::fopen(junit.TemporaryPath().c_str(), "wb");
        const bool written = file != nullptr && std::fwrite(xml.data(), 1, xml.size(), file) == xml.size();
        const bool closed = file != nullptr && std::fclose(file) == 0;
        if (!written || !closed || !junit.Commit(&problem)) {
            std::cerr << "sep-host check: cannot write " << junit.Target() << (problem.empty() ? "" : ": " + problem)
                      << std::endl;
            return kExitFailed;
        }
    }
    if (sepcheck::Count(results).failed > 0) return kExitFailed;
    return kExitOk;
}

}  // namespace septool
