// The platform-neutral half of the child-run layer: verdicts and reading
// what a child wrote.
#include "ChildRun.h"

namespace sepcheck {

Verdict Pass(const std::string& detail) { return {true, detail}; }
Verdict Fail(const std::string& detail) { return {false, detail}; }
Verdict Skip(const std::string& why) { return {false, why, true}; }
Verdict Report(const std::string& measurement) { return {false, measurement, false, true}; }

std::string LineWith(const std::string& text, const std::string& needle) {
    const size_t at = text.find(needle);
    if (at == std::string::npos) return "";
    const size_t begin = text.rfind('\n', at);
    const size_t end = text.find('\n', at);
    return text.substr(begin == std::string::npos ? 0 : begin + 1,
                       (end == std::string::npos ? text.size() : end) - (begin == std::string::npos ? 0 : begin + 1));
}

}  // namespace sepcheck
