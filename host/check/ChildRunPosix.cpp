#include "ChildRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Drive.h"

namespace sepcheck {

namespace {

constexpr size_t kKeptStderrBytes = 16384;

void WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += size_t(n);
    }
}

const char* SignalName(int signal) {
    switch (signal) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGILL:
        return "SIGILL";
    case SIGFPE:
        return "SIGFPE";
    case SIGABRT:
        return "SIGABRT";
    case SIGKILL:
        return "SIGKILL";
    default:
        return "signal";
    }
}

}  // namespace

ChildOutcome RunInChild(const std::function<Verdict()>& body, double time_limit) {
    ChildOutcome outcome;
    int verdict_pipe[2];
    int stderr_pipe[2];
    if (pipe(verdict_pipe) != 0 || pipe(stderr_pipe) != 0) {
        outcome.kind = ChildOutcome::kExited;
        outcome.status = -1;
        outcome.stderr_text = "cannot make a pipe";
        return outcome;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    const double started = Seconds();
    const pid_t child = fork();
    if (child == 0) {
        close(verdict_pipe[0]);
        close(stderr_pipe[0]);
        dup2(stderr_pipe[1], STDERR_FILENO);
        dup2(stderr_pipe[1], STDOUT_FILENO);  // a module's own prints stay out of the report
        close(stderr_pipe[1]);
        const Verdict verdict = body();
        std::string line =
            (verdict.report ? "3 " : verdict.skipped ? "2 " : verdict.passed ? "1 " : "0 ") + verdict.detail;
        WriteAll(verdict_pipe[1], line);
        close(verdict_pipe[1]);
        std::fflush(nullptr);
        _exit(0);
    }
    close(verdict_pipe[1]);
    close(stderr_pipe[1]);
    if (child < 0) {
        close(verdict_pipe[0]);
        close(stderr_pipe[0]);
        outcome.status = -1;
        outcome.stderr_text = "cannot fork";
        return outcome;
    }

    std::string verdict_text;
    bool verdict_open = true, stderr_open = true, timed_out = false;
    while (verdict_open || stderr_open) {
        const double left = time_limit - (Seconds() - started);
        if (left <= 0.0) {
            timed_out = true;
            kill(child, SIGKILL);
            break;
        }
        pollfd fds[2] = {{verdict_open ? verdict_pipe[0] : -1, POLLIN, 0}, {stderr_open ? stderr_pipe[0] : -1, POLLIN, 0}};
        const int ready = poll(fds, 2, int(left * 1000.0) + 1);
        if (ready < 0 && errno == EINTR) continue;
        char chunk[4096];
        for (int k = 0; k < 2; ++k) {
            if ((fds[k].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            const ssize_t n = read(fds[k].fd, chunk, sizeof chunk);
            if (n <= 0) {
                (k == 0 ? verdict_open : stderr_open) = false;
                continue;
            }
            if (k == 0) {
                verdict_text.append(chunk, size_t(n));
            } else {
                outcome.stderr_text.append(chunk, size_t(n));
                if (outcome.stderr_text.size() > 2 * kKeptStderrBytes)
                    outcome.stderr_text.erase(0, outcome.stderr_text.size() - kKeptStderrBytes);
            }
        }
    }
    close(verdict_pipe[0]);
    close(stderr_pipe[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    outcome.seconds = Seconds() - started;
    if (timed_out) {
        outcome.kind = ChildOutcome::kTimedOut;
    } else if (WIFSIGNALED(status)) {
        outcome.kind = ChildOutcome::kCrashed;
        outcome.signal = WTERMSIG(status);
    } else if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && !verdict_text.empty()) {
        outcome.kind = ChildOutcome::kReported;
        outcome.verdict.passed = verdict_text[0] == '1';
        outcome.verdict.skipped = verdict_text[0] == '2';
        outcome.verdict.report = verdict_text[0] == '3';
        outcome.verdict.detail = verdict_text.size() > 2 ? verdict_text.substr(2) : "";
    } else {
        outcome.kind = ChildOutcome::kExited;
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        // A verdict written before a non-zero end (valgrind's error exit)
        if (!verdict_text.empty()) outcome.verdict.detail = verdict_text.size() > 2 ? verdict_text.substr(2) : "";
    }
    return outcome;
}

Verdict Judge(const ChildOutcome& outcome, double time_limit, bool contract_stop_ok) {
    for (const char* report : {"ERROR: AddressSanitizer", "runtime error:", "ERROR: LeakSanitizer"}) {
        const std::string line = LineWith(outcome.stderr_text, report);
        if (!line.empty()) return Fail("sanitizer: " + line);
    }
    char text[160];
    switch (outcome.kind) {
    case ChildOutcome::kReported:
        return outcome.verdict;
    case ChildOutcome::kTimedOut:
        std::snprintf(text, sizeof text, "hung: no answer within %.1f s (killed)", time_limit);
        return Fail(text);
    case ChildOutcome::kCrashed: {
        const std::string assertion = LineWith(outcome.stderr_text, "assertion failed");
        if (outcome.signal == SIGABRT && !assertion.empty()) {
            if (contract_stop_ok) return Pass("stopped at its own contract check: " + assertion);
            return Fail("stopped at a contract check: " + assertion);
        }
        std::snprintf(text, sizeof text, "crashed: %s (signal %d)", SignalName(outcome.signal), outcome.signal);
        return Fail(text);
    }
    default:
        break;
    }
    std::snprintf(text, sizeof text, "ended with status %d and no verdict", outcome.status);
    std::string why = text;
    if (!outcome.verdict.detail.empty()) why += " (it said: " + outcome.verdict.detail + ")";
    const std::string last = LineWith(outcome.stderr_text, "==");  // a valgrind error line
    if (!last.empty()) why += "; " + last;
    return Fail(why);
}

}  // namespace sepcheck
