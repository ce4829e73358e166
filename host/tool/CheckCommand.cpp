// sep-host check: every check of host/check on one module, each in a child
// process; one line per check and a summary, or one JSON document.
#include <iostream>

#include "Checks.h"
#include "Command.h"

namespace septool {

int CheckCommand(const std::vector<std::string>& args) {
    Arguments arguments;
    std::string problem;
    if (!ReadArguments("check", args, {"--json"}, nullptr, &arguments, &problem,
                       {"--seed", "--level", "--time-limit"}))
        return Usage(problem);
    sepcheck::CheckContext context;
    context.path = arguments.file;
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
    const bool json = arguments.Has("--json");
    const std::vector<sepcheck::CheckResult> results =
        sepcheck::RunChecks(context, [json](const sepcheck::CheckResult& result) {
            if (!json) std::cout << sepcheck::FormatResultLine(result) << std::endl;
        });
    if (json) {
        std::cout << sepcheck::FormatResultsJson(context, results);
    } else {
        std::cout << sepcheck::FormatSummary(results) << std::endl;
    }
    if (sepcheck::Count(results).failed > 0) return kExitFailed;
    return kExitOk;
}

}  // namespace septool
