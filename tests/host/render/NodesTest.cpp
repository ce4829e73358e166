// The utility nodes give, bit for bit, what filling the block with the
// identity, applying every source and then the gain gives: for products and
// sums, summed voices, gains of 1 and others, with -0, subnormal numbers,
// infinities and NaN (signalling ones too) among the samples, and with the
// processor's float mode flushing subnormal numbers.
#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cstring>
#include <limits>
#include <vector>

#include "Graph.h"
#include "SampleBits.h"

namespace {

using namespace sephost::render;

constexpr int32_t kBlock = 24;

// The definition, sample by sample.
std::vector<float> Reference(const std::vector<std::vector<float>>& inputs, bool multiply, float gain) {
    std::vector<float> out(kBlock, multiply ? 1.0f : 0.0f);
    for (const std::vector<float>& in : inputs)
        for (int32_t k = 0; k < kBlock; ++k) out[k] = multiply ? out[k] * in[k] : out[k] + in[k];
    for (float& sample : out) sample *= gain;
    return out;
}

struct Data {
    const char* name;
    std::vector<float> a0, a1, b;  // source a's two voices, source b's one
};

std::vector<float> Cycle(std::vector<float> values) {
    std::vector<float> block;
    while (block.size() < static_cast<size_t>(kBlock)) block.push_back(values[block.size() % values.size()]);
    return block;
}

std::vector<Data> Datas() {
    const float sub = std::numeric_limits<float>::denorm_min() * 3.0f;
    const float inf = std::numeric_limits<float>::infinity();
    const float big = std::numeric_limits<float>::max();
    std::vector<Data> datas = {
        {"ordinary", Cycle({0.5f, -1.25f, 3.0f, 1e-30f}), Cycle({2.0f, 0.75f, -0.5f, 7.0f}), Cycle({-2.0f, 0.1f})},
        {"signed zeros", Cycle({-0.0f, 0.0f, -0.0f, 1.0f}), Cycle({-0.0f, -0.0f, 0.0f, -1.0f}),
         Cycle({-0.0f, -0.0f, 1.0f})},
        {"subnormal", Cycle({sub, -sub, 1e-38f, 0.0f}), Cycle({sub, 0.5f, -1e-38f, sub}), Cycle({0.5f, sub})},
        {"infinities", Cycle({inf, -inf, big, 1.0f}), Cycle({1.0f, 2.0f, big, -big}), Cycle({1.0f, 0.0f, 2.0f})},
        // Each NaN alone at its sample: which of two NaNs survives is the
        // compiler's choice of operand order.
        // NaNs put in below by their bits.
        {"nan", Cycle({0.0f, 1.0f, 0.0f, -0.0f, 2.0f}), Cycle({1.0f, 2.0f, 3.0f, 4.0f, -0.0f}),
         Cycle({1.0f, 0.5f, 1.0f, 2.0f, 1.0f, 0.0f})},
    };
    // Stored, not returned: a float returned by value passes the x87 stack,
    // which would quiet the signalling ones.
    Data& nan = datas.back();
    for (size_t k = 0; k < static_cast<size_t>(kBlock); ++k) {
        if (k % 5 == 0) StoreBits(&nan.a0[k], 0x7F800123u);
        if (k % 5 == 2) StoreBits(&nan.a0[k], 0xFFC00456u);
        if (k % 8 == 3) StoreBits(&nan.b[k], 0x7FA00001u);  // never where a0 holds one
    }
    return datas;
}

bool SameBlock(const float* got, const std::vector<float>& want) {
    return std::memcmp(got, want.data(), sizeof(float) * static_cast<size_t>(kBlock)) == 0;
}

TEST(Nodes, ResultsAreTheDefinitionsBits) {
    const unsigned saved = _mm_getcsr();
    struct Mode {
        const char* name;
        unsigned csr;
    } modes[] = {{"plain", saved & ~(_MM_FLUSH_ZERO_MASK | 0x0040u)},
                 {"flush and denormals-are-zero", saved | _MM_FLUSH_ZERO_MASK | 0x0040u}};
    for (const Mode& mode : modes) {
        for (const Data& d : Datas()) {
            for (const float gain : {1.0f, 0.5f, -1.0f}) {
                Graph graph;
                graph.scratch.assign(kBlock, 0.0f);
                GraphNode a, b;
                a.voices = 2;
                a.before = b.before = true;  // sources: computed elsewhere
                a.result = {d.a0, d.a1};
                b.result = {d.b};
                graph.nodes.push_back(std::move(a));
                graph.nodes.push_back(std::move(b));
                Source from_a{true, 0, 2, -1}, from_b{true, 1, 1, -1};
                GraphNode product, sum, out, alone;
                product.type = NodeType::kMultiply;
                product.voices = 2;
                product.gain = gain;
                product.in = {from_a, from_b};
                product.result.assign(2, std::vector<float>(kBlock));
                sum.type = NodeType::kMix;  // a's voices summed into one
                sum.gain = gain;
                sum.in = {from_a, from_b};
                sum.result.assign(1, std::vector<float>(kBlock));
                out.type = NodeType::kOutput;
                out.gain = gain;
                out.left = {from_b, from_a};
                out.result.assign(2, std::vector<float>(kBlock));
                alone.type = NodeType::kMultiply;  // b through one operation at most
                alone.gain = gain;
                alone.in = {from_b};
                alone.result.assign(1, std::vector<float>(kBlock));
                graph.nodes.push_back(std::move(alone));
                graph.nodes.push_back(std::move(product));
                graph.nodes.push_back(std::move(sum));
                graph.nodes.push_back(std::move(out));
                graph.output = 5;

                _mm_setcsr(mode.csr);
                std::string error;
                const bool computed = ComputeNodes(&graph, kBlock, false, &error);
                std::vector<float> a_summed(kBlock);
                for (int32_t k = 0; k < kBlock; ++k) a_summed[k] = d.a0[k] + d.a1[k];
                const std::vector<float> want[] = {
                    Reference({d.a0, d.b}, true, gain), Reference({d.a1, d.b}, true, gain),
                    Reference({a_summed, d.b}, false, gain), Reference({d.b, a_summed}, false, gain),
                    Reference({d.b}, true, gain)};
                _mm_setcsr(saved);

                const std::string where = std::string(mode.name) + ", " + d.name + ", gain " + std::to_string(gain);
                ASSERT_TRUE(computed) << error;
                EXPECT_TRUE(SameBlock(graph.nodes[2].result[0].data(), want[4])) << "one source, " << where;
                EXPECT_TRUE(SameBlock(graph.nodes[3].result[0].data(), want[0])) << "product voice 1, " << where;
                EXPECT_TRUE(SameBlock(graph.nodes[3].result[1].data(), want[1])) << "product voice 2, " << where;
                EXPECT_TRUE(SameBlock(graph.nodes[4].result[0].data(), want[2])) << "sum, " << where;
                EXPECT_TRUE(SameBlock(graph.nodes[5].result[0].data(), want[3])) << "output left, " << where;
                EXPECT_TRUE(SameBlock(graph.nodes[5].result[1].data(), want[3]))
                    << "output right follows left, " << where;
            }
        }
    }
}

TEST(SampleBits, HoldsNaNFindsEveryNaNAndNothingElse) {
    struct Row {
        uint32_t bits;
        bool nan;
    } rows[] = {{0x7FC00000u, true},  {0xFFC00000u, true},  {0x7F800001u, true},  {0xFF800001u, true},
                {0x7FFFFFFFu, true},  {0x7F800000u, false}, {0xFF800000u, false}, {0x7F7FFFFFu, false},
                {0x80000000u, false}, {0x00000001u, false}, {0x3F800000u, false}};
    for (const Row& row : rows)
        for (const int32_t at : {0, 5, kBlock - 1}) {
            std::vector<float> block(kBlock, 1.0f);
            block[static_cast<size_t>(at)] = SampleFromBits(row.bits);
            EXPECT_EQ(HoldsNaN(block.data(), kBlock), row.nan) << std::hex << row.bits << " at " << at;
            EXPECT_FALSE(HoldsNaN(block.data(), at)) << "only the first " << at << " samples";
        }
}

}  // namespace
