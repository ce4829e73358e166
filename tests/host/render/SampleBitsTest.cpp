// The renderer's checks by bits give the float comparisons' answers: the
// first NaN or infinity of a block, wherever it lies and whatever finite
// extremes surround it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "SampleBits.h"

namespace {

using sephost::render::FirstNonFiniteSample;
using sephost::render::SampleFromBits;

int32_t FirstNonFiniteByFloat(const std::vector<float>& block, int32_t limit) {
    int32_t k = 0;
    while (k < limit && std::isfinite(block[static_cast<size_t>(k)])) ++k;
    return k;
}

TEST(SampleBits, FirstNonFiniteEqualsTheFloatTest) {
    const float kFinite[] = {0.0f,
                             -0.0f,
                             1.0f,
                             -1.0f,
                             std::numeric_limits<float>::max(),
                             -std::numeric_limits<float>::max(),
                             std::numeric_limits<float>::denorm_min(),
                             SampleFromBits(0x7F7FFFFFu),
                             SampleFromBits(0xFF7FFFFFu)};
    const float kNonFinite[] = {std::numeric_limits<float>::quiet_NaN(),
                                -std::numeric_limits<float>::quiet_NaN(),
                                std::numeric_limits<float>::infinity(),
                                -std::numeric_limits<float>::infinity(),
                                SampleFromBits(0x7F800001u),
                                SampleFromBits(0xFFFFFFFFu)};
    for (const int32_t size : {1, 3, 4, 5, 256}) {
        for (const float filler : kFinite) {
            std::vector<float> block(static_cast<size_t>(size), filler);
            EXPECT_EQ(FirstNonFiniteSample(block.data(), size), size) << "all finite, filler " << filler;
            for (const float bad : kNonFinite) {
                for (const int32_t at : {0, 1, size / 2, size - 1}) {
                    if (at >= size) continue;
                    std::vector<float> with_bad = block;
                    with_bad[static_cast<size_t>(at)] = bad;
                    // A second one later must not move the answer.
                    if (at + 2 < size) with_bad[static_cast<size_t>(at + 2)] = -bad;
                    for (const int32_t limit : {size, at + 1, at}) {
                        EXPECT_EQ(FirstNonFiniteSample(with_bad.data(), limit), FirstNonFiniteByFloat(with_bad, limit))
                            << "size " << size << " at " << at << " limit " << limit << " bad " << bad;
                    }
                }
            }
        }
    }
}

}  // namespace
