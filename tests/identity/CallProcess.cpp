#include "CallProcess.h"

// process(object, start, count) with the stack pointer `misalign` bytes below
// a 16-byte boundary where the callee expects one, and the x87 control word
// set to `control_word` for the call (restored after). Plain i386 code,
// assembled the same for ELF and PE. Arguments on entry: 8(%ebp) process,
// 12 object, 16 start, 20 count, 24 misalign, 28 control word.
extern "C" void sep_call_process(SEProcessFn process, void* object, int32_t start, int32_t count, uint32_t misalign,
                                 uint32_t control_word) __asm__("sep_call_process");

__asm__(
    ".text\n"
    ".globl sep_call_process\n"
    "sep_call_process:\n"
    "    pushl %ebp\n"
    "    movl %esp, %ebp\n"
    "    subl $8, %esp\n"
    "    fnstcw -4(%ebp)\n"  // the caller's control word
    "    movl 28(%ebp), %eax\n"
    "    movw %ax, -8(%ebp)\n"
    "    fldcw -8(%ebp)\n"
    "    andl $-16, %esp\n"      // a 16-byte boundary ...
    "    subl 24(%ebp), %esp\n"  // ... missed by `misalign`
    "    subl $16, %esp\n"       // three arguments and a pad word
    "    movl 12(%ebp), %eax\n"
    "    movl %eax, 0(%esp)\n"
    "    movl 16(%ebp), %eax\n"
    "    movl %eax, 4(%esp)\n"
    "    movl 20(%ebp), %eax\n"
    "    movl %eax, 8(%esp)\n"
    "    call *8(%ebp)\n"
    "    fldcw -4(%ebp)\n"
    "    movl %ebp, %esp\n"
    "    popl %ebp\n"
    "    ret\n");

namespace identity {

const CallMode kCallModes[5] = {
    {"aligned", 0, false},
    {"aligned, x87 53-bit", 0, true},
    {"misaligned 4, x87 53-bit", 4, true},
    {"misaligned 8, x87 53-bit", 8, true},
    {"misaligned 12, x87 53-bit", 12, true},
};

void CallProcess(SEProcessFn process, void* object, int32_t start, int32_t count, void* context) {
    const CallMode* mode = static_cast<const CallMode*>(context);
    uint16_t control_word = 0;
    __asm__ volatile("fnstcw %0" : "=m"(control_word));
    // precision control (bits 8 and 9): 10 is 53 bits
    if (mode->x87_53_bit) control_word = static_cast<uint16_t>((control_word & ~0x0300u) | 0x0200u);
    sep_call_process(process, object, start, count, mode->misalign, control_word);
}

}  // namespace identity
