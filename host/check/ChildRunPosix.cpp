// The child-run layer on Linux. Three processes take part in one check:
//
//   runner (sep-host)  --fork-->  supervisor  --fork-->  child (runs the check)
//
// The supervisor leads a session of its own, so the child and everything the
// module starts from it share that session and process group, and, where the
// system has child subreapers, it adopts every orphan of the module. The
// module's parent is the supervisor, never the runner: a module that kills or
// stops its parent hits the supervisor, and the runner, which watches it,
// reports what happened and carries on with the next check. The child dies
// with the supervisor (PR_SET_PDEATHSIG) instead of running on without it.
//
// The runner waits for the supervisor's report of how the child ended, never
// for the child's pipes to close (the module may have passed them to
// processes of its own, or closed them and hung), and never past the time
// limit. Then it ends every process of the module (the supervisor's session
// and tree, and whatever holds one of the run's pipes), counting the ones
// that were still running. The verdict travels framed with a token of the run
// (VerdictChannel.h) on a close-on-exec pipe; the child keeps no other
// descriptor of the runner's but its standard output and error.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "Allocations.h"
#include "ChildRun.h"
#include "Drive.h"
#include "VerdictChannel.h"

namespace sepcheck {

namespace {

constexpr size_t kKeptStderrBytes = 16384;
// What a child's output copied to its log file may reach: any sanitizer's
// report, not all of a flood.
constexpr unsigned long long kLoggedBytes = 4ull << 20;
// A child that writes more than this on its standard output and error is
// flooding them: the runner ends it rather than read on.
constexpr unsigned long long kOutputFloodBytes = 16ull << 20;
// More than a verdict frame can honestly hold: the rest is not kept.
constexpr size_t kVerdictChannelBytes = 1u << 20;
// How often the runner looks at the supervisor while the pipes are quiet.
constexpr int kWatchMilliseconds = 20;
// The address space a child may take beyond the runner's own.
constexpr unsigned long long kChildMemoryHeadroom = 1ull << 30;
// The text the allocator wrappers print when an allocation fails
// (Allocations.cpp).
constexpr const char* kAllocationFailed = "an allocation of";

// The supervisor's reports to the runner, each one write of a fixed record.
struct SupervisorReport {
    enum Kind : int32_t { kStarted = 1, kEnded = 2, kNoChild = 3 };
    int32_t kind;
    int32_t child;     // process id
    int32_t code;      // waitid's si_code: CLD_EXITED, CLD_KILLED, CLD_DUMPED, CLD_STOPPED
    int32_t status;    // its si_status: the exit status or the signal
    char program[16];  // the child's program name (comm) when it ended
};

void WriteAll(int fd, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += size_t(n);
    }
}

// What /proc tells of one process.
struct ProcessEntry {
    pid_t pid = 0, parent = 0, session = 0;
    char state = '?';
    int threads = 0;
    std::string program;
};

bool ReadProcess(pid_t pid, ProcessEntry* entry) {
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char text[512];
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0) return false;
    text[n] = '\0';
    // "pid (program) state ppid pgrp session ...": the name may hold spaces
    // and parentheses, so it ends at the last ')'.
    char* open_paren = std::strchr(text, '(');
    char* close_paren = std::strrchr(text, ')');
    if (open_paren == nullptr || close_paren == nullptr || close_paren < open_paren) return false;
    int parent = 0, group = 0, session = 0, threads = 0;
    char state = '?';
    if (std::sscanf(close_paren + 1, " %c %d %d %d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %d", &state,
                    &parent, &group, &session, &threads) != 5)
        return false;
    entry->pid = pid;
    entry->parent = parent;
    entry->session = session;
    entry->state = state;
    entry->threads = threads;
    entry->program.assign(open_paren + 1, close_paren);
    return true;
}

std::vector<ProcessEntry> AllProcesses() {
    std::vector<ProcessEntry> all;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return all;
    while (dirent* item = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(item->d_name, &end, 10);
        ProcessEntry entry;
        if (pid > 0 && *end == '\0' && ReadProcess(static_cast<pid_t>(pid), &entry)) all.push_back(entry);
    }
    closedir(proc);
    return all;
}

