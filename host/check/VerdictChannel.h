// The verdict channel between a check's child and the runner: the child
// writes one framed message holding a token drawn afresh for each run, its
// process id, the verdict's kind and its detail; the runner accepts exactly
// one such frame and nothing else. A module that writes into descriptors it
// did not open cannot forge a verdict without the token, and any stray byte
// on the channel, a frame from another process (a module that forked) or a
// frame cut short makes the channel corrupted, which fails the check.
//
// Platform-neutral: each child-run variant (fork, CreateProcess) carries the
// bytes its own way.
#pragma once

#include <string>

#include "ChildRun.h"

namespace sepcheck {

// A fresh token: 128 random bits as 32 hexadecimal digits.
std::string NewChannelToken();

// The one message a child writes: "SEPV <token> <sender> <kind> <length>\n"
// then `length` bytes of detail. `kind` is P (passed), F (failed), S
// (skipped) or R (a report).
std::string FrameVerdict(const std::string& token, long sender, const Verdict& verdict);

struct ChannelReading {
    enum State {
        kEmpty,      // nothing was written
        kVerdict,    // exactly one frame of this run from the expected sender
        kCorrupted,  // anything else; `problem` says what
    };
    State state = kEmpty;
    Verdict verdict;      // kVerdict
    std::string problem;  // kCorrupted
};

// Reads everything that arrived on the channel of a run with `token` whose
// child is process `sender`.
ChannelReading ReadVerdictChannel(const std::string& bytes, const std::string& token, long sender);

}  // namespace sepcheck
