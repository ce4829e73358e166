// Runs one check in a child process, so that a module that crashes, hangs or
// corrupts memory takes down only that check: the child reports its verdict
// through a pipe, the parent keeps what the child wrote on stderr, kills it
// at the time limit and tells how it ended.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Progress.h"

namespace sepcheck {

// A check's own verdict, with the reason and the values that show it.
struct Verdict {
    bool passed = false;
    std::string detail;
    bool skipped = false;  // could not be measured here (passed stays false)
    bool report = false;   // a measurement to read, neither passed nor failed
    // A failure at a sample: the input pins' values in force there, by name,
    // in table order.
    std::vector<std::pair<std::string, float>> inputs;
};

Verdict Pass(const std::string& detail = "");
Verdict Fail(const std::string& detail);
Verdict Fail(const std::string& detail, const std::vector<std::pair<std::string, float>>& inputs);
Verdict Skip(const std::string& why);
Verdict Report(const std::string& measurement);

struct ChildOutcome {
    enum Kind {
        kReported,         // the child gave its verdict and ended normally
        kCrashed,          // ended by a signal before or after its verdict
        kTimedOut,         // killed at the time limit
        kExited,           // ended with no verdict, or with a non-zero status
        kStopped,          // stopped itself (or was stopped): ended by the runner
        kSignalledParent,  // the module killed or stopped the process that runs it
        kCorrupted,        // the verdict channel held something else than one verdict
        kFlooded,          // wrote more than the runner keeps reading: ended by it
        kCallHung,         // a call into the module ran past its bound: ended by the watchdog
    };
    Kind kind = kExited;
    Verdict verdict;              // kReported: the child's own
    int signal = 0;               // kCrashed, kStopped, kSignalledParent: the signal
    bool parent_stopped = false;  // kSignalledParent: stopped rather than killed
    int status = 0;               // kExited
    std::string channel_problem;  // kCorrupted: what the channel held
    std::string program;          // the name of another program the child was seen running, if any
    int leftover_processes = 0;   // processes of the module still running after the child ended (all ended)
    int threads = 0;              // the most threads of its own the child was seen running
    std::string stderr_text;      // what the child wrote on stderr (its last part)
    std::string call;             // the call under way when the child ended (DescribeCall), or empty
    double call_bound = 0.0;      // kCallHung: the bound it ran past
    ProgressArea progress = {-1, 0,   0u,
                             0,  0.0, sephost::CallNote()};  // what the child was doing when it ended (Progress.h)
    double seconds = 0.0;
};

// `body` runs in a child process; the parent waits at most `time_limit`
// seconds of wall-clock time, whatever the child does with its descriptors,
// and ends every process the child left behind before it returns. The child
// writes its progress (Progress.h) where the parent reads it; a call into
// the module that runs past its bound (when the body sets a call limit) ends
// the child at once.
// With `log_fd` not -1, everything the child writes on its standard output
// and error (up to the flood limit) is copied there as it comes, in full.
ChildOutcome RunInChild(const std::function<Verdict()>& body, double time_limit, int log_fd = -1);

// The first line of `text` holding `needle`, or empty.
std::string LineWith(const std::string& text, const std::string& needle);

// The verdict on an outcome: a report of the address or undefined-behaviour
// sanitizer fails the check whatever the child said; a crash, a time-out or
// a silent end fails it with the reason. With `contract_stop_ok`, a child
// that stopped itself with abort() after printing "assertion failed" (a
// module's debug contract check refusing a host's fault) passes, noted.
Verdict Judge(const ChildOutcome& outcome, double time_limit, bool contract_stop_ok);

}  // namespace sepcheck
