#include "Patch.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <set>

#include "JsonText.h"

namespace sephost::render {

namespace {

using nlohmann::json;

bool KnownKeys(const json& object, std::initializer_list<const char*> keys, const std::string& where,
               std::string* error) {
    for (const auto& item : object.items()) {
        if (std::find_if(keys.begin(), keys.end(), [&](const char* k) { return item.key() == k; }) != keys.end())
            continue;
        std::string list;
        for (const char* k : keys) list += std::string(list.empty() ? "" : ", ") + k;
        *error = where + ": unknown key \"" + Excerpt(item.key()) + "\" (known: " + list + ")";
        return false;
    }
    return true;
}

bool Text(const json& object, const char* key, const std::string& where, std::string* value, std::string* error) {
    if (!object.contains(key)) {
        *error = where + ": \"" + key + "\" is missing";
        return false;
    }
    const json& v = object.at(key);
    if (!v.is_string() || v.get<std::string>().empty()) {
        *error = where + ": \"" + key + "\" must be a non-empty text, not " + Excerpt(v);
        return false;
    }
    *value = v.get<std::string>();
    return true;
}

bool Name(const json& object, const std::string& where, std::set<std::string>* taken, std::string* value,
          std::string* error) {
    if (!Text(object, "name", where, value, error)) return false;
    if (value->find('.') != std::string::npos) {
        *error = where + ": the name \"" + *value + "\" may not contain '.' (it separates names from pins)";
        return false;
    }
    if (!taken->insert(*value).second) {
        *error = where + ": the name \"" + *value + "\" is used twice";
        return false;
    }
    return true;
}

// One setting value as the patch writes it: a number or a list label.
bool ReadSettingValue(const json& v, const std::string& what, Setting* setting, std::string* error) {
    if (v.is_string()) {
        setting->is_label = true;
        setting->label = v.get<std::string>();
        return true;
    }
    if (v.is_number() && std::isfinite(v.get<double>())) {
        setting->number = v.get<double>();
        return true;
    }
    *error = what + " takes a number or a list label, not " + Excerpt(v);
    return false;
}

// "automation": {"PIN": [[time, value], ...]} or {"PIN": {"points": [...],
// "interpolation": "linear" | "step"}}. A time is written in units of
// `seconds_per_unit` seconds (a score's beats) and kept in seconds.
bool ReadLane(const std::string& pin, const json& v, const std::string& what, double seconds_per_unit, Lane* lane,
              std::string* error) {
    lane->pin = pin;
    const json* points = &v;
    if (v.is_object()) {
        if (!KnownKeys(v, {"points", "interpolation"}, what, error)) return false;
        if (!v.contains("points")) {
            *error = what + ": \"points\" is missing";
            return false;
        }
        points = &v.at("points");
        if (v.contains("interpolation")) {
            const json& kind = v.at("interpolation");
            if (kind != "linear" && kind != "step") {
                *error = what + ": \"interpolation\" is \"linear\" or \"step\", not " + Excerpt(kind);
                return false;
            }
            lane->step = kind == "step";
            lane->step_given = true;
        }
    }
    if (!points->is_array() || points->empty()) {
        *error = what + " is a list of [time, value] points, not " + Excerpt(*points);
        return false;
    }
    for (size_t i = 0; i < points->size(); ++i) {
        const json& point = points->at(i);
        const std::string at = what + " point " + std::to_string(i + 1);
        if (!point.is_array() || point.size() != 2) {
            *error = at + " is [time, value], not " + Excerpt(point);
            return false;
        }
        LanePoint p;
        p.value.pin = pin;
        double time = 0.0;
        if (!NumberIn(point.at(0), at + ": the time", 0.0, 86400.0 / seconds_per_unit, false, &time, error) ||
            !ReadSettingValue(point.at(1), at + ": the value", &p.value, error))
            return false;
        p.seconds = time * seconds_per_unit;
        if (!lane->points.empty() && p.seconds < lane->points.back().seconds) {
            *error = at + ": the times must not go back (" + Excerpt(point.at(0)) + " after " +
                     Excerpt(points->at(i - 1).at(0)) + ")";
            return false;
        }
        lane->points.push_back(p);
    }
    return true;
}

// "pins": pin name to a number or a list label.
bool ReadSettings(const json& pins, const std::string& here, PatchModule* module, std::string* error) {
    if (!pins.is_object()) {
        *error = here + ": \"pins\" is an object of pin name to value, not " + TypeName(pins);
        return false;
    }
    for (const auto& item : pins.items()) {
        Setting setting;
        setting.pin = item.key();
        if (item.value().is_string()) {
            setting.is_label = true;
            setting.label = item.value().get<std::string>();
        } else if (item.value().is_number() && std::isfinite(item.value().get<double>())) {
            setting.number = item.value().get<double>();
        } else {
            *error = here + ": pin \"" + Excerpt(item.key()) + "\" takes a number or a list label, not " +
                     Excerpt(item.value());
            return false;
        }
        module->settings.push_back(setting);
    }
    return true;
}

// One "cc" entry: a controller number (or "bend") to {"pin", "range", "channel"}.
bool ReadControlMap(const std::string& key, const json& v, const std::string& here, ControlMap* out,
                    std::string* error) {
    const std::string what = here + ": \"cc\" \"" + Excerpt(key) + "\"";
    ControlMap& map = *out;
    if (key == "bend") {
        map.number = kPitchBend;
    } else {
        if (key.empty() || key.size() > 3 || key.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(key) > 127) {
            *error = what + ": a controller is a number from 0 to 127, or \"bend\"";
            return false;
        }
        map.number = std::stoi(key);
    }
    if (!v.is_object()) {
        *error = what + " is {\"pin\": NAME, \"range\": [LOW, HIGH]}, not " + Excerpt(v);
        return false;
    }
    if (!KnownKeys(v, {"pin", "range", "channel"}, what, error) || !Text(v, "pin", what, &map.pin, error)) return false;
    if (v.contains("range")) {
        const json& range = v.at("range");
        if (!range.is_array() || range.size() != 2) {
            *error = what + ": \"range\" is [LOW, HIGH], not " + Excerpt(range);
            return false;
        }
        if (!NumberIn(range.at(0), what + ": the range's low end", -1.0e9, 1.0e9, false, &map.low, error) ||
            !NumberIn(range.at(1), what + ": the range's high end", -1.0e9, 1.0e9, false, &map.high, error))
            return false;
    }
    double channel = 0.0;
    if (v.contains("channel") && !NumberIn(v.at("channel"), what + ": \"channel\"", 1, 16, true, &channel, error))
        return false;
    map.channel = static_cast<int>(channel);
    return true;
}

bool ReadControlMaps(const json& maps, const std::string& here, PatchModule* module, std::string* error) {
    if (!maps.is_object()) {
        *error = here + ": \"cc\" is an object of controller number (or \"bend\") to {\"pin\", \"range\"}, not " +
                 TypeName(maps);
        return false;
    }
    for (const auto& item : maps.items()) {
        ControlMap map;
        if (!ReadControlMap(item.key(), item.value(), here, &map, error)) return false;
        module->controls.push_back(map);
    }
    return true;
}

bool ReadAutomation(const json& lanes, const std::string& here, PatchModule* module, std::string* error) {
    if (!lanes.is_object()) {
        *error = here + ": \"automation\" is an object of pin name to lane, not " + TypeName(lanes);
        return false;
    }
    for (const auto& item : lanes.items()) {
        Lane lane;
        if (!ReadLane(item.key(), item.value(), here + ": automation of \"" + Excerpt(item.key()) + "\"", 1.0, &lane,
                      error))
            return false;
        module->automation.push_back(lane);
    }
    return true;
}

// "play": which pins the notes play.
bool ReadPlay(const json& play, const std::string& here, PatchModule* module, std::string* error) {
    const std::string what = here + ": \"play\"";
    if (!play.is_object()) {
        *error = what + " is an object such as {\"pitch\": \"fc\", \"gate\": \"gate\"}, not " + TypeName(play);
        return false;
    }
    if (!KnownKeys(play, {"pitch", "gate", "sync", "velocity", "part"}, what, error)) return false;
    struct Role {
        const char* key;
        std::string* pin;
    } roles[] = {{"pitch", &module->play.pitch},
                 {"gate", &module->play.gate},
                 {"sync", &module->play.sync},
                 {"velocity", &module->play.velocity},
                 {"part", &module->play.part}};
    for (const Role& role : roles)
        if (play.contains(role.key) && !Text(play, role.key, what, role.pin, error)) return false;
    return true;
}

bool ReadModule(const json& entry, const std::string& where, std::set<std::string>* names, PatchModule* module,
                std::string* error) {
    if (!entry.is_object()) {
        *error = where + ": a module is an object, not " + TypeName(entry);
        return false;
    }
    if (!KnownKeys(entry, {"name", "sep", "voices", "pins", "play", "automation", "cc"}, where, error) ||
        !Name(entry, where, names, &module->name, error) || !Text(entry, "sep", where, &module->sep, error))
        return false;
    const std::string here = where + " (" + module->name + ")";
    if (entry.contains("voices")) {
        double voices = 0.0;
        if (!NumberIn(entry.at("voices"), here + ": \"voices\"", 1, sephost::kMaxVoices, true, &voices, error))
            return false;
        module->voices = static_cast<int>(voices);
    }
    return (!entry.contains("pins") || ReadSettings(entry.at("pins"), here, module, error)) &&
           (!entry.contains("cc") || ReadControlMaps(entry.at("cc"), here, module, error)) &&
           (!entry.contains("automation") || ReadAutomation(entry.at("automation"), here, module, error)) &&
           (!entry.contains("play") || ReadPlay(entry.at("play"), here, module, error));
}

bool ReadNode(const json& entry, const std::string& where, const std::string& directory, std::set<std::string>* names,
              PatchNode* node, std::string* error) {
    if (!entry.is_object()) {
        *error = where + ": a node is an object, not " + TypeName(entry);
        return false;
    }
    std::string type;
    if (!KnownKeys(entry, {"name", "type", "gain", "file"}, where, error) ||
        !Name(entry, where, names, &node->name, error) || !Text(entry, "type", where, &type, error))
        return false;
    const NodeType types[] = {NodeType::kMultiply, NodeType::kMix, NodeType::kOutput, NodeType::kFile};
    auto found = std::find_if(std::begin(types), std::end(types), [&](NodeType t) { return type == NodeTypeName(t); });
    const std::string here = where + " (" + node->name + ")";
    if (found == std::end(types)) {
        *error = here + ": unknown type \"" + type + "\" (known: multiply, mix, output, file)";
        return false;
    }
    node->type = *found;
    if (entry.contains("gain") &&
        !NumberIn(entry.at("gain"), here + ": \"gain\"", -1000.0, 1000.0, false, &node->gain, error))
        return false;
    if ((node->type == NodeType::kFile) != entry.contains("file")) {
        *error = here + (node->type == NodeType::kFile ? ": a file node names its sound file (\"file\")"
                                                       : ": only a file node has a \"file\"");
        return false;
    }
    if (node->type == NodeType::kFile) {
        if (!Text(entry, "file", here, &node->file, error)) return false;
        if (node->file[0] != '/') node->file = directory + "/" + node->file;
    }
    return true;
}

bool ReadEndpoint(const json& v, const std::string& where, Endpoint* endpoint, std::string* error) {
    const std::string text = v.is_string() ? v.get<std::string>() : std::string();
    const size_t dot = text.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == text.size()) {
        *error = where + ": an end of a connection is \"name.pin\", not " + Excerpt(v);
        return false;
    }
    endpoint->owner = text.substr(0, dot);
    endpoint->pin = text.substr(dot + 1);
    return true;
}

template <typename T, typename ReadOne>
bool ReadList(const json& root, const char* key, const char* what, std::vector<T>* out, ReadOne read,
              std::string* error) {
    if (!root.contains(key)) return true;
    const json& list = root.at(key);
    if (!list.is_array()) {
        *error = std::string("\"") + key + "\" is a list, not " + TypeName(list);
        return false;
    }
    for (size_t i = 0; i < list.size(); ++i) {
        T item;
        if (!read(list.at(i), std::string(what) + " " + std::to_string(i + 1), &item)) return false;
        out->push_back(item);
    }
    return true;
}

// A number in one of the host's ranges (Limits.h), as the options take it.
bool InHostRange(const json& v, const char* key, const sephost::HostRange& range, double* value, std::string* error) {
    if (v.is_number() && sephost::InRange(range, v.get<double>())) {
        *value = v.get<double>();
        return true;
    }
    *error = std::string("\"") + key + "\" must be " + sephost::DescribeRange(range) + " (the host's range), not " +
             Excerpt(v);
    return false;
}

// The patch's own sample rate, block size and tail, each optional. The rate
// and the block size have the ranges of the options; the rate is a whole
// number of Hz, as the WAV file stores it.
bool ReadRunSettings(const json& root, Patch* patch, std::string* error) {
    double number = 0.0;
    sephost::HostRange whole_rate = sephost::kSampleRateRange;
    whole_rate.whole = true;
    if (root.contains("sample_rate")) {
        if (!InHostRange(root.at("sample_rate"), "sample_rate", whole_rate, &number, error)) return false;
        patch->sample_rate = number;
    }
    if (root.contains("block_size")) {
        if (!InHostRange(root.at("block_size"), "block_size", sephost::kBlockSizeRange, &number, error)) return false;
        patch->block_size = static_cast<int>(number);
    }
    return !root.contains("tail") || NumberIn(root.at("tail"), "\"tail\"", 0.0, 3600.0, false, &patch->tail, error);
}

// A score's lanes in place of the patch's own score's: the lanes a score
// added leave, the new score's join their modules.
bool ReadScoreAutomation(const json& score, const std::string& where, Patch* patch, std::string* error) {
    DropScoreAutomation(patch);
    if (!score.is_object() || !score.contains("automation")) return true;
    const json& lanes = score.at("automation");
    if (!lanes.is_object()) {
        *error = where + ": \"automation\" is an object of \"module.pin\" to lane, not " + TypeName(lanes);
        return false;
    }
    const double seconds_per_unit = ScoreSecondsPerUnit(score);
    for (const auto& item : lanes.items()) {
        const std::string what = where + ": automation of \"" + Excerpt(item.key()) + "\"";
        const size_t dot = item.key().find('.');
        const std::string name = item.key().substr(0, dot);
        const auto module = std::find_if(patch->modules.begin(), patch->modules.end(),
                                         [&](const PatchModule& m) { return m.name == name; });
        if (dot == std::string::npos || module == patch->modules.end()) {
            std::string known;
            for (const PatchModule& m : patch->modules) known += (known.empty() ? "\"" : ", \"") + m.name + "\"";
            *error = what + ": a score's lane is named \"module.pin\" after a module of the patch (" + known + ")";
            return false;
        }
        Lane lane;
        lane.from_score = true;
        if (!ReadLane(item.key().substr(dot + 1), item.value(), what, seconds_per_unit, &lane, error)) return false;
        for (const Lane& other : module->automation)
            if (other.pin == lane.pin) {
                *error = what + ": the patch has a lane for that pin already";
                return false;
            }
        module->automation.push_back(std::move(lane));
    }
    return true;
}

}  // namespace