// Whether process `pid` holds one of `pipes` (by their "pipe:[inode]" names).
bool HoldsPipe(pid_t pid, const std::vector<std::string>& pipes) {
    char path[40];
    std::snprintf(path, sizeof path, "/proc/%d/fd", static_cast<int>(pid));
    DIR* fds = opendir(path);
    if (fds == nullptr) return false;
    bool holds = false;
    while (dirent* item = readdir(fds)) {
        if (item->d_name[0] == '.') continue;
        char link[320], target[64];
        std::snprintf(link, sizeof link, "%s/%s", path, item->d_name);
        const ssize_t n = readlink(link, target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = '\0';
        for (const std::string& pipe : pipes) holds = holds || pipe == target;
    }
    closedir(fds);
    return holds;
}

// The live processes of the module: those of the supervisor's session, every
// descendant of the supervisor (where the system has child subreapers, a
// process that made a session of its own stays in its tree), and any other
// that holds one of the run's pipes; the supervisor itself not included.
std::vector<pid_t> ProcessesUnder(pid_t supervisor, const std::vector<std::string>& pipes) {
    const std::vector<ProcessEntry> all = AllProcesses();
    std::map<pid_t, pid_t> parent_of;
    for (const ProcessEntry& e : all) parent_of[e.pid] = e.parent;
    std::vector<pid_t> found;
    const pid_t self = getpid();
    for (const ProcessEntry& e : all) {
        if (e.pid == supervisor || e.pid == self || e.state == 'Z' || e.state == 'X') continue;
        bool under = e.session == supervisor;
        pid_t up = e.parent;
        for (int depth = 0; !under && up > 1 && depth < 4096; ++depth) {
            under = up == supervisor;
            const auto next = parent_of.find(up);
            up = next == parent_of.end() ? 0 : next->second;
        }
        if (under || HoldsPipe(e.pid, pipes)) found.push_back(e.pid);
    }
    return found;
}

// Ends the supervisor (unless it is already gone and waited for) and
// everything under it; the number of processes other than `child` that were
// still running.
int EndEverything(pid_t supervisor, bool supervisor_reaped, pid_t child, const std::vector<std::string>& pipes) {
    // The supervisor lives on until the rest are gone, so that every orphan
    // they leave goes to it and stays in sight.
    int leftover = -1;
    for (int round = 0; round < 5000; ++round) {
        const std::vector<pid_t> found = ProcessesUnder(supervisor, pipes);
        if (leftover < 0) {
            leftover = 0;
            for (pid_t pid : found) leftover += pid != child ? 1 : 0;
        }
        if (found.empty()) break;
        for (pid_t pid : found) kill(pid, SIGKILL);
        usleep(1000);  // a killed process lingers a moment before it is a zombie
    }
    if (!supervisor_reaped) {
        kill(supervisor, SIGKILL);
        while (waitpid(supervisor, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    return leftover < 0 ? 0 : leftover;
}

// Keeps the child's memory within bounds, so that a module that allocates
// gigabytes fails its allocation instead of taking the machine's memory: a
// heap limit in the allocator's entry points (Allocations.cpp), and a bound
// on the address space for what bypasses the heap. Neither under
// AddressSanitizer, whose allocator is its own and whose shadow memory
// reserves most of a 32-bit address space; no address-space bound where the
// process already holds a 4 GiB one (a 32-bit program run by an emulator).
void LimitMemory() {
    LimitHeap(kChildMemoryHeadroom);
#if !defined(__SANITIZE_ADDRESS__)
    unsigned long long used = 0;
    const int fd = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char text[128] = {0};
        if (read(fd, text, sizeof text - 1) > 0) used = std::strtoull(text, nullptr, 10) * sysconf(_SC_PAGESIZE);
        close(fd);
    }
    rlimit limit;
    if (used == 0 || getrlimit(RLIMIT_AS, &limit) != 0) return;
    const unsigned long long wanted = used + kChildMemoryHeadroom;
    if (wanted >= static_cast<unsigned long long>(static_cast<rlim_t>(-1))) return;
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > wanted) {
        limit.rlim_cur = static_cast<rlim_t>(wanted);
        setrlimit(RLIMIT_AS, &limit);
    }
#endif
}

int CountThreads() {
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) return 0;
    int count = 0;
    while (dirent* item = readdir(tasks)) count += item->d_name[0] != '.' ? 1 : 0;
    closedir(tasks);
    return count;
}

// Every descriptor from `first` on closed.
void CloseFrom(int first) {
#if defined(SYS_close_range)
    if (syscall(SYS_close_range, first, ~0u, 0) == 0) return;
#endif
    const long most = sysconf(_SC_OPEN_MAX);
    for (long fd = first; fd < (most > 0 && most < 65536 ? most : 65536); ++fd) close(static_cast<int>(fd));
}

// The child: runs the check and writes its verdict frame on descriptor 3.
[[noreturn]] void RunChild(const std::function<Verdict()>& body, pid_t supervisor, int verdict_fd, int output_fd,
                           const std::string& token, ProgressArea* progress) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != supervisor) _exit(127);  // the supervisor is already gone
    const int nothing = open("/dev/null", O_RDONLY);
    dup2(nothing >= 0 ? nothing : output_fd, STDIN_FILENO);
    dup2(output_fd, STDOUT_FILENO);  // a module's own prints stay out of the report
    dup2(output_fd, STDERR_FILENO);
    if (verdict_fd != 3) dup3(verdict_fd, 3, O_CLOEXEC);
    CloseFrom(4);
    rlimit no_core = {0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    LimitMemory();

    AttachProgress(progress, 0.0);
    const int threads_before = CountThreads();
    Verdict verdict = body();
    // A module that leaves threads of its own running after every instance
    // and its library are gone keeps burning the host's processor.
    int extra = CountThreads() - threads_before;
    for (int wait = 0; extra > 0 && wait < 20; ++wait) {
        usleep(10000);
        extra = CountThreads() - threads_before;
    }
    if (extra > 0) {
        const std::string said = verdict.detail;
        verdict = Fail("left " + std::to_string(extra) + (extra == 1 ? " thread" : " threads") +
                       " of its own running after its library was unloaded" + (said.empty() ? "" : "; " + said));
    }
    const std::string frame = FrameVerdict(token, static_cast<long>(getpid()), verdict);
    WriteAll(3, frame.data(), frame.size());
    std::fflush(nullptr);
    _exit(0);
}

