// Whether this test program runs under qemu's instruction emulation (TCG),
// as i386 programs do on a kernel without 32-bit support. The emulated x87
// unit does not behave as the hardware does in every respect, so a test of
// such a hardware property says it is skipped there.
#pragma once

#include <cpuid.h>

#include <cstring>

namespace sep_test {

inline bool RunningUnderQemuEmulation() {
    unsigned words[12] = {};
    if (__get_cpuid_max(0x80000000u, nullptr) < 0x80000004u) return false;
    for (unsigned leaf = 0; leaf < 3; ++leaf)
        __get_cpuid(0x80000002u + leaf, &words[leaf * 4], &words[leaf * 4 + 1], &words[leaf * 4 + 2],
                    &words[leaf * 4 + 3]);
    char brand[49] = {};
    std::memcpy(brand, words, sizeof words);
    return std::strstr(brand, "QEMU TCG") != nullptr;
}

}  // namespace sep_test
