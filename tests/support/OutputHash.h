// Exact-output guard support: a 64-bit FNV-1a hash over the bit patterns of
// rendered samples, and the table of recorded hashes the guard tests compare
// against. A change of one bit of one sample changes the hash.
//
// To print the current hashes in table form (after an intended change of
// output bits), run a guard test with SEP_PRINT_OUTPUT_HASHES=1 in the
// environment, for example
//   SEP_PRINT_OUTPUT_HASHES=1 build/linux32/tests/ulvo/ulvo_e2e_tests --gtest_filter='*ExactOutput*'
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace outputhash {

class Hash {
public:
    void Add(uint32_t word) {
        for (int byte = 0; byte < 4; ++byte) {
            m_value ^= (word >> (8 * byte)) & 0xFFu;
            m_value *= 0x100000001B3ull;
        }
    }
    // The length first, so that two buffers cannot run into each other.
    void Add(const std::vector<float>& samples) {
        Add(static_cast<uint32_t>(samples.size()));
        for (float sample : samples) {
            uint32_t bits;
            std::memcpy(&bits, &sample, sizeof bits);
            Add(bits);
        }
    }
    uint64_t Value() const { return m_value; }

private:
    uint64_t m_value = 0xCBF29CE484222325ull;
};

// A streamed input of the guard scenarios: `samples` values from `from`
// towards `to`, evenly spaced (the last a step short of `to`).
inline std::vector<float> Ramp(float from, float to, int samples) {
    std::vector<float> out(static_cast<size_t>(samples));
    for (int i = 0; i < samples; ++i)
        out[static_cast<size_t>(i)] = from + (to - from) * static_cast<float>(i) / samples;
    return out;
}

struct Recorded {
    const char* scenario;
    uint64_t hash;
};

// The recorded hash of a scenario, or false when the table has none.
template <size_t N>
bool Find(const Recorded (&table)[N], const std::string& scenario, uint64_t* hash) {
    for (const Recorded& row : table) {
        if (scenario == row.scenario) {
            *hash = row.hash;
            return true;
        }
    }
    return false;
}

inline bool Printing() { return std::getenv("SEP_PRINT_OUTPUT_HASHES") != nullptr; }

// One table row, in the form the tables are written in.
inline std::string Row(const std::string& scenario, uint64_t hash) {
    char text[64];
    std::snprintf(text, sizeof text, "0x%016llXull", static_cast<unsigned long long>(hash));
    return "    {\"" + scenario + "\", " + text + "},";
}

}  // namespace outputhash
