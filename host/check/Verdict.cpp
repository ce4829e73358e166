// The platform-neutral half of the child-run layer: verdicts and reading
// what a child wrote.
#include "ChildRun.h"

namespace sepcheck {

namespace {

Verdict Make(bool passed, const std::string& detail, bool skipped = false, bool report = false) {
    Verdict verdict;
    verdict.passed = passed;
    verdict.detail = detail;
    verdict.skipped = skipped;
    verdict.report = report;
    return verdict;
}

}  // namespace

Verdict Pass(const std::string& detail) { return Make(true, detail); }
Verdict Fail(const std::string& detail) { return Make(false, detail); }
Verdict Fail(const std::string& detail, const std::vector<std::pair<std::string, float>>& inputs) {
    Verdict verdict = Make(false, detail);
    verdict.inputs = inputs;
    return verdict;
}
Verdict Skip(const std::string& why) { return Make(false, why, true); }
Verdict Report(const std::string& measurement) { return Make(false, measurement, false, true); }

std::string LineWith(const std::string& text, const std::string& needle) {
    const size_t at = text.find(needle);
    if (at == std::string::npos) return "";
    const size_t begin = text.rfind('\n', at);
    const size_t end = text.find('\n', at);
    return text.substr(begin == std::string::npos ? 0 : begin + 1,
                       (end == std::string::npos ? text.size() : end) - (begin == std::string::npos ? 0 : begin + 1));
}

}  // namespace sepcheck