const char* NodeTypeName(NodeType type) {
    switch (type) {
    case NodeType::kMultiply:
        return "multiply";
    case NodeType::kMix:
        return "mix";
    case NodeType::kOutput:
        return "output";
    case NodeType::kFile:
        return "file";
    }
    return "?";
}

bool ReadPatchText(const std::string& text, const std::string& path, Patch* patch, std::string* error) {
    *patch = Patch();
    patch->path = path;
    const size_t slash = path.rfind('/');
    patch->directory = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    json root;
    if (!ParseJson(text, path, &root, error)) return false;
    std::string problem;
    auto fail = [&]() {
        *error = path + ": " + problem;
        return false;
    };
    if (!root.is_object()) {
        problem = "a patch is a JSON object, not " + TypeName(root);
        return fail();
    }
    if (!KnownKeys(root, {"modules", "nodes", "connections", "score", "sample_rate", "block_size", "tail"}, "patch",
                   &problem))
        return fail();
    std::set<std::string> names;
    if (!ReadList<PatchModule>(
            root, "modules", "module", &patch->modules,
            [&](const json& e, const std::string& w, PatchModule* m) { return ReadModule(e, w, &names, m, &problem); },
            &problem) ||
        !ReadList<PatchNode>(
            root, "nodes", "node", &patch->nodes,
            [&](const json& e, const std::string& w, PatchNode* n) {
                return ReadNode(e, w, patch->directory, &names, n, &problem);
            },
            &problem) ||
        !ReadList<PatchConnection>(
            root, "connections", "connection", &patch->connections,
            [&](const json& e, const std::string& w, PatchConnection* c) {
                c->where = w;
                if (!e.is_array() || e.size() != 2) {
                    problem = w + ": a connection is [\"from.pin\", \"to.pin\"], not " + Excerpt(e);
                    return false;
                }
                return ReadEndpoint(e.at(0), w, &c->from, &problem) && ReadEndpoint(e.at(1), w, &c->to, &problem);
            },
            &problem))
        return fail();
    if (patch->modules.empty()) {
        problem = "the patch has no modules";
        return fail();
    }
    if (!ReadRunSettings(root, patch, &problem)) return fail();
    if (root.contains("score")) {
        patch->has_score = true;
        if (!ReadScoreJson(root.at("score"), path + ": score", &patch->notes, error) ||
            !ReadScoreAutomation(root.at("score"), path + ": score", patch, error))
            return false;
    }
    return true;
}

