// The utility nodes, computed once per block from the tapped module outputs
// and the nodes before them.
#include <algorithm>

#include "Graph.h"

namespace sephost::render {

namespace {

// Adds source `s` for voice `voice` of a node with `voices` voices into
// `out`: its own voice, its only voice, or all its voices summed.
// `scratch` holds one block.
void Accumulate(const Graph& graph, const Source& s, int voice, int voices, int32_t samples, bool multiply,
                float* scratch, float* out) {
    auto block = [&](int v) -> const float* {
        if (!s.from_node) return graph.host->TapBlock(s.first + v);
        return graph.nodes[s.first].result[s.channel >= 0 ? s.channel : v].data();
    };
    float* sum = scratch;
    const float* in = nullptr;
    if (s.voices == voices) {
        in = block(voice);
    } else if (s.voices == 1) {
        in = block(0);
    } else {
        std::copy(block(0), block(0) + samples, sum);
        for (int v = 1; v < s.voices; ++v) {
            const float* b = block(v);
            for (int32_t k = 0; k < samples; ++k) sum[k] += b[k];
        }
        in = sum;
    }
    for (int32_t k = 0; k < samples; ++k) out[k] = multiply ? out[k] * in[k] : out[k] + in[k];
}

void Combine(const Graph& graph, const std::vector<Source>& sources, int voice, int voices, int32_t samples,
             bool multiply, float gain, float* scratch, float* out) {
    std::fill(out, out + samples, multiply && !sources.empty() ? 1.0f : 0.0f);
    for (const Source& s : sources) Accumulate(graph, s, voice, voices, samples, multiply, scratch, out);
    for (int32_t k = 0; k < samples; ++k) out[k] *= gain;
}

}  // namespace

bool ComputeNodes(Graph* graph, int32_t samples, bool before, std::string* error) {
    float* scratch = graph->scratch.data();
    for (GraphNode& node : graph->nodes) {
        if (node.before != before) continue;
        if (node.type == NodeType::kFile) {
            if (!node.sound->Read(samples, node.frames.data(), error)) return false;
            const size_t channels = node.result.size();
            for (size_t c = 0; c < channels; ++c)
                for (int32_t k = 0; k < samples; ++k)
                    node.result[c][static_cast<size_t>(k)] = node.frames[static_cast<size_t>(k) * channels + c] * node.gain;
            continue;
        }
        if (node.type == NodeType::kOutput) {
            // result[0] is left; right follows left when nothing feeds it.
            Combine(*graph, node.left, 0, 1, samples, false, node.gain, scratch, node.result[0].data());
            if (node.right.empty())
                std::copy(node.result[0].begin(), node.result[0].begin() + samples, node.result[1].begin());
            else
                Combine(*graph, node.right, 0, 1, samples, false, node.gain, scratch, node.result[1].data());
            continue;
        }
        const bool multiply = node.type == NodeType::kMultiply;
        for (int v = 0; v < node.voices; ++v)
            Combine(*graph, node.in, v, node.voices, samples, multiply, node.gain, scratch, node.result[v].data());
    }
    return true;
}

}  // namespace sephost::render
