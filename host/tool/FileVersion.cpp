// The fixed part of a version resource, read from its bytes on any platform
// (the tests read the Windows build's resources on Linux).
#include "FileVersion.h"

#include <cstring>

namespace septool {

namespace {
constexpr uint32_t kFixedInfoSignature = 0xFEEF04BDu;  // VS_FIXEDFILEINFO.dwSignature
}

std::string FileVersionIn(const uint8_t* data, size_t size) {
    for (size_t at = 0; at + 16 <= size; at += 4) {
        uint32_t words[4];  // signature, structure version, file version high and low
        std::memcpy(words, data + at, sizeof words);
        if (words[0] != kFixedInfoSignature) continue;
        const uint32_t most = words[2], least = words[3];
        return std::to_string(most >> 16) + "." + std::to_string(most & 0xFFFFu) + "." + std::to_string(least >> 16) +
               "." + std::to_string(least & 0xFFFFu);
    }
    return std::string();
}

#if !defined(_WIN32)
std::string FileVersion(const std::string&) { return std::string(); }
#endif

}  // namespace septool