bool ReadPatchFile(const std::string& path, Patch* patch, std::string* error) {
    std::string text;
    return ReadTextFile(path, &text, error) && ReadPatchText(text, path, patch, error);
}

void DropScoreAutomation(Patch* patch) {
    for (PatchModule& module : patch->modules)
        module.automation.erase(std::remove_if(module.automation.begin(), module.automation.end(),
                                               [](const Lane& lane) { return lane.from_score; }),
                                module.automation.end());
}

bool ReplaceScore(const std::string& path, Patch* patch, std::vector<Note>* notes, std::string* error) {
    std::string text;
    json score;
    return ReadTextFile(path, &text, error) && ParseJson(text, path, &score, error) &&
           ReadScoreJson(score, path, notes, error) && ReadScoreAutomation(score, path, patch, error);
}

bool ReplaceInputFile(Patch* patch, const std::string& node, const std::string& file, std::string* error) {
    std::vector<std::string> files;
    for (PatchNode& n : patch->nodes) {
        if (n.type != NodeType::kFile) continue;
        if (n.name == node) {
            n.file = file;
            return true;
        }
        files.push_back("\"" + n.name + "\"");
    }
    std::string known;
    for (const std::string& name : files) known += (known.empty() ? "" : ", ") + name;
    *error = patch->path + ": --input " + node + "=" + file + ": the patch has no file node \"" + node + "\"" +
             (known.empty() ? std::string(" (it has none)") : " (its file nodes: " + known + ")");
    return false;
}

}  // namespace sephost::render
