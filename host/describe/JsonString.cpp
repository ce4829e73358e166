#include "JsonString.h"

#include <nlohmann/json.hpp>

namespace sephost {

std::string JsonString(const std::string& text) {
    return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace sephost
