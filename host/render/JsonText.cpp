#include "JsonText.h"

#include <cmath>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

namespace sephost::render {

bool ReadTextFile(const std::string& path, std::string* text, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": cannot open the file";
        return false;
    }
    std::ostringstream all;
    all << in.rdbuf();
    *text = all.str();
    return true;
}

void LineAndColumn(const std::string& text, size_t offset, size_t* line, size_t* column) {
    *line = 1;
    *column = 1;
    const size_t end = offset < text.size() ? offset : text.size();
    for (size_t i = 0; i < end; ++i) {
        if (text[i] == '\n') {
            ++*line;
            *column = 1;
        } else {
            ++*column;
        }
    }
}

bool ParseJson(const std::string& text, const std::string& name, nlohmann::json* value, std::string* error) {
    try {
        *value = nlohmann::json::parse(text);
        return true;
    } catch (const nlohmann::json::parse_error& e) {
        // The library counts `byte` from 1, at the character it stopped on.
        size_t line = 0, column = 0;
        LineAndColumn(text, e.byte > 0 ? e.byte - 1 : 0, &line, &column);
        // Its message reads "[json.exception.parse_error.101] parse error at
        // line L, column C: what"; keep only what it found.
        std::string what = e.what();
        const size_t colon = what.find(": ");
        if (colon != std::string::npos) what = what.substr(colon + 2);
        *error = name + ":" + std::to_string(line) + ":" + std::to_string(column) + ": JSON syntax error: " + what;
        return false;
    }
}

std::string TypeName(const nlohmann::json& value) {
    switch (value.type()) {
    case nlohmann::json::value_t::null:
        return "null";
    case nlohmann::json::value_t::boolean:
        return "a boolean";
    case nlohmann::json::value_t::string:
        return "a text";
    case nlohmann::json::value_t::array:
        return "a list";
    case nlohmann::json::value_t::object:
        return "an object";
    default:
        return "a number";
    }
}

bool NumberIn(const nlohmann::json& v, const std::string& what, double low, double high, bool whole, double* value,
              std::string* error) {
    const bool ok = v.is_number() && v.get<double>() >= low && v.get<double>() <= high &&
                    (!whole || std::floor(v.get<double>()) == v.get<double>());
    if (!ok) {
        *error = what + " must be " + (whole ? "a whole number" : "a number") + " from " +
                 nlohmann::json(low).dump() + " to " + nlohmann::json(high).dump() + ", not " + v.dump();
        return false;
    }
    *value = v.get<double>();
    return true;
}

}  // namespace sephost::render
