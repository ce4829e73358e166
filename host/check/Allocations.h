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

}  // namespace sepcheck