// The supervisor: starts the child, reports its start and its end to the
// runner, adopts the module's orphans, and waits to be ended.
[[noreturn]] void Supervise(const std::function<Verdict()>& body, int verdict_fd, int output_fd, int report_fd,
                            const std::string& token, ProgressArea* progress) {
    setsid();
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    prctl(PR_SET_DUMPABLE, 0);  // its descriptors are not open to the module through /proc
    const pid_t self = getpid();
    const pid_t child = fork();
    if (child == 0) {
        close(report_fd);
        RunChild(body, self, verdict_fd, output_fd, token, progress);
    }
    close(verdict_fd);
    close(output_fd);
    SupervisorReport report;
    std::memset(&report, 0, sizeof report);
    report.kind = child > 0 ? SupervisorReport::kStarted : SupervisorReport::kNoChild;
    report.child = child;
    WriteAll(report_fd, &report, sizeof report);
    if (child < 0) _exit(1);
    for (;;) {
        siginfo_t info;
        std::memset(&info, 0, sizeof info);
        if (waitid(P_ALL, 0, &info, WEXITED | WSTOPPED | WNOWAIT) != 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (info.si_pid != child) {  // an adopted process of the module: reaped
            siginfo_t other;
            waitid(P_PID, static_cast<id_t>(info.si_pid), &other, WEXITED | WSTOPPED | WNOHANG);
            continue;
        }
        ProcessEntry entry;
        if (ReadProcess(child, &entry)) std::strncpy(report.program, entry.program.c_str(), sizeof report.program - 1);
        report.kind = SupervisorReport::kEnded;
        report.code = info.si_code;
        report.status = info.si_status;
        WriteAll(report_fd, &report, sizeof report);
        if (info.si_code != CLD_STOPPED) waitid(P_PID, static_cast<id_t>(child), &info, WEXITED);
        break;
    }
    for (;;) {
        if (waitpid(-1, nullptr, 0) < 0 && errno == ECHILD) usleep(10000);
    }
}

// Reads what is there on a non-blocking descriptor; false at its end.
bool ReadSome(int fd, std::string* into, size_t keep_at_most, unsigned long long* total, int copy_fd = -1) {
    char chunk[65536];
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
        if (n == 0) return false;
        if (total != nullptr) *total += static_cast<unsigned long long>(n);
        if (copy_fd >= 0 && total != nullptr && *total - static_cast<unsigned long long>(n) < kLoggedBytes) {
            const unsigned long long room = kLoggedBytes - (*total - static_cast<unsigned long long>(n));
            WriteAll(copy_fd, chunk,
                     static_cast<size_t>(std::min<unsigned long long>(room, static_cast<unsigned long long>(n))));
        }
        into->append(chunk, size_t(n));
        if (into->size() > 2 * keep_at_most) into->erase(0, into->size() - keep_at_most);
        if (total != nullptr && *total > kOutputFloodBytes) return true;
    }
}

