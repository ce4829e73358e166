// What a check's child is doing, kept where the runner can still read it
// after the child crashed or while it hangs: the case being run, and the
// call into the module under way (or the last one) with its arguments, the
// sample rate and block size. The child-run layer gives the area (memory
// shared with the runner); outside a child, or in-process, it is the
// runner's own. Noting a call costs a copy of its note and no clock read:
// the runner's watchdog times a call by the sequence number it sees under
// way, and ends a child whose call has run past its bound.
#pragma once

#include <cstdint>
#include <string>

#include "SepHost.h"

namespace sepcheck {

struct ProgressArea {
    int32_t case_index;      // -1: none (the check has no numbered cases)
    int32_t depth;           // calls into the module under way (they may nest)
    uint32_t sequence;       // counts the outermost calls begun
    int32_t noted;           // 1 once `note` holds a call
    double call_limit;       // seconds a call may take per 1024 samples of block (at least that); 0: no watchdog
    sephost::CallNote note;  // the outermost call under way, or the last one
};

// The area the child writes to; null: nothing is kept. Attaching also
// starts watching the engine's calls.
void AttachProgress(ProgressArea* area, double call_limit);
ProgressArea* Progress();
void ClearProgress(ProgressArea* area);

// A case of the current check begins.
void NoteCase(int case_index);
// A call into the module begins and ends (the engine's calls are noted on
// their own; BareHost notes its calls with these).
void BeginCall(const sephost::CallNote& note);
void EndCall();

// "instance 0 process(start 0, count 256) at clock 1024" and the like
// (no instance for the minimal host's one).
std::string DescribeCall(const sephost::CallNote& note);
// The bound of the noted call: the limit per 1024 samples, scaled by the
// larger of the block size and the call's sample count, never below the
// limit; 0 when there is no limit.
double CallBound(const ProgressArea& area);

}  // namespace sepcheck
