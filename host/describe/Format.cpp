// Descriptions and callback records as text and JSON.
#include <algorithm>
#include <cstdio>
#include <sstream>

#include "Description.h"
#include "Engine.h"
#include "JsonString.h"

namespace sephost {

std::string FormatDescriptionText(const ModuleDescription& d) {
    std::ostringstream out;
    out << "id:          " << d.id << "\n";
    out << "name:        " << d.name << (d.name_is_id ? "  (the id's text object)" : "") << "\n";
    out << "about:       " << d.about << "\n";
    out << "sdk version: " << d.sdk_version << "\n";
    out << "pins:        " << d.pins.size() << "\n\n";

    std::vector<std::vector<std::string>> rows;
    rows.push_back({"index", "name", "direction", "type", "default", "choices"});
    for (size_t i = 0; i < d.pins.size(); ++i) {
        const PinDescription& p = d.pins[i];
        rows.push_back({std::to_string(i), p.name, DirectionName(p.direction), DatatypeName(p.datatype),
                        p.has_default ? p.default_text : "-", p.has_choices ? p.choices_text : "-"});
    }
    std::vector<size_t> width(rows[0].size(), 0);
    for (const auto& row : rows)
        for (size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
    for (const auto& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size()) line += std::string(width[c] - row[c].size() + 2, ' ');
        }
        out << line << "\n";
    }
    return out.str();
}

std::string FormatDescriptionJson(const ModuleDescription& d) {
    std::ostringstream out;
    out << "{\n";
    out << "  \"id\": " << JsonString(d.id) << ",\n";
    out << "  \"name\": " << JsonString(d.name) << ",\n";
    out << "  \"about\": " << JsonString(d.about) << ",\n";
    out << "  \"name_is_id\": " << (d.name_is_id ? "true" : "false") << ",\n";
    out << "  \"sdk_version\": " << d.sdk_version << ",\n";
    out << "  \"pins\": [";
    for (size_t i = 0; i < d.pins.size(); ++i) {
        const PinDescription& p = d.pins[i];
        out << (i == 0 ? "\n" : ",\n");
        out << "    {\"index\": " << i << ", \"name\": " << JsonString(p.name)
            << ", \"direction\": " << JsonString(DirectionName(p.direction))
            << ", \"type\": " << JsonString(DatatypeName(p.datatype)) << ", \"flags\": " << p.flags
            << ", \"default\": " << (p.has_default ? JsonString(p.default_text) : std::string("null"));
        out << ", \"choices_text\": " << (p.has_choices ? JsonString(p.choices_text) : std::string("null"))
            << ", \"choices\": ";
        if (!p.has_choices) {
            out << "null";
        } else {
            out << "[";
            for (size_t c = 0; c < p.choices.size(); ++c)
                out << (c == 0 ? "" : ", ") << "{\"label\": " << JsonString(p.choices[c].label)
                    << ", \"value\": " << p.choices[c].value << "}";
            out << "]";
        }
        out << "}";
    }
    out << (d.pins.empty() ? "]\n" : "\n  ]\n") << "}\n";
    return out.str();
}

std::string FormatCallback(const CallbackRecord& r) {
    const char* name = CallbackName(r.opcode);
    std::string opcode = name != nullptr ? name : "opcode " + std::to_string(r.opcode);
    char line[256];
    std::snprintf(line, sizeof line, "clock %u  instance %d  %s  index %d  value %d  ptr %lu  -> %d",
                  static_cast<unsigned>(r.clock), r.instance, opcode.c_str(), static_cast<int>(r.index),
                  static_cast<int>(r.value), static_cast<unsigned long>(r.ptr), static_cast<int>(r.result));
    return line;
}

}  // namespace sephost
