// Runs the built sep-host as a process, as a user would, and keeps what it
// printed and its exit status.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

struct ToolOutput {
    int status = -1;
    std::string out;
};

// Runs `command` through the shell and keeps what it printed; the status is
// -1 when the command ended on a signal.
inline ToolOutput RunShellCommand(const std::string& command) {
    ToolOutput result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) result.out.append(chunk, n);
    const int raw = pclose(pipe);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return result;
}

// Runs sep-host with `args`; stderr joins stdout when `with_stderr`.
// The reports `check` keeps of failures go to a scratch folder of the tests
// where there is one, not to the system's temporary folder.
inline ToolOutput RunTool(const std::string& args, bool with_stderr = false) {
#ifdef HOST_TEST_SCRATCH
    const std::string reports = std::string(HOST_TEST_SCRATCH) + "/reports";
    const std::string environment = "mkdir -p '" + reports + "' && TMPDIR='" + reports + "' ";
#else
    const std::string environment;
#endif
    return RunShellCommand(environment + "'" + SEP_HOST_PATH + "' " + args + (with_stderr ? " 2>&1" : " 2>/dev/null"));
}
