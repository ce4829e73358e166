#include "JsonText.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <vector>

#include "FileAccess.h"

namespace sephost::render {

bool ReadTextFile(const std::string& path, std::string* text, std::string* error) {
    return ReadInputFile(path, text, error);
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

namespace {

// Walks the tokens of `text` before the JSON library parses it, for what
// the library would not survive or would not explain: nesting beyond
// kMaxJsonDepth (each level costs the parser and the value's destructor
// stack) and numbers beyond the range of a double, named by their key.
// Anything else malformed is left to the library's own message.
bool ScanJson(const std::string& text, const std::string& name, std::string* error) {
    std::vector<std::string> keys;  // per open level: the last key read in it ("" in a list)
    std::string last_string;
    size_t i = 0;
    auto where = [&](size_t offset) {
        size_t line = 0, column = 0;
        LineAndColumn(text, offset, &line, &column);
        return name + ":" + std::to_string(line) + ":" + std::to_string(column) + ": ";
    };
    while (i < text.size()) {
        const char c = text[i];
        if (c == '"') {
            const size_t start = ++i;
            while (i < text.size() && text[i] != '"') i += text[i] == '\\' ? 2 : 1;
            if (i >= text.size()) return true;  // unterminated: the library says so
            last_string = text.substr(start, i - start);
            ++i;
            size_t next = i;
            while (next < text.size() && std::isspace(static_cast<unsigned char>(text[next]))) ++next;
            if (next < text.size() && text[next] == ':' && !keys.empty()) keys.back() = last_string;
        } else if (c == '[' || c == '{') {
            keys.emplace_back();
            if (keys.size() > kMaxJsonDepth) {
                *error = where(i) + "the values nest deeper than " + std::to_string(kMaxJsonDepth) + " levels";
                return false;
            }
            ++i;
        } else if (c == ']' || c == '}') {
            if (!keys.empty()) keys.pop_back();
            ++i;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            const size_t start = i;
            while (i < text.size() && std::strchr("0123456789+-.eE", text[i]) != nullptr) ++i;
            const std::string number = text.substr(start, i - start);
            const double parsed = std::strtod(number.c_str(), nullptr);
            if (std::isinf(parsed)) {
                std::string key;
                for (auto it = keys.rbegin(); it != keys.rend() && key.empty(); ++it) key = *it;
                *error = where(start) + (key.empty() ? std::string("a number") : "\"" + Excerpt(key) + "\"") + ": " +
                         Excerpt(number) + " is beyond the range of numbers (about 1.8e308)";
                return false;
            }
        } else {
            ++i;
        }
    }
    return true;
}

}  // namespace

std::string Excerpt(const std::string& text, size_t most) {
    if (text.size() <= most) return text;
    size_t cut = most - 3;
    // Not inside a UTF-8 sequence.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut) + "...";
}

std::string Excerpt(const nlohmann::json& value, size_t most) {
    return Excerpt(value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), most);
}

bool ParseJson(const std::string& text, const std::string& name, nlohmann::json* value, std::string* error) {
    if (!ScanJson(text, name, error)) return false;
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
    } catch (const nlohmann::json::exception& e) {
        *error = name + ": cannot read the JSON: " + Excerpt(std::string(e.what()), 200);
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
        *error = what + " must be " + (whole ? "a whole number" : "a number") + " from " + nlohmann::json(low).dump() +
                 " to " + nlohmann::json(high).dump() + ", not " + Excerpt(v);
        return false;
    }
    *value = v.get<double>();
    return true;
}

}  // namespace sephost::render
