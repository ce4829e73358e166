// A command's own options, parsed by CLI11: every command builds a
// CommandLine, adds its option table to it and parses its arguments with it.
// The command then answers -h/--help with its own usage, options and ranges
// (exit 0) and refuses an unknown option or a bad value with the option's
// name and range (exit 2).
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

#include "Limits.h"

namespace septool {

class CommandLine : public CLI::App {
public:
    // `name` is the command's; `description` the paragraph its --help
    // prints above the options. An option given twice keeps its last value.
    CommandLine(const std::string& name, const std::string& description);

    // True when the command should run. Otherwise `*status` is the exit
    // status: kExitOk once the help is printed, kExitUsage once the problem
    // and the usage line are.
    bool Parse(const std::vector<std::string>& args, int* status) const;

    // "sep-host: problem", the command's usage line and where its options
    // are listed, on stderr; kExitUsage. For problems found after parsing.
    int Usage(const std::string& problem) const;

private:
    // Parsing changes the App; Parse is const for callers that keep the
    // command line as a value.
    CLI::App& Self() const { return const_cast<CommandLine&>(*this); }
};

// The whole of `text` as a number within `range`; false, and `error` naming
// `name` and the range ("--block needs a whole number of samples from 1 to
// 1048576; 0 is too small"), for anything else.
bool ReadRangeValue(const std::string& name, const std::string& text, const sephost::HostRange& range, double* value,
                    std::string* error);

// An option taking one number within `range`, handed to `take`; its help
// ends with the range. A malformed or outside value is refused by
// ReadRangeValue's message. `take` may throw CLI::ValidationError to refuse
// a value for a reason of its own.
CLI::Option* AddNumberOption(CLI::App& app, const std::string& name, const sephost::HostRange& range,
                             std::function<void(double)> take, const std::string& help, const std::string& type_name);

// A repeatable option: one value per occurrence, all kept in order.
CLI::Option* AddRepeatedOption(CLI::App& app, const std::string& name, std::vector<std::string>* values,
                               const std::string& help, const std::string& type_name);

}  // namespace septool
