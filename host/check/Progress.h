// What a check's child is doing, kept where the runner can still read it
// after the child crashed or while it hangs: the case being run, the sample
// rate and block size in force, and the call into the module under way with
// its arguments and when it began. The child-run layer gives the area
// (memory shared with the runner); outside a child, or in-process, it is
// the runner's own. The runner's watchdog ends a child whose call has run
// past its bound.
#pragma once

#include <cstdint>
#include <string>

#include "SepHost.h"

namespace sepcheck {

struct ProgressArea {
    int32_t case_index;   // -1: none (the check has no numbered cases)
    float sample_rate;    // of the last call made; 0: none yet
    int32_t block_size;   // likewise
    int32_t depth;        // calls into the module under way (they may nest)
    double call_started;  // Seconds() when the outermost began
    double call_bound;    // seconds it may take
    double call_limit;    // seconds a call may take per 1024 samples of block (at least that)
    char call[240];       // the outermost call under way (or the last one), as text
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
void BeginCall(const char* text, float sample_rate, int32_t block_size, int32_t samples);
void EndCall();

// "process(start 0, count 256) at clock 1024" and the like.
std::string DescribeCall(const sephost::CallNote& note);
// The bound of one call: the limit per 1024 samples, scaled by the larger
// of the block size and the call's sample count, never below the limit.
double CallBound(double call_limit, int32_t samples);

}  // namespace sepcheck
