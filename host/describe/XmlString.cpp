#include "XmlString.h"

#include <nlohmann/json.hpp>

#include "JsonString.h"

namespace sephost {

std::string XmlString(const std::string& text) {
    const std::string utf8 = nlohmann::json::parse(JsonString(text)).get<std::string>();
    std::string out;
    for (char c : utf8) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        case '\n':
            out += "&#10;";
            break;
        case '\t':
            out += "&#9;";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20)
                out += "\xEF\xBF\xBD";
            else
                out += c;
        }
    }
    return out;
}

}  // namespace sephost
