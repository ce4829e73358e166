// Processor feature test for the choice of the sine kernel variant.
#pragma once

namespace ulvo {

// True when CPUID leaf 1 reports SSE (EDX bit 25); false when the processor
// has no CPUID instruction or its highest standard leaf is 0.
bool HasSse();

}  // namespace ulvo
