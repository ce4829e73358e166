#pragma once

#include <string>
#include <vector>

namespace sepcheck {

constexpr int kCheckFailed = 1;
constexpr int kCheckUsage = 2;

// Runs the command on its arguments (after "check"); prints a line per check
// and a summary (or, with --json, one JSON document). 0 when every check
// passed, kCheckFailed on any failure, kCheckUsage with `problem` set.
int CheckCommand(const std::vector<std::string>& args, std::string* problem);

}  // namespace sepcheck
