// Process calls as hosts built with other compilers make them: the stack
// pointer off a 16-byte boundary by 4, 8 or 12 bytes at the call, and the
// x87 unit at 53-bit precision (the default of another toolchain's runtime).
#pragma once

#include <cstdint>

#include "../../se_sdk2/SEHostInterface.h"

namespace identity {

struct CallMode {
    const char* name;
    uint32_t misalign;  // bytes past a 16-byte boundary at the call: 0, 4, 8, 12
    bool x87_53_bit;    // precision control set to 53 bits during the call
};

// The modes every scenario is rendered in, one after another.
extern const CallMode kCallModes[5];

// Fits EngineOptions::process_caller; `context` is a const CallMode*.
void CallProcess(SEProcessFn process, void* object, int32_t start, int32_t count, void* context);

}  // namespace identity
