#include "Graph.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <set>

#include "Score.h"

namespace sephost::render {

namespace {

bool FileExists(const std::string& path) { return static_cast<bool>(std::ifstream(path, std::ios::binary)); }

std::string Join(const std::vector<std::string>& items, const char* separator = ", ") {
    std::string all;
    for (const std::string& item : items) all += (all.empty() ? "" : separator) + item;
    return all;
}

std::string Quote(const std::string& text) { return "\"" + text + "\""; }

bool FindSep(const Patch& patch, const PatchModule& module, const GraphOptions& options, std::string* path,
             std::string* error) {
    std::vector<std::string> folders;
    if (module.sep.find('/') != std::string::npos) {
        *path = module.sep[0] == '/' ? module.sep : patch.directory + "/" + module.sep;
        if (FileExists(*path)) return true;
        *error = "cannot find " + *path;
        return false;
    }
    folders.push_back(patch.directory);
    folders.insert(folders.end(), options.plugin_folders.begin(), options.plugin_folders.end());
    for (const std::string& folder : folders) {
        *path = folder + "/" + module.sep;
        if (FileExists(*path)) return true;
    }
    *error = "cannot find " + module.sep + " (looked in " + Join(folders) + ")";
    return false;
}

int32_t FindPin(const GraphModule& module, const std::string& name) {
    for (size_t i = 0; i < module.pins.size(); ++i)
        if (module.pins[i].name == name) return static_cast<int32_t>(i);
    return -1;
}

std::string PinList(const GraphModule& module) {
    std::vector<std::string> names;
    for (const PinDescription& p : module.pins) names.push_back(Quote(p.name));
    return Join(names);
}

std::string Labels(const PinDescription& pin) {
    std::vector<std::string> labels;
    for (const Choice& c : pin.choices) labels.push_back(Quote(c.label));
    return Join(labels);
}

// What one end of a connection names.
struct End {
    bool is_node = false;
    int index = -1;     // module or node
    int32_t pin = -1;   // module pin
    std::string role;   // node pin: "in", "out", "left", "right"
};

class Builder {
public:
    Builder(const Patch& patch, const GraphOptions& options, Graph* graph)
        : m_patch(patch), m_options(options), m_graph(graph) {}

    bool Build(std::string* error) {
        m_graph->host = std::make_unique<RenderHost>(m_options.sample_rate, m_options.block_size);
        const bool ok = PlaceModules() && MakeNodes() && ReadConnections() && ApplySettings() && CheckCycles() &&
                        Wire() && OrderNodes() && Open();
        if (!ok) *error = m_patch.path + ": " + m_error;
        return ok;
    }

private:
    bool Fail(const std::string& text) {
        m_error = text;
        return false;
    }

    bool PlaceModules() {
        for (const PatchModule& pm : m_patch.modules) {
            const std::string what = "module " + Quote(pm.name);
            std::string path, why;
            if (!FindSep(m_patch, pm, m_options, &path, &why)) return Fail(what + ": " + why);
            std::unique_ptr<Library> library = Library::Load(path, &why);
            if (library == nullptr) return Fail(what + ": " + why);
            GraphModule gm;
            gm.name = pm.name;
            gm.voices = pm.voices;
            gm.part = pm.play.part;
            gm.first = m_graph->host->Place(*library, pm.voices, &why);
            if (gm.first < 0) return Fail(what + ": " + why);
            gm.pins = m_graph->host->Pins(gm.first);
            m_graph->libraries.push_back(std::move(library));
            m_graph->modules.push_back(gm);
            m_owners[pm.name] = {false, static_cast<int>(m_graph->modules.size()) - 1};
        }
        return true;
    }

    bool MakeNodes() {
        for (const PatchNode& pn : m_patch.nodes) {
            GraphNode node;
            node.name = pn.name;
            node.type = pn.type;
            node.gain = static_cast<float>(pn.gain);
            if (pn.type == NodeType::kOutput) {
                if (m_graph->output >= 0) return Fail("node " + Quote(pn.name) + ": the patch has one output node");
                m_graph->output = static_cast<int>(m_graph->nodes.size());
            }
            m_graph->nodes.push_back(node);
            m_owners[pn.name] = {true, static_cast<int>(m_graph->nodes.size()) - 1};
        }
        if (m_graph->output < 0) return Fail("the patch has no node of type \"output\"");
        return true;
    }

