// The utility nodes, computed once per block from the tapped module outputs
// and the nodes before them.
#include <xmmintrin.h>

#include <algorithm>

#include "Graph.h"
#include "SampleBits.h"

namespace sephost::render {

namespace {

// The block source `s` gives voice `voice` of a node with `voices` voices:
// its own voice, its only voice, or all its voices summed into `scratch`
// (one block).
const float* SourceBlock(const Graph& graph, const Source& s, int voice, int voices, int32_t samples, float* scratch) {
    auto block = [&](int v) -> const float* {
        if (!s.from_node) return graph.host->TapBlock(s.first + v);
        return graph.nodes[s.first].result[s.channel >= 0 ? s.channel : v].data();
    };
    if (s.voices == voices) return block(voice);
    if (s.voices == 1) return block(0);
    float* sum = scratch;
    std::copy(block(0), block(0) + samples, sum);
    for (int v = 1; v < s.voices; ++v) {
        const float* b = block(v);
        for (int32_t k = 0; k < samples; ++k) sum[k] += b[k];
    }
    return sum;
}

void Accumulate(const float* in, int32_t samples, bool multiply, float* out) {
    for (int32_t k = 0; k < samples; ++k) out[k] = multiply ? out[k] * in[k] : out[k] + in[k];
}

// The node's result the full way: the block filled with the identity (1 for
// a product, 0 for a sum), every source applied, the gain last.
void CombineFully(const Graph& graph, const std::vector<Source>& sources, int voice, int voices, int32_t samples,
                  bool multiply, float gain, float* scratch, float* out) {
    std::fill(out, out + samples, multiply && !sources.empty() ? 1.0f : 0.0f);
    for (const Source& s : sources)
        Accumulate(SourceBlock(graph, s, voice, voices, samples, scratch), samples, multiply, out);
    for (int32_t k = 0; k < samples; ++k) out[k] *= gain;
}

// Round to nearest, subnormal numbers neither flushed nor read as zero: the
// mode in which 1 * x, x * 1 and 0 + x are x for every number x but -0.
bool PlainFloatMode() {
    constexpr unsigned kDenormalsAreZero = 0x0040u;
    return (_mm_getcsr() & (_MM_ROUND_MASK | _MM_FLUSH_ZERO_MASK | kDenormalsAreZero)) == 0;
}

// The same bits as CombineFully with the operations on an identity left out
// (emulated floating point makes each costly): the first source is copied
// in place of 1 * x or 0 + x (0 + -0 is +0), and a gain of 1 is not
// applied. Only NaN tells the two apart (an operation quiets a signalling
// NaN, and of two NaN operands keeps the first), and a NaN anywhere in the
// sources leaves a NaN in the result: such a block is computed again the
// full way.
void Combine(const Graph& graph, const std::vector<Source>& sources, int voice, int voices, int32_t samples,
             bool multiply, float gain, bool plain_mode, float* scratch, float* out) {
    if (plain_mode && !sources.empty()) {
        const float* first = SourceBlock(graph, sources[0], voice, voices, samples, scratch);
        if (multiply) {
            std::copy(first, first + samples, out);
        } else {
            for (int32_t k = 0; k < samples; ++k) {
                const uint32_t bits = SampleBits(first[k]);
                StoreBits(out + k, bits == kNegativeZeroBits ? 0u : bits);
            }
        }
        for (size_t i = 1; i < sources.size(); ++i)
            Accumulate(SourceBlock(graph, sources[i], voice, voices, samples, scratch), samples, multiply, out);
        if (gain != 1.0f)
            for (int32_t k = 0; k < samples; ++k) out[k] *= gain;
        if (!HoldsNaN(out, samples)) return;
    }
    CombineFully(graph, sources, voice, voices, samples, multiply, gain, scratch, out);
}

}  // namespace

bool ComputeNodes(Graph* graph, int32_t samples, bool before, std::string* error) {
    float* scratch = graph->scratch.data();
    // The modules ran (and may have changed the mode) since the last block.
    const bool plain_mode = PlainFloatMode();
    for (GraphNode& node : graph->nodes) {
        if (node.before != before) continue;
        if (node.type == NodeType::kFile) {
            if (!node.sound->Read(samples, node.frames.data(), error)) return false;
            const size_t channels = node.result.size();
            for (size_t c = 0; c < channels; ++c)
                for (int32_t k = 0; k < samples; ++k)
                    node.result[c][static_cast<size_t>(k)] =
                        node.frames[static_cast<size_t>(k) * channels + c] * node.gain;
            continue;
        }
        if (node.type == NodeType::kOutput) {
            // result[0] is left; right follows left when nothing feeds it.
            Combine(*graph, node.left, 0, 1, samples, false, node.gain, plain_mode, scratch, node.result[0].data());
            if (node.right.empty())
                std::copy(node.result[0].begin(), node.result[0].begin() + samples, node.result[1].begin());
            else
                Combine(*graph, node.right, 0, 1, samples, false, node.gain, plain_mode, scratch,
                        node.result[1].data());
            continue;
        }
        const bool multiply = node.type == NodeType::kMultiply;
        for (int v = 0; v < node.voices; ++v)
            Combine(*graph, node.in, v, node.voices, samples, multiply, node.gain, plain_mode, scratch,
                    node.result[v].data());
    }
    return true;
}

}  // namespace sephost::render
