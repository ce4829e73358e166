// sep-host check against modules that attack the process running them: each
// fault (tests/host/fixtures/broken.cpp) is met by one check of the run,
// which fails with a reason that names it, while the others still run and
// pass; the run ends within its time limits with exit 1, and none of the
// processes the module ran in outlives it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

namespace {

constexpr double kTimeLimit = 10.0;    // --time-limit of every run: room for a loaded machine
constexpr double kSweepSeconds = 3.0;  // what ending the processes may add to a check
constexpr int kRunBound = 600;         // seconds before a run counts as hung itself

struct ToolRun {
    int status = -1;  // exit status, or -signal
    bool finished = false;
    std::string out;
    double seconds = 0.0;
};

// sep-host with `args` and the fixture's variables, its stdout kept; killed
// (and not finished) after kRunBound seconds.
ToolRun RunBounded(const std::vector<std::string>& args, const std::string& once, const std::string& pids) {
    ToolRun run;
    int out[2];
    if (pipe(out) != 0) return run;
    const auto started = std::chrono::steady_clock::now();
    const pid_t tool = fork();
    if (tool == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        setenv("SEP_HOSTILE_ONCE", once.c_str(), 1);
        setenv("SEP_HOSTILE_PIDS", pids.c_str(), 1);
        // Failures' report files go beside the fixture's files.
        setenv("TMPDIR", once.substr(0, once.rfind('/')).c_str(), 1);
        std::vector<char*> argv = {const_cast<char*>(SEP_HOST_PATH)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(SEP_HOST_PATH, argv.data());
        _exit(126);
    }
    close(out[1]);
    int status = 0;
    for (;;) {
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (elapsed > kRunBound) {
            kill(tool, SIGKILL);
            waitpid(tool, nullptr, 0);
            break;
        }
        pollfd fd = {out[0], POLLIN, 0};
        if (poll(&fd, 1, 100) > 0) {
            char chunk[4096];
            const ssize_t n = read(out[0], chunk, sizeof chunk);
            if (n > 0) run.out.append(chunk, size_t(n));
        }
        if (waitpid(tool, &status, WNOHANG) == tool) {
            run.finished = true;
            run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
            break;
        }
    }
    // What is left in the pipe (nothing holds it open but the ended tool).
    fcntl(out[0], F_SETFL, O_NONBLOCK);
    char chunk[4096];
    for (ssize_t n; (n = read(out[0], chunk, sizeof chunk)) > 0;) run.out.append(chunk, size_t(n));
    close(out[0]);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return run;
}

// The processes listed in `pids` that still run (a zombie has ended).
std::vector<std::string> StillRunning(const std::string& pids) {
    std::vector<std::string> running;
    std::ifstream list(pids);
    for (std::string pid; std::getline(list, pid);) {
        std::ifstream stat("/proc/" + pid + "/stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        const size_t paren = line.rfind(')');
        if (paren != std::string::npos && paren + 2 < line.size() && line[paren + 2] != 'Z')
            running.push_back(pid + ": " + line.substr(0, 60));
    }
    return running;
}

struct Hostile {
    const char* fault;
    const char* message;  // the failed check's reason (a regular expression)
};

class CheckHostile : public testing::TestWithParam<Hostile> {};

TEST_P(CheckHostile, OneCheckFailsSayingWhyAndNothingOutlivesTheRun) {
    const Hostile& c = GetParam();
    const std::string scratch = std::string(HOST_TEST_SCRATCH) + "/hostile-" + c.fault;
    ASSERT_EQ(std::system(("rm -rf '" + scratch + "' && mkdir -p '" + scratch + "'").c_str()), 0);
    const std::string once = scratch + "/once", pids = scratch + "/pids";
    char limit[16];
    std::snprintf(limit, sizeof limit, "%.1f", kTimeLimit);
    const ToolRun run = RunBounded(
        {"check", "--json", "--time-limit", limit, std::string(BROKEN_FIXTURE_DIR) + "/broken_" + c.fault + ".sep"},
        once, pids);
    ASSERT_TRUE(run.finished) << c.fault << ": check did not end within " << kRunBound << " s\n" << run.out;
    EXPECT_TRUE(StillRunning(pids).empty()) << c.fault << ": " << testing::PrintToString(StillRunning(pids));
    EXPECT_EQ(run.status, 1) << c.fault << "\n" << run.out;
    const nlohmann::json report = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << c.fault << "\n" << run.out;
    ASSERT_GE(report["checks"].size(), 19u) << run.out;  // every check ran

    const bool forger = std::string(c.fault) == "forges_verdict";
    int failed = 0;
    for (const auto& check : report["checks"]) {
        const std::string name = check["group"].get<std::string>() + "/" + check["name"].get<std::string>();
        const std::string detail = check["detail"].get<std::string>();
        if (check["result"] != "fail") {
            // The forger writes its lie in every check that makes an instance;
            // a check this build cannot measure (allocations under the
            // sanitizers) is skipped, which is no pass.
            if (forger && check["result"] != "skip") {
                EXPECT_TRUE(name == "boundary/exports" || name == "boundary/module-properties" ||
                            name == "boundary/make-module-refusals")
                    << name << ": " << detail;
            }
            continue;
        }
        ++failed;
        EXPECT_LE(check["seconds"].get<double>(), kTimeLimit + kSweepSeconds) << c.fault << " " << name;
        EXPECT_TRUE(std::regex_search(detail, std::regex(c.message)))
            << c.fault << ": " << name << " says \"" << detail << "\", expected /" << c.message << "/";
    }
    if (!forger) {
        EXPECT_EQ(failed, 1) << c.fault << "\n" << run.out;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CheckHostile,
    testing::Values(
        Hostile{"exits", "^ended with status 0 and no verdict"},
        Hostile{"quick_exit", "^ended with status 3 and no verdict"},
        Hostile{"kills_itself", "^killed by SIGKILL \\(signal 9\\)"},
        Hostile{"stops_itself", "^stopped by SIGSTOP \\(signal 19\\)"},
        Hostile{"execs", "^hung: no answer within 10\\.0 s \\(killed\\); it was running another program, 'sleep'"},
        Hostile{"floods_output", "^flooded its standard output: more than 16 MiB written"},
        // The runner counts the child's threads each time it looks, so a
        // crash soon after the fourth started may be seen with fewer.
        Hostile{"spins_threads", "it had started [1-4] threads|^sanitizer: .*SEGV"},
        Hostile{"allocates_gigabytes",
                "sep-host: an allocation of 268435456 bytes failed \\(a check may take 1024 MiB|^sanitizer: .*"
                "AddressSanitizer"},
        Hostile{"kills_parent", "^the module killed its parent process with SIGKILL \\(signal 9\\)"},
        Hostile{"stops_parent", "^the module stopped its parent process with SIGSTOP \\(signal 19\\)"},
        Hostile{"forks", "^left 3 processes of the module running \\(ended by the check\\)"},
        Hostile{"closes_descriptors", "^hung: no answer within 10\\.0 s \\(killed\\)"},
        Hostile{"forges_verdict",
                "^the verdict channel was corrupted: [0-9]+ bytes that are not a verdict of this run: \"1 looks fine"}),
    [](const testing::TestParamInfo<Hostile>& info) { return std::string(info.param.fault); });

}  // namespace
