// The call trampoline really does what the scenarios rely on: the stack
// off its 16-byte boundary by the mode's bytes where the callee starts, the
// x87 precision set for the call and restored after, the arguments intact.
#include <gtest/gtest.h>

#include <cstdint>

#include "CallProcess.h"

namespace {

struct Seen {
    uintptr_t first_argument_address = 0;
    int32_t start = 0, count = 0;
    uint16_t control_word = 0;
};

uint16_t ControlWord() {
    uint16_t word = 0;
    __asm__ volatile("fnstcw %0" : "=m"(word));
    return word;
}

// A cdecl function's arguments lie in the caller's frame: the first one's
// address is the stack pointer at the call.
void SE_CALL Probe(void* object, int32_t start, int32_t count) {
    Seen* seen = static_cast<Seen*>(object);
    seen->first_argument_address = reinterpret_cast<uintptr_t>(&object);
    seen->start = start;
    seen->count = count;
    seen->control_word = ControlWord();
}

TEST(CallProcess, MisalignsTheStackAndSetsX87PrecisionForTheCallOnly) {
    const uint16_t before = ControlWord();
    for (const identity::CallMode& mode : identity::kCallModes) {
        Seen seen;
        identity::CallProcess(&Probe, &seen, 17, 4096, const_cast<identity::CallMode*>(&mode));
        EXPECT_EQ(seen.first_argument_address % 16, (16 - mode.misalign) % 16) << mode.name;
        EXPECT_EQ(seen.start, 17) << mode.name;
        EXPECT_EQ(seen.count, 4096) << mode.name;
        const uint16_t precision = seen.control_word & 0x0300;
        if (mode.x87_53_bit)
            EXPECT_EQ(precision, 0x0200) << mode.name;
        else
            EXPECT_EQ(precision, before & 0x0300) << mode.name;
        EXPECT_EQ(seen.control_word & ~0x0300, before & ~0x0300) << mode.name << ": other control bits kept";
        EXPECT_EQ(ControlWord(), before) << mode.name << ": control word restored";
    }
}

}  // namespace
