// The patch's connections: both ends resolved against the modules' pins and
// the nodes' inputs, cycles named, module connections made on the host,
// node inputs tapped, and the nodes put in the order a block computes them.
#include <algorithm>

#include "GraphBuilder.h"
#include "Limits.h"

namespace sephost::render {

// Resolves one end; `output` says which side of the connection it is.
bool GraphBuilder::Resolve(const PatchConnection& c, const Endpoint& e, bool output, ConnectionEnd* end) {
    const std::string what =
        c.where + " (" + c.from.owner + "." + c.from.pin + " -> " + c.to.owner + "." + c.to.pin + ")";
    auto owner = m_owners.find(e.owner);
    if (owner == m_owners.end()) return Fail(what + ": no module or node named " + Quote(e.owner));
    end->is_node = owner->second.first;
    end->index = owner->second.second;
    if (end->is_node) {
        const GraphNode& node = m_graph->nodes[end->index];
        std::vector<std::string> ins = {"in"}, outs = {"out"};
        if (node.type == NodeType::kOutput) {
            ins = {"left", "right"};
            outs.clear();
        } else if (node.type == NodeType::kFile) {
            // All channels as voices, or one channel by its number.
            ins.clear();
            for (int c = 1; c <= node.voices; ++c) outs.push_back(std::to_string(c));
        }
        const std::vector<std::string>& allowed = output ? outs : ins;
        if (std::find(allowed.begin(), allowed.end(), e.pin) == allowed.end()) {
            const std::string known = allowed.empty() ? std::string(output ? "it has no output" : "it has no input")
                                                      : std::string(output ? "outputs: " : "inputs: ") + Join(allowed);
            return Fail(what + ": the " + NodeTypeName(node.type) + " node " + Quote(node.name) + " has no " +
                        (output ? "output " : "input ") + Quote(e.pin) + " (" + known + ")");
        }
        end->role = e.pin;
        return true;
    }
    const GraphModule& module = m_graph->modules[end->index];
    end->pin = FindPin(module, e.pin);
    if (end->pin < 0)
        return Fail(what + ": module " + Quote(module.name) + " has no pin " + Quote(e.pin) +
                    " (pins: " + PinList(module) + ")");
    const PinDescription& pin = module.pins[end->pin];
    if ((pin.direction == DR_OUT) != output)
        return Fail(what + ": " + Quote(e.pin) + " of " + Quote(module.name) + " is an " +
                    (output ? "input" : "output") + "; a connection runs from an output to an input");
    if (pin.datatype != DT_FSAMPLE)
        return Fail(what + ": " + Quote(e.pin) + " of " + Quote(module.name) + " is not a float-sample pin (it is " +
                    DatatypeName(pin.datatype) + "); only float-sample pins connect (set it in \"pins\")");
    return true;
}

bool GraphBuilder::ReadConnections() {
    for (const PatchConnection& c : m_patch.connections) {
        ConnectionEnd from, to;
        if (!Resolve(c, c.from, true, &from) || !Resolve(c, c.to, false, &to)) return false;
        const std::string what =
            c.where + " (" + c.from.owner + "." + c.from.pin + " -> " + c.to.owner + "." + c.to.pin + ")";
        if (!to.is_node) {
            const auto key = std::make_pair(to.index, to.pin);
            if (m_connected.count(key) != 0) return Fail(what + ": the input already has a source");
            m_connected.insert(key);
        }
        if (from.is_node && !to.is_node) m_wanted_feeds.push_back({from, to, what});
        if (!from.is_node && !to.is_node) {
            const GraphModule& a = m_graph->modules[from.index];
            const GraphModule& b = m_graph->modules[to.index];
            if (a.voices != b.voices && a.voices != 1)
                return Fail(what + ": " + std::to_string(a.voices) + " voices cannot feed " + std::to_string(b.voices) +
                            " (connect equal voice counts, or one voice to many)");
        }
        m_links.push_back({from, to});
    }
    return true;
}

// Depth-first search over modules and nodes; a back edge closes a cycle.
// The path is an explicit stack: a chain of any length costs no call depth.
bool GraphBuilder::CheckCycles() {
    const int module_count = static_cast<int>(m_graph->modules.size());
    const int count = module_count + static_cast<int>(m_graph->nodes.size());
    auto id = [&](const ConnectionEnd& e) { return e.is_node ? module_count + e.index : e.index; };
    auto name = [&](int n) {
        return n < module_count ? m_graph->modules[n].name : m_graph->nodes[n - module_count].name;
    };
    std::vector<std::vector<int>> next(count);
    for (const auto& link : m_links) next[id(link.first)].push_back(id(link.second));
    std::vector<int> state(count, 0);  // 0 new, 1 on the path, 2 done
    struct Step {
        int node;
        size_t edge;  // the next of its edges to follow
    };
    std::vector<Step> path;
    for (int start = 0; start < count; ++start) {
        if (state[start] != 0) continue;
        state[start] = 1;
        path.push_back({start, 0});
        while (!path.empty()) {
            Step& step = path.back();
            if (step.edge == next[step.node].size()) {
                state[step.node] = 2;
                path.pop_back();
                continue;
            }
            const int m = next[step.node][step.edge++];
            if (state[m] == 1) {
                std::vector<std::string> names;
                auto first = std::find_if(path.begin(), path.end(), [m](const Step& s) { return s.node == m; });
                for (auto it = first; it != path.end(); ++it) names.push_back(name(it->node));
                names.push_back(name(m));
                // A long cycle by its ends: the message stays a line.
                const size_t length = names.size() - 1;
                if (names.size() > 12) {
                    names.erase(names.begin() + 6, names.end() - 6);
                    names.insert(names.begin() + 6, "...");
                }
                return Fail("the connections form a cycle: " + Join(names, " -> ") +
                            (length > 11 ? " (" + std::to_string(length) + " in all)" : std::string()));
            }
            if (state[m] == 0) {
                state[m] = 1;
                path.push_back({m, 0});
            }
        }
    }
    return true;
}

// A module output read by a node: one tap per voice.
Source GraphBuilder::TapSource(const ConnectionEnd& from) {
    const auto key = std::make_pair(from.index, from.pin);
    auto found = m_taps.find(key);
    if (found != m_taps.end()) return found->second;
    const GraphModule& module = m_graph->modules[from.index];
    Source source;
    source.voices = module.voices;
    for (int v = 0; v < module.voices; ++v) {
        const int tap = m_graph->host->Tap(module.first + v, from.pin);
        if (v == 0) source.first = tap;
    }
    m_taps[key] = source;
    return source;
}

bool GraphBuilder::Wire() {
    for (const auto& link : m_links) {
        const ConnectionEnd& from = link.first;
        const ConnectionEnd& to = link.second;
        if (from.is_node && !to.is_node) continue;  // FeedModules, once the nodes have their order
        if (!to.is_node) {
            const GraphModule& a = m_graph->modules[from.index];
            const GraphModule& b = m_graph->modules[to.index];
            for (int v = 0; v < b.voices; ++v) {
                std::string why;
                const int source = a.first + (a.voices == 1 ? 0 : v);
                if (!m_graph->host->Connect(source, from.pin, b.first + v, to.pin, &why)) return Fail(why);
            }
            continue;
        }
        Source source;
        if (from.is_node) {
            source.from_node = true;
            source.first = from.index;
            if (from.role != "out") source.channel = std::stoi(from.role) - 1;
        } else {
            source = TapSource(from);
        }
        GraphNode& node = m_graph->nodes[to.index];
        (to.role == "left" ? node.left : to.role == "right" ? node.right : node.in).push_back(source);
    }
    return true;
}

// Nodes after the nodes they read (the cycle check ran already), by
// counting each node's unplaced node inputs; each node's voice count follows
// from its inputs.
bool GraphBuilder::OrderNodes() {
    std::vector<GraphNode>& nodes = m_graph->nodes;
    const int count = static_cast<int>(nodes.size());
    std::vector<int> waiting(count, 0);            // node inputs not yet placed
    std::vector<std::vector<int>> readers(count);  // the nodes reading each node
    for (int n = 0; n < count; ++n)
        for (const auto* list : {&nodes[n].in, &nodes[n].left, &nodes[n].right})
            for (const Source& s : *list)
                if (s.from_node) {
                    ++waiting[n];
                    readers[s.first].push_back(n);
                }
    std::vector<int> order;
    for (int n = 0; n < count; ++n)
        if (waiting[n] == 0) order.push_back(n);
    for (size_t i = 0; i < order.size(); ++i) {
        if (!SetVoices(order[i])) return false;
        for (int reader : readers[order[i]])
            if (--waiting[reader] == 0) order.push_back(reader);
    }
    // Renumber node sources into the new order.
    std::vector<int>& position = m_node_position;
    position.assign(static_cast<size_t>(count), 0);
    for (int i = 0; i < count; ++i) position[order[i]] = i;
    std::vector<GraphNode> sorted;
    for (int n : order) sorted.push_back(std::move(nodes[n]));
    for (GraphNode& node : sorted)
        for (auto* list : {&node.in, &node.left, &node.right})
            for (Source& s : *list)
                if (s.from_node) s.first = position[s.first];
    nodes.swap(sorted);
    m_graph->output = position[m_graph->output];
    return true;
}

bool GraphBuilder::FeedModules() {
    for (const WantedFeed& wanted : m_wanted_feeds) {
        const int index = m_node_position[static_cast<size_t>(wanted.from.index)];
        const GraphNode& node = m_graph->nodes[static_cast<size_t>(index)];
        if (!node.before)
            return Fail(wanted.what + ": node " + Quote(node.name) +
                        " reads module outputs, which exist only after the modules have run; a module input "
                        "takes a node only when the node reads files (file nodes, or nodes reading only those); "
                        "connect a module output to the input directly");
        const int channel = wanted.from.role == "out" ? -1 : std::stoi(wanted.from.role) - 1;
        const int voices = channel >= 0 ? 1 : node.voices;
        const GraphModule& module = m_graph->modules[static_cast<size_t>(wanted.to.index)];
        if (voices != module.voices && voices != 1)
            return Fail(wanted.what + ": " + std::to_string(voices) + " voices cannot feed " +
                        std::to_string(module.voices) + " (connect equal voice counts, or one voice to many)");
        for (int v = 0; v < module.voices; ++v) {
            NodeFeed feed;
            feed.node = index;
            feed.voice = channel >= 0 ? channel : voices == 1 ? 0 : v;
            feed.feed = m_graph->host->AddFeed(module.first + v, wanted.to.pin);
            m_graph->feeds.push_back(feed);
        }
    }
    return true;
}

// Every buffer the render adds to the modules' pin buffers (which the
// engine bounded when it placed them): one block per tapped output, per
// node voice, the nodes' scratch block and the writers' interleaved blocks.
// All together stay within the host's bound, checked before any is made.
bool GraphBuilder::AllocateBlocks() {
    const unsigned long long block = static_cast<unsigned long long>(m_options.block_size);
    unsigned long long node_blocks = 0;
    for (const GraphNode& node : m_graph->nodes)
        // A file node holds its interleaved frames besides its voices.
        node_blocks += node.type == NodeType::kOutput ? 2u
                       : node.type == NodeType::kFile ? 2u * static_cast<unsigned>(node.voices)
                                                      : static_cast<unsigned>(node.voices);
    const unsigned long long tap_blocks = static_cast<unsigned long long>(m_graph->host->TapCount());
    // The scratch block and the WAV writers' stereo frames and bytes.
    const unsigned long long other_blocks = 1 + kWriterBlocks;
    const unsigned long long pin_bytes = m_graph->host->PinBufferBytes();
    const unsigned long long bytes = pin_bytes + (node_blocks + tap_blocks + other_blocks) * block * sizeof(float);
    if (bytes > kMaxBufferBytes)
        return Fail("the render's buffers would take " + std::to_string(bytes >> 20) + " MiB (" +
                    std::to_string(pin_bytes >> 20) + " MiB of pin buffers, " + std::to_string(tap_blocks) +
                    " tapped outputs and " + std::to_string(node_blocks) + " node voices of " + std::to_string(block) +
                    " samples each), more than the host's limit of " + std::to_string(kMaxBufferBytes >> 20) +
                    " MiB; use a smaller block or fewer voices or nodes");
    for (GraphNode& node : m_graph->nodes) {
        node.result.assign(static_cast<size_t>(node.type == NodeType::kOutput ? 2 : node.voices),
                           std::vector<float>(static_cast<size_t>(block), 0.0f));
        if (node.type == NodeType::kFile) node.frames.assign(static_cast<size_t>(block) * node.result.size(), 0.0f);
    }
    m_graph->scratch.assign(static_cast<size_t>(block), 0.0f);
    return true;
}

bool GraphBuilder::SetVoices(int n) {
    GraphNode& node = m_graph->nodes[n];
    for (auto* list : {&node.in, &node.left, &node.right})
        for (Source& s : *list)
            if (s.from_node && s.channel < 0) s.voices = m_graph->nodes[s.first].voices;
    if (node.type == NodeType::kMix || node.type == NodeType::kMultiply)
        node.before = std::all_of(node.in.begin(), node.in.end(),
                                  [&](const Source& s) { return s.from_node && m_graph->nodes[s.first].before; });
    if (node.type != NodeType::kMultiply) return true;  // mix and output sum every voice
    for (const Source& s : node.in) node.voices = std::max(node.voices, s.voices);
    for (const Source& s : node.in)
        if (s.voices != 1 && s.voices != node.voices)
            return Fail("node " + Quote(node.name) + " multiplies " + std::to_string(s.voices) + " voices with " +
                        std::to_string(node.voices) + "; its inputs need equal voice counts, or one voice");
    return true;
}

}  // namespace sephost::render