    // Resolves one end; `output` says which side of the connection it is.
    bool Resolve(const PatchConnection& c, const Endpoint& e, bool output, End* end) {
        const std::string what = c.where + " (" + c.from.owner + "." + c.from.pin + " -> " + c.to.owner + "." +
                                 c.to.pin + ")";
        auto owner = m_owners.find(e.owner);
        if (owner == m_owners.end()) return Fail(what + ": no module or node named " + Quote(e.owner));
        end->is_node = owner->second.first;
        end->index = owner->second.second;
        if (end->is_node) {
            const GraphNode& node = m_graph->nodes[end->index];
            const std::vector<std::string> ins =
                node.type == NodeType::kOutput ? std::vector<std::string>{"left", "right"} : std::vector<std::string>{"in"};
            const std::vector<std::string> outs =
                node.type == NodeType::kOutput ? std::vector<std::string>{} : std::vector<std::string>{"out"};
            const std::vector<std::string>& allowed = output ? outs : ins;
            if (std::find(allowed.begin(), allowed.end(), e.pin) == allowed.end()) {
                const std::string known = allowed.empty() ? std::string("it has no output")
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
            return Fail(what + ": module " + Quote(module.name) + " has no pin " + Quote(e.pin) + " (pins: " +
                        PinList(module) + ")");
        const PinDescription& pin = module.pins[end->pin];
        if ((pin.direction == DR_OUT) != output)
            return Fail(what + ": " + Quote(e.pin) + " of " + Quote(module.name) + " is an " +
                        (output ? "input" : "output") + "; a connection runs from an output to an input");
        if (pin.datatype != DT_FSAMPLE)
            return Fail(what + ": " + Quote(e.pin) + " of " + Quote(module.name) + " is not a float-sample pin (it is " +
                        DatatypeName(pin.datatype) + "); only float-sample pins connect (set it in \"pins\")");
        return true;
    }

    bool ReadConnections() {
        for (const PatchConnection& c : m_patch.connections) {
            End from, to;
            if (!Resolve(c, c.from, true, &from) || !Resolve(c, c.to, false, &to)) return false;
            const std::string what = c.where + " (" + c.from.owner + "." + c.from.pin + " -> " + c.to.owner + "." +
                                     c.to.pin + ")";
            if (from.is_node && !to.is_node)
                return Fail(what + ": utility nodes feed only other nodes, not module inputs");
            if (!to.is_node) {
                const auto key = std::make_pair(to.index, to.pin);
                if (m_connected.count(key) != 0) return Fail(what + ": the input already has a source");
                m_connected.insert(key);
                const GraphModule& a = m_graph->modules[from.index];
                const GraphModule& b = m_graph->modules[to.index];
                if (a.voices != b.voices && a.voices != 1)
                    return Fail(what + ": " + std::to_string(a.voices) + " voices cannot feed " +
                                std::to_string(b.voices) + " (connect equal voice counts, or one voice to many)");
            }
            m_links.push_back({from, to});
        }
        return true;
    }

    bool ApplySettings() {
        for (size_t m = 0; m < m_patch.modules.size(); ++m) {
            const PatchModule& pm = m_patch.modules[m];
            GraphModule& gm = m_graph->modules[m];
            const std::string what = "module " + Quote(pm.name);
            std::set<int32_t> driven;
            struct Role {
                const char* key;
                const std::string* name;
                int32_t* pin;
            } roles[] = {{"pitch", &pm.play.pitch, &gm.pitch},
                         {"gate", &pm.play.gate, &gm.gate},
                         {"sync", &pm.play.sync, &gm.sync},
                         {"velocity", &pm.play.velocity, &gm.velocity}};
            for (const Role& role : roles) {
                if (role.name->empty()) continue;
                const std::string here = what + ": \"play\" " + role.key;
                *role.pin = FindPin(gm, *role.name);
                if (*role.pin < 0)
                    return Fail(here + ": no pin " + Quote(*role.name) + " (pins: " + PinList(gm) + ")");
                const PinDescription& pin = gm.pins[*role.pin];
                if (pin.direction == DR_OUT || pin.datatype != DT_FSAMPLE)
                    return Fail(here + ": " + Quote(*role.name) + " is not a float-sample input");
                if (m_connected.count({static_cast<int>(m), *role.pin}) != 0)
                    return Fail(here + ": " + Quote(*role.name) + " is connected; the notes cannot drive it too");
                if (!driven.insert(*role.pin).second)
                    return Fail(here + ": " + Quote(*role.name) + " already plays another part of the note");
            }
            for (const Setting& s : pm.settings) {
                const std::string here = what + ": pin " + Quote(s.pin);
                const int32_t index = FindPin(gm, s.pin);
                if (index < 0) return Fail(what + ": no pin " + Quote(s.pin) + " (pins: " + PinList(gm) + ")");
                const PinDescription& pin = gm.pins[index];
                if (pin.direction == DR_OUT) return Fail(here + " is an output; it cannot be set");
                if (m_connected.count({static_cast<int>(m), index}) != 0)
                    return Fail(here + " is connected; it cannot be set too");
                if (driven.count(index) != 0) return Fail(here + " is played by the notes; it cannot be set too");
                float value = 0.0f;
                if (!SettingValue(pin, s, here, &value)) return false;
                for (int v = 0; v < gm.voices; ++v) m_graph->host->SetInput(gm.first + v, index, value, 0);
            }
            // Played gates and syncs start low whatever their defaults.
            for (int32_t pin : {gm.gate, gm.sync})
                if (pin >= 0)
                    for (int v = 0; v < gm.voices; ++v) m_graph->host->SetInput(gm.first + v, pin, 0.0f, 0);
        }
        return true;
    }

    bool SettingValue(const PinDescription& pin, const Setting& s, const std::string& here, float* value) {
        if (pin.datatype == DT_FSAMPLE) {
            if (s.is_label) return Fail(here + " takes volts (a number), not " + Quote(s.label));
            // The host's convention: 10 volts is full scale 1.0.
            *value = static_cast<float>(s.number / 10.0);
            return true;
        }
        if (pin.datatype == DT_ENUM && !pin.choices.empty()) {
            for (const Choice& c : pin.choices) {
                if (s.is_label ? c.label == s.label : c.value == s.number) {
                    *value = static_cast<float>(c.value);
                    return true;
                }
            }
            return Fail(here + ": " + (s.is_label ? Quote(s.label) : FormatNumber(s.number)) +
                        " is not one of its choices (" + Labels(pin) + ")");
        }
        if (s.is_label || std::floor(s.number) != s.number || std::fabs(s.number) > 2147483647.0)
            return Fail(here + " takes a whole number, not " + (s.is_label ? Quote(s.label) : FormatNumber(s.number)));
        *value = static_cast<float>(s.number);
        return true;
    }

    static std::string FormatNumber(double number) {
        char text[64];
        std::snprintf(text, sizeof text, "%g", number);
        return text;
    }

    // Depth-first search over modules and nodes; a back edge closes a cycle.
    bool CheckCycles() {
        const int module_count = static_cast<int>(m_graph->modules.size());
        const int count = module_count + static_cast<int>(m_graph->nodes.size());
        auto id = [&](const End& e) { return e.is_node ? module_count + e.index : e.index; };
        auto name = [&](int n) {
            return n < module_count ? m_graph->modules[n].name : m_graph->nodes[n - module_count].name;
        };
        std::vector<std::vector<int>> next(count);
        for (const auto& link : m_links) next[id(link.first)].push_back(id(link.second));
        std::vector<int> state(count, 0);  // 0 new, 1 on the path, 2 done
        std::vector<int> path;
        std::function<bool(int)> visit = [&](int n) {
            state[n] = 1;
            path.push_back(n);
            for (int m : next[n]) {
                if (state[m] == 1) {
                    std::vector<std::string> names;
                    for (auto it = std::find(path.begin(), path.end(), m); it != path.end(); ++it)
                        names.push_back(name(*it));
                    names.push_back(name(m));
                    return Fail("the connections form a cycle: " + Join(names, " -> "));
                }
                if (state[m] == 0 && !visit(m)) return false;
            }
            path.pop_back();
            state[n] = 2;
            return true;
        };
        for (int n = 0; n < count; ++n)
            if (state[n] == 0 && !visit(n)) return false;
        return true;
    }

    // A module output read by a node: one tap per voice.
    Source TapSource(const End& from) {
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

    bool Wire() {
        for (const auto& link : m_links) {
            const End& from = link.first;
            const End& to = link.second;
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
            } else {
                source = TapSource(from);
            }
            GraphNode& node = m_graph->nodes[to.index];
            (to.role == "left" ? node.left : to.role == "right" ? node.right : node.in).push_back(source);
        }
        return true;
    }

    // Nodes after the nodes they read (the cycle check ran already); each
    // node's voice count follows from its inputs.
    bool OrderNodes() {
        std::vector<GraphNode>& nodes = m_graph->nodes;
        const int count = static_cast<int>(nodes.size());
        std::vector<int> order;
        std::vector<bool> placed(count, false);
        while (static_cast<int>(order.size()) < count) {
            for (int n = 0; n < count; ++n) {
                if (placed[n]) continue;
                bool ready = true;
                for (const auto* list : {&nodes[n].in, &nodes[n].left, &nodes[n].right})
                    for (const Source& s : *list) ready = ready && (!s.from_node || placed[s.first]);
                if (!ready) continue;
                placed[n] = true;
                order.push_back(n);
                if (!SetVoices(n)) return false;
            }
        }
        // Renumber node sources into the new order.
        std::vector<int> position(count);
        for (int i = 0; i < count; ++i) position[order[i]] = i;
        std::vector<GraphNode> sorted;
        for (int n : order) sorted.push_back(std::move(nodes[n]));
        for (GraphNode& node : sorted)
            for (auto* list : {&node.in, &node.left, &node.right})
                for (Source& s : *list)
                    if (s.from_node) s.first = position[s.first];
        nodes.swap(sorted);
        m_graph->output = position[m_graph->output];
        for (GraphNode& node : nodes)
            node.result.assign(static_cast<size_t>(node.type == NodeType::kOutput ? 2 : node.voices),
                               std::vector<float>(static_cast<size_t>(m_options.block_size), 0.0f));
        return true;
    }

    bool SetVoices(int n) {
        GraphNode& node = m_graph->nodes[n];
        for (auto* list : {&node.in, &node.left, &node.right})
            for (Source& s : *list)
                if (s.from_node) s.voices = m_graph->nodes[s.first].voices;
        if (node.type != NodeType::kMultiply) return true;  // mix and output sum every voice
        for (const Source& s : node.in) node.voices = std::max(node.voices, s.voices);
        for (const Source& s : node.in)
            if (s.voices != 1 && s.voices != node.voices)
                return Fail("node " + Quote(node.name) + " multiplies " + std::to_string(s.voices) + " voices with " +
                            std::to_string(node.voices) + "; its inputs need equal voice counts, or one voice");
        return true;
    }

    bool Open() {
        std::string why;
        if (!m_graph->host->Open(&why)) return Fail(why);
        return true;
    }

    const Patch& m_patch;
    const GraphOptions& m_options;
    Graph* m_graph;
    std::string m_error;
    std::map<std::string, std::pair<bool, int>> m_owners;  // name -> (is node, index)
    std::vector<std::pair<End, End>> m_links;
    std::set<std::pair<int, int32_t>> m_connected;  // module inputs with a source
    std::map<std::pair<int, int32_t>, Source> m_taps;
};

// Adds source `s` for voice `voice` of a node with `voices` voices into
// `out`: its own voice, its only voice, or all its voices summed.
void Accumulate(const Graph& graph, const Source& s, int voice, int voices, int32_t samples, bool multiply,
                float* out) {
    auto block = [&](int v) -> const float* {
        return s.from_node ? graph.nodes[s.first].result[v].data() : graph.host->TapBlock(s.first + v);
    };
    std::vector<float> sum;
    const float* in = nullptr;
    if (s.voices == voices) {
        in = block(voice);
    } else if (s.voices == 1) {
        in = block(0);
    } else {
        sum.assign(block(0), block(0) + samples);
        for (int v = 1; v < s.voices; ++v) {
            const float* b = block(v);
            for (int32_t k = 0; k < samples; ++k) sum[k] += b[k];
        }
        in = sum.data();
    }
    for (int32_t k = 0; k < samples; ++k) out[k] = multiply ? out[k] * in[k] : out[k] + in[k];
}

void Combine(const Graph& graph, const std::vector<Source>& sources, int voice, int voices, int32_t samples,
             bool multiply, float gain, float* out) {
    std::fill(out, out + samples, multiply && !sources.empty() ? 1.0f : 0.0f);
    for (const Source& s : sources) Accumulate(graph, s, voice, voices, samples, multiply, out);
    for (int32_t k = 0; k < samples; ++k) out[k] *= gain;
}

}  // namespace

bool BuildGraph(const Patch& patch, const GraphOptions& options, Graph* graph, std::string* error) {
    *graph = Graph();
    return Builder(patch, options, graph).Build(error);
}

void ComputeNodes(Graph* graph, int32_t samples) {
    for (GraphNode& node : graph->nodes) {
        if (node.type == NodeType::kOutput) {
            // result[0] is left; right follows left when nothing feeds it.
            Combine(*graph, node.left, 0, 1, samples, false, node.gain, node.result[0].data());
            if (node.right.empty())
                std::copy(node.result[0].begin(), node.result[0].begin() + samples, node.result[1].begin());
            else
                Combine(*graph, node.right, 0, 1, samples, false, node.gain, node.result[1].data());
            continue;
        }
        const bool multiply = node.type == NodeType::kMultiply;
        for (int v = 0; v < node.voices; ++v)
            Combine(*graph, node.in, v, node.voices, samples, multiply, node.gain, node.result[v].data());
    }
}

}  // namespace sephost::render