std::string OwnProgramName() {
    ProcessEntry self;
    return ReadProcess(getpid(), &self) ? self.program : "";
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
    case SIGTERM:
        return "SIGTERM";
    case SIGSTOP:
        return "SIGSTOP";
    case SIGTSTP:
        return "SIGTSTP";
    case SIGTTIN:
        return "SIGTTIN";
    case SIGTTOU:
        return "SIGTTOU";
    case SIGINT:
        return "SIGINT";
    case SIGHUP:
        return "SIGHUP";
    case SIGQUIT:
        return "SIGQUIT";
    case SIGPIPE:
        return "SIGPIPE";
    case SIGALRM:
        return "SIGALRM";
    case SIGUSR1:
        return "SIGUSR1";
    case SIGUSR2:
        return "SIGUSR2";
    default:
        return "signal";
    }
}

std::string SignalText(int signal) {
    return std::string(SignalName(signal)) + " (signal " + std::to_string(signal) + ")";
}

bool IsFault(int signal) {
    return signal == SIGSEGV || signal == SIGBUS || signal == SIGILL || signal == SIGFPE || signal == SIGABRT;
}

// The three pipes from the supervisor: the child's verdict, its standard
// output and error, and the supervisor's own reports.
struct ChildPipes {
    int verdict[2] = {-1, -1};
    int output[2] = {-1, -1};
    int report[2] = {-1, -1};

    bool Make() {
        if (pipe2(verdict, O_CLOEXEC) != 0) return false;
        if (pipe2(output, O_CLOEXEC) == 0) {
            if (pipe2(report, O_CLOEXEC) == 0) return true;
            close(output[0]);
            close(output[1]);
        }
        close(verdict[0]);
        close(verdict[1]);
        return false;
    }
    void CloseReadEnds() const {
        close(verdict[0]);
        close(output[0]);
        close(report[0]);
    }
    void CloseWriteEnds() const {
        close(verdict[1]);
        close(output[1]);
        close(report[1]);
    }
};

// The watchdog: a call into the module past its bound is a hang of that
// call, known now rather than at the time limit. The child counts its calls;
// the runner times the one it sees under way, to within one look.
class CallWatch {
public:
    // True when the call under way has run past its bound (then in *bound).
    bool Hung(const ProgressArea& progress, double* bound) {
        if (__atomic_load_n(&progress.depth, __ATOMIC_ACQUIRE) <= 0) {
            m_watching = false;
            return false;
        }
        const uint32_t sequence = __atomic_load_n(&progress.sequence, __ATOMIC_ACQUIRE);
        if (!m_watching || sequence != m_sequence) {
            m_watching = true;
            m_sequence = sequence;
            m_since = Seconds();
            return false;
        }
        if (progress.call_limit <= 0.0 || Seconds() - m_since <= CallBound(progress)) return false;
        *bound = CallBound(progress);
        return true;
    }

private:
    bool m_watching = false;  // a call under way, seen since m_since
    uint32_t m_sequence = 0;
    double m_since = 0.0;
};

// What the runner read and saw while the child ran.
struct Watched {
    std::string verdict_bytes, report_bytes;
    unsigned long long output_bytes = 0;
    bool verdict_open = true, output_open = true, report_open = true;
    bool timed_out = false, call_hung = false, flooded = false;
    bool supervisor_gone = false, supervisor_reaped = false, ended = false;
    int supervisor_status = 0;
    SupervisorReport report = {};
    pid_t child = 0;
};

