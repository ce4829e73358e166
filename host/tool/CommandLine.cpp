// Parsing a command's arguments with CLI11, and the messages of a refusal.
#include "CommandLine.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iostream>

#include "Command.h"

namespace septool {

namespace {

// What CLI11 found wrong, said the way sep-host says it.
std::string Problem(const CLI::App& app, const CLI::ParseError& error) {
    if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
        const std::vector<std::string> extras = app.remaining();
        if (!extras.empty() && extras[0].size() > 1 && extras[0][0] == '-') return "unknown option " + extras[0];
        if (!extras.empty()) return "unexpected argument " + extras[0] + " (one file at a time)";
    }
    // CLI11 writes a check's refusal as "NAME: needs ..."; sep-host as
    // "NAME needs ...".
    std::string problem = error.what();
    const size_t colon = problem.find(": needs ");
    if (colon != std::string::npos && colon > 0 && problem[0] == '-') problem.erase(colon, 1);
    return problem;
}

}  // namespace

CommandLine::CommandLine(const std::string& name, const std::string& description)
    : CLI::App(description, "sep-host " + name) {
    option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)->disable_flag_override();
    get_formatter()->column_width(34);
    footer("exit status: 0 success, 1 error, breach or failed check, 2 usage error");
}

bool CommandLine::Parse(const std::vector<std::string>& args, int* status) const {
    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        Self().parse(reversed);
        return true;
    } catch (const CLI::CallForHelp&) {
        std::cout << help();
        *status = kExitOk;
    } catch (const CLI::ParseError& error) {
        *status = Usage(Problem(*this, error));
    }
    return false;
}

int CommandLine::Usage(const std::string& problem) const {
    if (!problem.empty()) std::cerr << "sep-host: " << problem << "\n";
    std::cerr << CLI::Formatter().make_usage(this, get_name()) << "'" << get_name()
              << " --help' lists the options and their ranges\n";
    return kExitUsage;
}

bool ReadRangeValue(const std::string& name, const std::string& text, const sephost::HostRange& range, double* value,
                    std::string* error) {
    const std::string wanted = name + " needs " + sephost::DescribeRange(range);
    errno = 0;
    char* end = nullptr;
    const double parsed =
        range.whole ? static_cast<double>(std::strtoll(text.c_str(), &end, 10)) : std::strtod(text.c_str(), &end);
    const bool malformed = text.empty() || end == nullptr || *end != '\0' || text[0] == ' ' || !std::isfinite(parsed);
    if (malformed) {
        *error = wanted + ", not '" + text + "'";
        return false;
    }
    if (errno == ERANGE || !sephost::InRange({range.unit, range.min, range.max, false}, parsed)) {
        *error = wanted + "; " + text + " is " + (parsed < range.min ? "too small" : "too large");
        return false;
    }
    *value = parsed;
    return true;
}

CLI::Option* AddNumberOption(CLI::App& app, const std::string& name, const sephost::HostRange& range,
                             std::function<void(double)> take, const std::string& help, const std::string& type_name) {
    auto read = [name, range, take](const std::string& text) {
        double value = 0.0;
        std::string error;
        if (!ReadRangeValue(name, text, range, &value, &error)) throw CLI::ValidationError(error);
        take(value);
    };
    return app.add_option_function<std::string>(name, read, help + ": " + sephost::DescribeRange(range))
        ->type_name(type_name)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

CLI::Option* AddRepeatedOption(CLI::App& app, const std::string& name, std::vector<std::string>* values,
                               const std::string& help, const std::string& type_name) {
    return app.add_option(name, *values, help + " (repeatable)")
        ->type_name(type_name)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->allow_extra_args(false);
}

}  // namespace septool
