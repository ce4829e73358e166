// Building the graph: libraries found and loaded, modules placed with their
// settings, the host opened. The connections are Wiring.cpp's.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "FileAccess.h"
#include "GraphBuilder.h"
#include "Voices.h"

namespace sephost::render {

namespace {

// A regular file there (a FIFO named like a library would block a read).
bool FileExists(const std::string& path) {
    std::string ignored;
    return CheckInputFile(path, &ignored);
}

std::string Labels(const PinDescription& pin) {
    std::vector<std::string> labels;
    for (const Choice& c : pin.choices) labels.push_back(Quote(c.label));
    return Join(labels);
}

bool FindSep(const Patch& patch, const PatchModule& module, const GraphOptions& options, std::string* path,
             std::string* error) {
    std::vector<std::string> folders;
    if (module.sep.find('/') != std::string::npos) {
        *path = module.sep[0] == '/' ? module.sep : patch.directory + "/" + module.sep;
        if (FileExists(*path)) return true;
        std::string why;
        CheckInputFile(*path, &why);
        *error = why.find(": cannot open") != std::string::npos ? "cannot find " + *path : why;
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

std::string FormatNumber(double number) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", number);
    return text;
}

}  // namespace

std::string Join(const std::vector<std::string>& items, const char* separator) {
    std::string all;
    for (const std::string& item : items) all += (all.empty() ? "" : separator) + item;
    return all;
}

std::string Quote(const std::string& text) { return "\"" + text + "\""; }

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

bool PinSettingValue(const PinDescription& pin, const Setting& s, const std::string& here, float* value,
                     std::string* error) {
    if (pin.datatype == DT_FSAMPLE) {
        if (s.is_label) {
            *error = here + " takes volts (a number), not " + Quote(s.label);
            return false;
        }
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
        *error = here + ": " + (s.is_label ? Quote(s.label) : FormatNumber(s.number)) + " is not one of its choices (" +
                 Labels(pin) + ")";
        return false;
    }
    if (s.is_label || std::floor(s.number) != s.number || std::fabs(s.number) > 2147483647.0) {
        *error = here + " takes a whole number, not " + (s.is_label ? Quote(s.label) : FormatNumber(s.number));
        return false;
    }
    *value = static_cast<float>(s.number);
    return true;
}

bool GraphBuilder::Build(std::string* error) {
    m_graph->host =
        std::make_unique<RenderHost>(m_options.sample_rate, m_options.block_size, m_options.fill_driven_by_sample);
    const bool ok = PlaceModules() && MakeNodes() && ReadConnections() && ApplySettings() && CheckCycles() && Wire() &&
                    OrderNodes() && FeedModules() && AllocateBlocks() && Open();
    if (!ok) *error = m_patch.path + ": " + m_error;
    return ok;
}

bool GraphBuilder::Fail(const std::string& text) {
    m_error = text;
    return false;
}

bool GraphBuilder::PlaceModules() {
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

bool GraphBuilder::MakeNodes() {
    for (const PatchNode& pn : m_patch.nodes) {
        GraphNode node;
        node.name = pn.name;
        node.type = pn.type;
        node.gain = static_cast<float>(pn.gain);
        if (pn.type == NodeType::kFile) {
            std::string why;
            node.sound = OpenSoundIn(pn.file, &why);
            if (node.sound == nullptr) return Fail("node " + Quote(pn.name) + ": " + why);
            const double rate = m_options.sample_rate;
            if (static_cast<double>(node.sound->SampleRate()) != rate)
                return Fail("node " + Quote(pn.name) + ": " + pn.file + " is at " +
                            std::to_string(node.sound->SampleRate()) + " Hz, the render at " + FormatNumber(rate) +
                            " Hz (render at " + std::to_string(node.sound->SampleRate()) +
                            " Hz, or resample the file)");
            node.voices = node.sound->Channels();
            node.before = true;
        }
        if (pn.type == NodeType::kOutput) {
            if (m_graph->output >= 0) return Fail("node " + Quote(pn.name) + ": the patch has one output node");
            m_graph->output = static_cast<int>(m_graph->nodes.size());
        }
        m_graph->nodes.push_back(std::move(node));
        m_owners[pn.name] = {true, static_cast<int>(m_graph->nodes.size()) - 1};
    }
    if (m_graph->output < 0) return Fail("the patch has no node of type \"output\"");
    return true;
}

// Per module: the played pins, the settings, the lanes and the MIDI
// controllers, each pin claimed by one of them.
bool GraphBuilder::ApplySettings() {
    for (size_t m = 0; m < m_patch.modules.size(); ++m) {
        std::set<int32_t> driven, automated;
        if (!ApplyPlay(m, &driven) || !ApplyPins(m, driven) || !ApplyLanes(m, driven, &automated) ||
            !ApplyControls(m, driven, &automated))
            return false;
        // Played gates and syncs start low whatever their defaults.
        const GraphModule& gm = m_graph->modules[m];
        for (int32_t pin : {gm.gate, gm.sync})
            if (pin >= 0)
                for (int v = 0; v < gm.voices; ++v) m_graph->host->SetInput(gm.first + v, pin, 0.0f, 0);
    }
    return true;
}

bool GraphBuilder::ApplyPlay(size_t m, std::set<int32_t>* driven) {
    const PatchModule& pm = m_patch.modules[m];
    GraphModule& gm = m_graph->modules[m];
    const std::string what = "module " + Quote(pm.name);
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
        if (*role.pin < 0) return Fail(here + ": no pin " + Quote(*role.name) + " (pins: " + PinList(gm) + ")");
        const PinDescription& pin = gm.pins[*role.pin];
        if (pin.direction == DR_OUT || pin.datatype != DT_FSAMPLE)
            return Fail(here + ": " + Quote(*role.name) + " is not a float-sample input");
        if (m_connected.count({static_cast<int>(m), *role.pin}) != 0)
            return Fail(here + ": " + Quote(*role.name) + " is connected; the notes cannot drive it too");
        if (!driven->insert(*role.pin).second)
            return Fail(here + ": " + Quote(*role.name) + " already plays another part of the note");
    }
    return true;
}

bool GraphBuilder::ApplyPins(size_t m, const std::set<int32_t>& driven) {
    const PatchModule& pm = m_patch.modules[m];
    const GraphModule& gm = m_graph->modules[m];
    const std::string what = "module " + Quote(pm.name);
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
    return true;
}

// The input a lane or a controller moves: a pin of the module, an input,
// neither connected nor played, and not moved by anything else yet.
bool GraphBuilder::ClaimMovedInput(size_t m, const std::string& name, const std::string& here, const char* taken,
                                   const std::set<int32_t>& driven, std::set<int32_t>* automated, GraphLane* lane) {
    const GraphModule& gm = m_graph->modules[m];
    const int32_t index = FindPin(gm, name);
    if (index < 0)
        return Fail("module " + Quote(m_patch.modules[m].name) + ": no pin " + Quote(name) + " (pins: " + PinList(gm) +
                    ")");
    const PinDescription& pin = gm.pins[index];
    if (pin.direction == DR_OUT) return Fail(here + ": it is an output");
    if (m_connected.count({static_cast<int>(m), index}) != 0) return Fail(here + ": it is connected");
    if (driven.count(index) != 0) return Fail(here + ": it is played by the notes");
    lane->first = gm.first;
    lane->voices = gm.voices;
    lane->pin = index;
    lane->sample_pin = pin.datatype == DT_FSAMPLE;
    return automated->insert(index).second || Fail(here + taken);
}

// A finished lane joins the graph; a float-sample one gets a feed per clone.
void GraphBuilder::AddLane(GraphLane lane) {
    if (lane.sample_pin)
        for (int v = 0; v < lane.voices; ++v) lane.feeds.push_back(m_graph->host->AddFeed(lane.first + v, lane.pin));
    m_graph->lanes.push_back(std::move(lane));
}

bool GraphBuilder::ApplyLanes(size_t m, const std::set<int32_t>& driven, std::set<int32_t>* automated) {
    const PatchModule& pm = m_patch.modules[m];
    const GraphModule& gm = m_graph->modules[m];
    for (const Lane& lane : pm.automation) {
        const std::string here = "module " + Quote(pm.name) + ": automation of pin " + Quote(lane.pin);
        // (A setting of a missing, output, connected or played pin has failed already.)
        if (std::any_of(pm.settings.begin(), pm.settings.end(), [&](const Setting& s) { return s.pin == lane.pin; }))
            return Fail(here + ": it is set in \"pins\" too");
        GraphLane gl;
        if (!ClaimMovedInput(m, lane.pin, here, ": the pin has one lane", driven, automated, &gl)) return false;
        if (!gl.sample_pin && lane.step_given && !lane.step)
            return Fail(here + ": a list or integer pin steps; it cannot move linearly");
        gl.step = lane.step || !gl.sample_pin;
        const PinDescription& pin = gm.pins[gl.pin];
        for (size_t i = 0; i < lane.points.size(); ++i) {
            float value = 0.0f;
            if (!SettingValue(pin, lane.points[i].value, here + " point " + std::to_string(i + 1), &value))
                return false;
            gl.points.push_back({ClockAt(lane.points[i].seconds, m_options.sample_rate), value});
        }
        AddLane(std::move(gl));
    }
    return true;
}

// MIDI controllers: a stepped lane from the pin's start (its setting, else
// its default) through each change of the controller.
bool GraphBuilder::ApplyControls(size_t m, const std::set<int32_t>& driven, std::set<int32_t>* automated) {
    const PatchModule& pm = m_patch.modules[m];
    for (const ControlMap& map : pm.controls) {
        const std::string here = "module " + Quote(pm.name) + ": \"cc\" " +
                                 (map.number == kPitchBend ? std::string("bend") : std::to_string(map.number)) +
                                 " to pin " + Quote(map.pin);
        GraphLane gl;
        if (!ClaimMovedInput(m, map.pin, here, ": the pin has a lane or a controller already", driven, automated, &gl))
            return false;
        gl.step = true;
        const PinDescription& pin = m_graph->modules[m].pins[gl.pin];
        Setting start;
        start.number = std::strtod(pin.default_text.c_str(), nullptr);
        for (const Setting& s : pm.settings)
            if (s.pin == map.pin) start = s;
        float value = 0.0f;
        if (!SettingValue(pin, start, here + ": its start", &value)) return false;
        gl.points.push_back({0, value});
        const double top = map.number == kPitchBend ? 16383.0 : 127.0;
        for (const Control& c : m_options.controls) {
            if (c.number != map.number || (map.channel != 0 && c.channel != map.channel)) continue;
            Setting s;
            s.number = map.low + (map.high - map.low) * (c.value / top);
            if (!gl.sample_pin) s.number = std::nearbyint(s.number);
            if (!SettingValue(pin, s, here + " (value " + std::to_string(c.value) + ")", &value)) return false;
            gl.points.push_back({ClockAt(c.seconds, m_options.sample_rate), value});
        }
        AddLane(std::move(gl));
    }
    return true;
}

bool GraphBuilder::SettingValue(const PinDescription& pin, const Setting& s, const std::string& here, float* value) {
    std::string why;
    return PinSettingValue(pin, s, here, value, &why) || Fail(why);
}

bool GraphBuilder::Open() {
    std::string why;
    if (!m_graph->host->Open(&why)) return Fail(why);
    return true;
}

float LaneValue(const GraphLane& lane, uint32_t clock) {
    const auto& points = lane.points;
    // The first point after `clock`; the one before it is in force.
    auto next = std::upper_bound(points.begin(), points.end(), clock,
                                 [](uint32_t c, const std::pair<uint32_t, float>& p) { return c < p.first; });
    if (next == points.begin()) return points.front().second;
    const auto& from = *(next - 1);
    if (next == points.end() || lane.step) return from.second;
    // Between two points: the straight line, computed in double.
    const double fraction = static_cast<double>(clock - from.first) / static_cast<double>(next->first - from.first);
    return static_cast<float>(static_cast<double>(from.second) +
                              (static_cast<double>(next->second) - static_cast<double>(from.second)) * fraction);
}

bool LongestInputSeconds(const Patch& patch, double* seconds, std::string* error) {
    *seconds = 0.0;
    for (const PatchNode& node : patch.nodes) {
        if (node.type != NodeType::kFile) continue;
        std::string why;
        const std::unique_ptr<SoundIn> sound = OpenSoundIn(node.file, &why);
        if (sound == nullptr) {
            *error = patch.path + ": node " + Quote(node.name) + ": " + why;
            return false;
        }
        *seconds = std::max(*seconds, static_cast<double>(sound->Frames()) / sound->SampleRate());
    }
    return true;
}

bool BuildGraph(const Patch& patch, const GraphOptions& options, Graph* graph, std::string* error) {
    *graph = Graph();
    return GraphBuilder(patch, options, graph).Build(error);
}

}  // namespace sephost::render
