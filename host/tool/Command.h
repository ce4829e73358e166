// sep-host's commands: one file per command, all listed in one table
// (CommandTable.cpp). A new command is a new file and one line in the table;
// the file owns the command's options and help (a CommandLine).
#pragma once

#include <string>
#include <vector>

namespace septool {

struct Command {
    const char* name;
    const char* summary;                               // one line for sep-host --help
    int (*run)(const std::vector<std::string>& args);  // exit status
};

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // an error, a breach, a failed check
constexpr int kExitUsage = 2;

const std::vector<Command>& Commands();
const Command* FindCommand(const std::string& name);

// The whole of `text` as a number from `low` to `high` (a whole number when
// `whole`); false, `value` untouched, for no text, anything after the
// number, or a value outside the range.
bool ReadNumber(const char* text, double low, double high, bool whole, double* value);

// Runs sep-host with its arguments (argv without the program name).
int Main(const std::vector<std::string>& args);

// "sep-host: problem" and sep-host's usage lines on stderr; kExitUsage.
int Usage(const std::string& problem);
// "sep-host: message" on stderr; kExitFailed.
int Failure(const std::string& message);

}  // namespace septool