// Reads the pipes until the supervisor reports the child's end, the
// supervisor itself is gone, the output floods, a call hangs or the time is up.
void WatchChild(const ChildPipes& pipes, pid_t supervisor, ProgressArea* progress, double started, double time_limit,
                int log_fd, Watched* w, ChildOutcome* outcome) {
    static const int own_threads = CountThreads();
    CallWatch call_watch;
    while (!w->ended) {
        const double left = time_limit - (Seconds() - started);
        if (left <= 0.0) {
            w->timed_out = true;
            return;
        }
        pollfd fds[3] = {{w->verdict_open ? pipes.verdict[0] : -1, POLLIN, 0},
                         {w->output_open ? pipes.output[0] : -1, POLLIN, 0},
                         {w->report_open ? pipes.report[0] : -1, POLLIN, 0}};
        const int wait_ms = left * 1000.0 < kWatchMilliseconds ? int(left * 1000.0) + 1 : kWatchMilliseconds;
        if (poll(fds, 3, wait_ms) < 0 && errno != EINTR) usleep(1000);
        if (w->verdict_open && fds[0].revents != 0)
            w->verdict_open = ReadSome(pipes.verdict[0], &w->verdict_bytes, kVerdictChannelBytes, nullptr);
        if (w->output_open && fds[1].revents != 0)
            w->output_open =
                ReadSome(pipes.output[0], &outcome->stderr_text, kKeptStderrBytes, &w->output_bytes, log_fd);
        if (w->output_bytes > kOutputFloodBytes) {
            w->flooded = true;
            return;
        }
        if (w->report_open && fds[2].revents != 0)
            w->report_open = ReadSome(pipes.report[0], &w->report_bytes, 4096, nullptr);
        while (w->report_bytes.size() >= sizeof w->report) {
            std::memcpy(&w->report, w->report_bytes.data(), sizeof w->report);
            w->report_bytes.erase(0, sizeof w->report);
            if (w->report.kind == SupervisorReport::kStarted) w->child = w->report.child;
            if (w->report.kind == SupervisorReport::kEnded || w->report.kind == SupervisorReport::kNoChild)
                w->ended = true;
        }
        // The supervisor runs no module code: stopped or ended before its
        // report, the module did it.
        const pid_t seen = waitpid(supervisor, &w->supervisor_status, WNOHANG | WUNTRACED);
        if (seen == supervisor && !w->ended) {
            w->supervisor_gone = true;
            w->supervisor_reaped = !WIFSTOPPED(w->supervisor_status);
            return;
        }
        ProcessEntry running;
        if (w->child > 0 && ReadProcess(w->child, &running) && running.threads - own_threads > outcome->threads)
            outcome->threads = running.threads - own_threads;
        if (!w->ended && call_watch.Hung(*progress, &outcome->call_bound)) {
            w->call_hung = true;
            return;
        }
    }
}

// How the child ended, from what the runner watched and the child's verdict.
void Classify(const Watched& w, const std::string& token, ChildOutcome* outcome) {
    const int status = w.supervisor_status;
    if (w.call_hung) {
        outcome->kind = ChildOutcome::kCallHung;
    } else if (w.timed_out) {
        outcome->kind = ChildOutcome::kTimedOut;
    } else if (w.flooded) {
        outcome->kind = ChildOutcome::kFlooded;
    } else if (w.supervisor_gone) {
        outcome->kind = ChildOutcome::kSignalledParent;
        outcome->parent_stopped = WIFSTOPPED(status);
        outcome->signal = WIFSTOPPED(status) ? WSTOPSIG(status) : WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        outcome->status = WIFEXITED(status) ? WEXITSTATUS(status) : 0;
    } else if (w.report.kind == SupervisorReport::kNoChild) {
        outcome->status = -1;
        outcome->stderr_text = "cannot fork";
    } else if (w.report.code == CLD_STOPPED) {
        outcome->kind = ChildOutcome::kStopped;
        outcome->signal = w.report.status;
    } else if (w.report.code == CLD_KILLED || w.report.code == CLD_DUMPED) {
        outcome->kind = ChildOutcome::kCrashed;
        outcome->signal = w.report.status;
    } else {
        const ChannelReading reading = ReadVerdictChannel(w.verdict_bytes, token, static_cast<long>(w.child));
        if (reading.state == ChannelReading::kCorrupted) {
            outcome->kind = ChildOutcome::kCorrupted;
            outcome->channel_problem = reading.problem;
        } else if (reading.state == ChannelReading::kVerdict && w.report.status == 0) {
            outcome->kind = ChildOutcome::kReported;
            outcome->verdict = reading.verdict;
        } else {
            outcome->kind = ChildOutcome::kExited;
            outcome->status = w.report.status;
            // A verdict written before a non-zero end (valgrind's error exit)
            if (reading.state == ChannelReading::kVerdict) outcome->verdict.detail = reading.verdict.detail;
        }
    }
}

}  // namespace

