#include "Allocations.h"

#include <dlfcn.h>
#include <link.h>
#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace sepcheck {

namespace {

struct Counting {
    bool on = false;
    CodeRange range;
    size_t count = 0;
};
Counting g_counting;

// Blocks held by StartHoldingFrees; a fixed table, since free() may not
// allocate.
constexpr size_t kMaxHeld = 4096;
constexpr unsigned char kHeldPattern = 0xA5;
struct Held {
    void* block;
    size_t bytes;
    const char* label;
};
struct Holding {
    bool on = false;
    CodeRange range;
    const char* label = "";
    size_t count = 0;
    Held blocks[kMaxHeld];
};
Holding g_holding;

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

// Called by free() with the address its caller returns to: true when the
// block is kept instead.
bool HoldFree(void* block, const void* caller) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(caller);
    if (!g_holding.on || block == nullptr || at < g_holding.range.begin || at >= g_holding.range.end ||
        g_holding.count >= kMaxHeld)
        return false;
    const size_t bytes = malloc_usable_size(block);
    std::memset(block, kHeldPattern, bytes);
    g_holding.blocks[g_holding.count++] = {block, bytes, g_holding.label};
    return true;
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
void LimitHeap(size_t) {}
bool FreeHoldingAvailable() { return false; }
#else
bool AllocationCountingAvailable() { return true; }
bool FreeHoldingAvailable() { return true; }
#endif

void StartHoldingFrees(const CodeRange& range) {
    g_holding.range = range;
    g_holding.label = "";
    g_holding.on = true;
}

void StopHoldingFrees() { g_holding.on = false; }

void LabelHeldFrees(const char* label) { g_holding.label = label; }

size_t HeldBlocks() { return g_holding.count; }

bool FirstWriteToHeldBlock(HeldWrite* write) {
    for (size_t k = 0; k < g_holding.count; ++k) {
        const Held& held = g_holding.blocks[k];
        const unsigned char* bytes = static_cast<const unsigned char*>(held.block);
        size_t changed = 0, first = 0;
        for (size_t j = 0; j < held.bytes; ++j)
            if (bytes[j] != kHeldPattern && changed++ == 0) first = j;
        if (changed == 0) continue;
        *write = {held.bytes, first, changed, held.label};
        return true;
    }
    return false;
}

void ReleaseHeldBlocks() {
    const bool was_on = g_holding.on;
    g_holding.on = false;
    for (size_t k = 0; k < g_holding.count; ++k) std::free(g_holding.blocks[k].block);
    g_holding.count = 0;
    g_holding.on = was_on;
}

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
namespace {

// The live heap since a limit was set and the limit, in KiB; 0: no limit.
std::atomic<int32_t> g_heap_kib{0};
int32_t g_heap_limit_kib = 0;

int32_t Kib(size_t bytes) { return static_cast<int32_t>(bytes / 1024 + (bytes % 1024 != 0 ? 1 : 0)); }

bool Within(size_t size) {
    return g_heap_limit_kib == 0 || (size <= (size_t(1) << 31) && g_heap_kib.load() + Kib(size) <= g_heap_limit_kib);
}

// A failed request is said on stderr as it happens: in a check's child the
// module usually crashes on it next, and the runner quotes the line to say
// why. Written without allocating.
void* Refused(size_t size) {
    char digits[24];
    int n = 0;
    for (size_t rest = size; rest > 0 && n < 20; rest /= 10) digits[n++] = static_cast<char>('0' + rest % 10);
    if (n == 0) digits[n++] = '0';
    char line[96] = "sep-host: an allocation of ";
    size_t at = sizeof "sep-host: an allocation of " - 1;
    while (n > 0) line[at++] = digits[--n];
    for (const char* tail = " bytes failed\n"; *tail != '\0'; ++tail) line[at++] = *tail;
    const ssize_t ignored = write(2, line, at);
    (void)ignored;
    return nullptr;
}

void* Taken(void* block, size_t size) {
    if (block == nullptr) return size == 0 ? nullptr : Refused(size);
    if (g_heap_limit_kib != 0) g_heap_kib += Kib(malloc_usable_size(block));
    return block;
}

void Given(void* block) {
    if (block != nullptr && g_heap_limit_kib != 0) g_heap_kib -= Kib(malloc_usable_size(block));
}

}  // namespace

namespace sepcheck {

void LimitHeap(size_t bytes) {
    g_heap_kib = 0;
    g_heap_limit_kib = Kib(bytes);
}

}  // namespace sepcheck

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* block);

void* malloc(size_t size) {
    sepcheck::NoteAllocation(__builtin_return_address(0));
    if (!Within(size)) return Refused(size);
    return Taken(__libc_malloc(size), size);
}
void* calloc(size_t count, size_t size) {
    sepcheck::NoteAllocation(__builtin_return_address(0));
    if (size != 0 && count > SIZE_MAX / size) return Refused(SIZE_MAX);
    if (!Within(count * size)) return Refused(count * size);
    return Taken(__libc_calloc(count, size), count * size);
}
void* realloc(void* block, size_t size) {
    sepcheck::NoteAllocation(__builtin_return_address(0));
    if (block != nullptr && size == 0) {  // frees the block
        Given(block);
        return __libc_realloc(block, 0);
    }
    const int32_t before = block != nullptr && g_heap_limit_kib != 0 ? Kib(malloc_usable_size(block)) : 0;
    if (!Within(size)) return Refused(size);  // the block stays as it was
    void* moved = Taken(__libc_realloc(block, size), size);
    if (moved != nullptr) g_heap_kib -= before;
    return moved;
}
void* memalign(size_t alignment, size_t size) {
    sepcheck::NoteAllocation(__builtin_return_address(0));
    if (!Within(size)) return Refused(size);
    return Taken(__libc_memalign(alignment, size), size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    sepcheck::NoteAllocation(__builtin_return_address(0));
    if (!Within(size)) return Refused(size);
    return Taken(__libc_memalign(alignment, size), size);
}
int posix_memalign(void** block, size_t alignment, size_t size) {
    sepcheck::NoteAllocation(__builtin_return_address(0));
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return 22;  // EINVAL
    *block = Within(size) ? Taken(__libc_memalign(alignment, size), size) : Refused(size);
    return *block != nullptr ? 0 : 12;  // ENOMEM
}
void free(void* block) {
    if (sepcheck::HoldFree(block, __builtin_return_address(0))) return;
    Given(block);
    __libc_free(block);
}
}
#endif
