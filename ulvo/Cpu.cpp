#include "Cpu.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace ulvo {

bool HasSse() {
#if defined(__i386__) || defined(__x86_64__)
    // __get_cpuid_max answers 0 when the EFLAGS ID bit cannot be toggled, that
    // is when there is no CPUID instruction at all.
    if (__get_cpuid_max(0, nullptr) == 0) return false;
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
    constexpr unsigned kSseBit = 1u << 25;
    return (edx & kSseBit) != 0;
#else
    return false;
#endif
}

}  // namespace ulvo