ChildOutcome RunInChild(const std::function<Verdict()>& body, double time_limit, int log_fd) {
    ChildOutcome outcome;
    ChildPipes pipes;
    if (!pipes.Make()) {
        outcome.status = -1;
        outcome.stderr_text = "cannot make a pipe";
        return outcome;
    }
    // The child's progress, in memory shared with it.
    void* shared = mmap(nullptr, sizeof(ProgressArea), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ProgressArea own_area;
    ProgressArea* progress = shared != MAP_FAILED ? static_cast<ProgressArea*>(shared) : &own_area;
    ClearProgress(progress);
    const std::string token = NewChannelToken();
    std::fflush(stdout);
    std::fflush(stderr);
    const double started = Seconds();
    const pid_t supervisor = fork();
    if (supervisor == 0) {
        pipes.CloseReadEnds();
        Supervise(body, pipes.verdict[1], pipes.output[1], pipes.report[1], token, progress);
    }
    pipes.CloseWriteEnds();
    if (supervisor < 0) {
        pipes.CloseReadEnds();
        outcome.status = -1;
        outcome.stderr_text = "cannot fork";
        if (shared != MAP_FAILED) munmap(shared, sizeof(ProgressArea));
        return outcome;
    }
    std::vector<std::string> pipe_names;
    for (int fd : {pipes.verdict[0], pipes.output[0], pipes.report[0]}) {
        fcntl(fd, F_SETFL, O_NONBLOCK);
        struct stat about;
        if (fstat(fd, &about) == 0) pipe_names.push_back("pipe:[" + std::to_string(about.st_ino) + "]");
    }

    Watched w;
    WatchChild(pipes, supervisor, progress, started, time_limit, log_fd, &w, &outcome);
    // The program the child runs, while it is still there to ask.
    std::string program = w.report.program;
    ProcessEntry running;
    if (!w.ended && w.child > 0 && ReadProcess(w.child, &running) && running.state != 'Z') program = running.program;
    outcome.leftover_processes = EndEverything(supervisor, w.supervisor_reaped, w.child, pipe_names);
    // Whatever the ended processes had written.
    if (w.verdict_open) ReadSome(pipes.verdict[0], &w.verdict_bytes, kVerdictChannelBytes, nullptr);
    if (w.output_open && !w.flooded)
        ReadSome(pipes.output[0], &outcome.stderr_text, kKeptStderrBytes, &w.output_bytes, log_fd);
    pipes.CloseReadEnds();
    outcome.progress = *progress;
    if (outcome.progress.depth > 0 && outcome.progress.noted != 0) outcome.call = DescribeCall(outcome.progress.note);
    if (shared != MAP_FAILED) munmap(shared, sizeof(ProgressArea));
    outcome.seconds = Seconds() - started;
    static const std::string own_program = OwnProgramName();
    if (!program.empty() && program != own_program) outcome.program = program;
    Classify(w, token, &outcome);
    return outcome;
}

namespace {

// The sanitizer's report in the child's output, as the reason of a failure,
// or empty. Its own internal check failing (its allocator out of address
// space, say) is a sanitizer report too, not a silent exit.
std::string SanitizerReport(const ChildOutcome& outcome) {
    for (const char* report :
         {"ERROR: AddressSanitizer", "runtime error:", "ERROR: LeakSanitizer", "AddressSanitizer: CHECK failed"}) {
        const std::string line = LineWith(outcome.stderr_text, report);
        if (line.empty()) continue;
        // Memory the module freed, touched again: named as such, a use
        // after close when the touch came inside the close that freed it.
        const bool after_free = line.find("heap-use-after-free") != std::string::npos;
        const bool in_close = outcome.call.find("SE_OP_CLOSE") != std::string::npos;
        return "sanitizer: " + std::string(after_free ? (in_close ? "use after close: " : "use after free: ") : "") +
               line + (outcome.call.empty() ? "" : " in " + outcome.call);
    }
    return "";
}

// What else the child was seen doing, added to the reason of a failure.
std::string Circumstances(const ChildOutcome& outcome) {
    std::string more;
    if (!outcome.program.empty()) more += "; it was running another program, '" + outcome.program + "'";
    if (outcome.threads > 0) more += "; it had started " + std::to_string(outcome.threads) + " threads";
    const std::string allocation = LineWith(outcome.stderr_text, kAllocationFailed);
    if (!allocation.empty())
        more += "; " + allocation + " (a check may take " + std::to_string(kChildMemoryHeadroom >> 20) +
                " MiB of memory beyond sep-host's own)";
    const std::string last = LineWith(outcome.stderr_text, "==");  // a valgrind error line
    if (outcome.kind == ChildOutcome::kExited && !last.empty()) more += "; " + last;
    return more;
}

// How the child ended, as a verdict.
Verdict JudgeEnd(const ChildOutcome& outcome, double time_limit, bool contract_stop_ok) {
    const std::string sanitizer = SanitizerReport(outcome);
    if (!sanitizer.empty()) return Fail(sanitizer);
    std::string why;
    char text[160];
    switch (outcome.kind) {
    case ChildOutcome::kReported:
        return outcome.verdict;
    case ChildOutcome::kTimedOut:
        std::snprintf(text, sizeof text, "hung: no answer within %.1f s (killed)", time_limit);
        why = text;
        if (!outcome.call.empty()) why += "; in " + outcome.call;
        break;
    case ChildOutcome::kCallHung:
        std::snprintf(text, sizeof text, " did not return within %.1f s (killed)", outcome.call_bound);
        why = "hung: " + outcome.call + text;
        break;
    case ChildOutcome::kCrashed: {
        const std::string assertion = LineWith(outcome.stderr_text, "assertion failed");
        if (outcome.signal == SIGABRT && !assertion.empty()) {
            if (contract_stop_ok) return Pass("stopped at its own contract check: " + assertion);
            return Fail("stopped at a contract check: " + assertion);
        }
        why = (IsFault(outcome.signal) ? "crashed: " : "killed by ") + SignalText(outcome.signal);
        if (!outcome.call.empty()) why += " in " + outcome.call;
        break;
    }
    case ChildOutcome::kStopped:
        why = "stopped by " + SignalText(outcome.signal) + " (ended by the check)";
        break;
    case ChildOutcome::kSignalledParent:
        why = outcome.signal == 0 ? "the process running the module ended unexpectedly"
              : outcome.parent_stopped
                  ? "the module stopped its parent process with " + SignalText(outcome.signal) + " (ended by the check)"
                  : "the module killed its parent process with " + SignalText(outcome.signal);
        break;
    case ChildOutcome::kCorrupted:
        why = "the verdict channel was corrupted: " + outcome.channel_problem;
        break;
    case ChildOutcome::kFlooded:
        why = "flooded its standard output: more than " + std::to_string(kOutputFloodBytes >> 20) +
              " MiB written (ended by the check)";
        break;
    case ChildOutcome::kExited:
        std::snprintf(text, sizeof text, "ended with status %d and no verdict", outcome.status);
        why = text;
        if (!outcome.verdict.detail.empty()) why += " (it said: " + outcome.verdict.detail + ")";
        break;
    }
    return Fail(why + Circumstances(outcome));
}

}  // namespace

Verdict Judge(const ChildOutcome& outcome, double time_limit, bool contract_stop_ok) {
    Verdict verdict = JudgeEnd(outcome, time_limit, contract_stop_ok);
    if (outcome.leftover_processes > 0) {
        const int n = outcome.leftover_processes;
        verdict =
            Fail("left " + std::to_string(n) + (n == 1 ? " process" : " processes") +
                 " of the module running (ended by the check)" + (verdict.detail.empty() ? "" : "; " + verdict.detail));
    }
    return verdict;
}

}  // namespace sepcheck
