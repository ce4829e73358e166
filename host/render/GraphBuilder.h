// Inside BuildGraph: the steps that turn a patch into a graph, shared by
// Graph.cpp (modules, settings, opening) and Wiring.cpp (connections,
// cycles, the order of the nodes).
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Graph.h"

namespace sephost::render {

std::string Join(const std::vector<std::string>& items, const char* separator = ", ");
std::string Quote(const std::string& text);
int32_t FindPin(const GraphModule& module, const std::string& name);  // -1: none
std::string PinList(const GraphModule& module);                       // "\"fc\", \"fm1\", ..."

// What one end of a connection names.
struct ConnectionEnd {
    bool is_node = false;
    int index = -1;    // module or node
    int32_t pin = -1;  // module pin
    std::string role;  // node pin: "in", "out", "left", "right"
};

class GraphBuilder {
public:
    GraphBuilder(const Patch& patch, const GraphOptions& options, Graph* graph)
        : m_patch(patch), m_options(options), m_graph(graph) {}

    // Every step in order; on failure `error` names the patch and the fault.
    bool Build(std::string* error);

private:
    bool Fail(const std::string& text);

    bool PlaceModules();

    bool MakeNodes();

    // Resolves one end; `output` says which side of the connection it is.
    bool Resolve(const PatchConnection& c, const Endpoint& e, bool output, ConnectionEnd* end);

    bool ReadConnections();

    bool ApplySettings();
    bool ApplyPlay(size_t m, std::set<int32_t>* driven);
    bool ApplyPins(size_t m, const std::set<int32_t>& driven);
    bool ApplyLanes(size_t m, const std::set<int32_t>& driven, std::set<int32_t>* automated);
    bool ApplyControls(size_t m, const std::set<int32_t>& driven, std::set<int32_t>* automated);
    bool ClaimMovedInput(size_t m, const std::string& name, const std::string& here, const char* taken,
                         const std::set<int32_t>& driven, std::set<int32_t>* automated, GraphLane* lane);
    void AddLane(GraphLane lane);

    bool SettingValue(const PinDescription& pin, const Setting& s, const std::string& here, float* value);

    // Depth-first search over modules and nodes; a back edge closes a cycle.
    bool CheckCycles();

    // A module output read by a node: one tap per voice.
    Source TapSource(const ConnectionEnd& from);

    bool Wire();

    // The node outputs read by module inputs, voice by voice, after the
    // nodes have their order and voice counts.
    bool FeedModules();

    // Nodes after the nodes they read (the cycle check ran already); each
    // node's voice count follows from its inputs.
    bool OrderNodes();

    bool SetVoices(int n);
    // The blocks of the taps and nodes, after the memory check.
    bool AllocateBlocks();

    bool Open();

    const Patch& m_patch;
    const GraphOptions& m_options;
    Graph* m_graph;
    std::string m_error;
    std::map<std::string, std::pair<bool, int>> m_owners;  // name -> (is node, index)
    std::vector<std::pair<ConnectionEnd, ConnectionEnd>> m_links;
    struct WantedFeed {
        ConnectionEnd from, to;
        std::string what;  // the connection, for messages
    };
    std::vector<WantedFeed> m_wanted_feeds;
    std::vector<int> m_node_position;               // a node's index before OrderNodes -> after
    std::set<std::pair<int, int32_t>> m_connected;  // module inputs with a source
    std::map<std::pair<int, int32_t>, Source> m_taps;
};

}  // namespace sephost::render
