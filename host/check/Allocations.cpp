#include "Allocations.h"

#include <dlfcn.h>
#include <link.h>

#include <cstdlib>

namespace sepcheck {

namespace {

struct Counting {
    bool on = false;
    CodeRange range;
    size_t count = 0;
};
Counting g_counting;

struct Search {
    uintptr_t base;
    CodeRange* range;
    bool found;
};

int FindImage(dl_phdr_info* info, size_t, void* data) {
    Search* search = static_cast<Search*>(data);
    if (info->dlpi_addr != search->base) return 0;
    uintptr_t begin = UINTPTR_MAX, end = 0;
    for (int k = 0; k < info->dlpi_phnum; ++k) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[k];
        if (segment.p_type != PT_LOAD) continue;
        const uintptr_t from = info->dlpi_addr + segment.p_vaddr;
        if (from < begin) begin = from;
        if (from + segment.p_memsz > end) end = from + segment.p_memsz;
    }
    if (end <= begin) return 0;
    search->range->begin = begin;
    search->range->end = end;
    search->found = true;
    return 1;
}

}  // namespace

// Called by the allocator wrappers with the address their caller returns to.
void NoteAllocation(const void* caller) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(caller);
    if (g_counting.on && at >= g_counting.range.begin && at < g_counting.range.end) ++g_counting.count;
}

bool CodeRangeOf(const void* symbol, CodeRange* range) {
    Dl_info info;
    if (dladdr(symbol, &info) == 0 || info.dli_fbase == nullptr) return false;
    Search search = {reinterpret_cast<uintptr_t>(info.dli_fbase), range, false};
    dl_iterate_phdr(&FindImage, &search);
    return search.found;
}

#if defined(__SANITIZE_ADDRESS__)
bool AllocationCountingAvailable() { return false; }
#else
bool AllocationCountingAvailable() { return true; }
#endif

void StartCountingAllocations(const CodeRange& range) {
    g_counting.range = range;
    g_counting.count = 0;
    g_counting.on = true;
}

size_t StopCountingAllocations() {
    g_counting.on = false;
    return g_counting.count;
}

}  // namespace sepcheck

#if !defined(__SANITIZE_ADDRESS__)
// The process's allocator entry points, forwarding to the C library's own.
// A module library calls them through its import table; the caller's return
// address tells whose request it is.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* block);

void* malloc(size_t size) {
    sepcheck::NoteAllocation(__builtin_return_address(0));
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    sepcheck::NoteAllocation(__builtin_return_address(0));
    return __libc_calloc(count, size);
}
void* realloc(void* block, size_t size) {
    sepcheck::NoteAllocation(__builtin_return_address(0));
    return __libc_realloc(block, size);
}
void* memalign(size_t alignment, size_t size) {
    sepcheck::NoteAllocation(__builtin_return_address(0));
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    sepcheck::NoteAllocation(__builtin_return_address(0));
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** block, size_t alignment, size_t size) {
    sepcheck::NoteAllocation(__builtin_return_address(0));
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return 22;  // EINVAL
    *block = __libc_memalign(alignment, size);
    return *block != nullptr ? 0 : 12;  // ENOMEM
}
void free(void* block) { __libc_free(block); }
}
#endif
