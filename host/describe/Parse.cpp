// The texts inside declarations: choice lists and default values.
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "Description.h"

namespace sephost {

namespace {

void SetError(std::string* error, const std::string& text) {
    if (error != nullptr) *error = text;
}

}  // namespace

// Only an optional sign and decimal digits.
bool ParseInt32(const std::string& text, int32_t* value) {
    if (text.empty()) return false;
    size_t i = 0;
    if (text[0] == '-' || text[0] == '+') i = 1;
    if (i == text.size()) return false;
    for (size_t k = i; k < text.size(); ++k)
        if (text[k] < '0' || text[k] > '9') return false;
    errno = 0;
    const long long parsed = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE || parsed < INT32_MIN || parsed > INT32_MAX) return false;
    *value = static_cast<int32_t>(parsed);
    return true;
}

bool ParseChoices(const char* text, std::vector<Choice>* choices, std::string* error) {
    choices->clear();
    if (text == nullptr || *text == '\0') return true;
    const std::string all(text);
    size_t begin = 0;
    while (true) {
        const size_t comma = all.find(',', begin);
        const std::string entry = all.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin);
        // Labels may not contain '=', so the first one separates the value.
        const size_t equals = entry.find('=');
        Choice choice;
        if (equals == std::string::npos || equals == 0 || !ParseInt32(entry.substr(equals + 1), &choice.value)) {
            SetError(error, "malformed choice \"" + entry + "\" in \"" + all + "\" (expected label=integer)");
            choices->clear();
            return false;
        }
        choice.label = entry.substr(0, equals);
        choices->push_back(choice);
        if (comma == std::string::npos) break;
        begin = comma + 1;
    }
    return true;
}

float DefaultSampleValue(const char* text) {
    if (text == nullptr || *text == '\0') return 0.0f;
    char* end = nullptr;
    const double volts = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(volts)) return 0.0f;
    // Pin values are volts / 10: "10" is full scale 1.0.
    const double value = volts / 10.0;
    if (value > 3.0e38) return 3.0e38f;
    if (value < -3.0e38) return -3.0e38f;
    return static_cast<float>(value);
}

int32_t DefaultIntegerValue(const char* text) {
    int32_t value = 0;
    if (text == nullptr || !ParseInt32(text, &value)) return 0;
    return value;
}

}  // namespace sephost
