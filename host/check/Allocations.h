// Counting the heap requests a module library makes itself: malloc, calloc,
// realloc and the aligned forms, called from code inside the library's
// loaded image. The host's own requests (its vectors, its callbacks'
// records) are not counted, so a count taken around a run is the module's.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sepcheck {

struct CodeRange {
    uintptr_t begin = 0;
    uintptr_t end = 0;
};

// The loaded image that holds `symbol` (a function of a loaded library).
bool CodeRangeOf(const void* symbol, CodeRange* range);

// False where the requests cannot be seen: in sanitizer builds, whose
// allocator is the sanitizer's own.
bool AllocationCountingAvailable();

// From now on a request that would take the live heap beyond `bytes` (what
// was allocated before not counted) fails, and every failed request prints
// "sep-host: an allocation of N bytes failed" on stderr. Not in sanitizer
// builds.
void LimitHeap(size_t bytes);

// Counting runs between Start and Stop; Stop answers the count.
void StartCountingAllocations(const CodeRange& range);
size_t StopCountingAllocations();

// Holding what a module frees, so that a later touch of it shows: between
// StartHoldingFrees and StopHoldingFrees every free() called from inside
// `range` keeps its block (up to a fixed number of blocks, the rest freed as
// usual), filled with a pattern and noted with the label set last.
// FirstWriteToHeldBlock finds the first held block whose pattern changed;
// ReleaseHeldBlocks frees them all. Writes show, reads do not. False where
// frees cannot be seen: in sanitizer builds, whose allocator is its own (and
// reports a use after free itself).
bool FreeHoldingAvailable();
void StartHoldingFrees(const CodeRange& range);
void StopHoldingFrees();
// The label of the blocks freed from now on ("the close of instance A"); a
// text that outlives the holding.
void LabelHeldFrees(const char* label);
struct HeldWrite {
    size_t block_bytes = 0;  // the block's usable size
    size_t offset = 0;       // of its first changed byte
    size_t changed = 0;      // bytes changed
    const char* label = "";  // when it was freed
};
size_t HeldBlocks();
bool FirstWriteToHeldBlock(HeldWrite* write);
void ReleaseHeldBlocks();

}  // namespace sepcheck
