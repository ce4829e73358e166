// The list of checks, the run (each check in a child), and the report: text
// lines, a JSON document, JUnit XML.
#include <fcntl.h>
#include <fnmatch.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "Checks.h"
#include "Drive.h"
#include "JsonString.h"
#include "XmlString.h"

namespace sepcheck {

using sephost::XmlString;

std::mt19937 CheckContext::Random(const std::string& check_name) const {
    // FNV-1a of the name, mixed with the run's seed.
    uint32_t hash = 2166136261u;
    for (char c : check_name) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    std::seed_seq sequence = {seed, hash, static_cast<uint32_t>(level)};
    return std::mt19937(sequence);
}

std::mt19937 CheckContext::CaseRandom(const std::string& check_name, int k) const {
    uint32_t hash = 2166136261u;
    for (char c : check_name) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    std::seed_seq sequence = {seed, hash, 0x63617365u, static_cast<uint32_t>(k)};
    return std::mt19937(sequence);
}

std::vector<int> CheckContext::Cases(int first, int count, int span) const {
    std::vector<int> cases;
    if (only_case >= 0) {
        if (only_case >= first && only_case < first + span) cases.push_back(only_case);
        return cases;
    }
    for (int k = first; k < first + count; ++k) cases.push_back(k);
    return cases;
}

int CheckContext::Scaled(int n1, int n2, int n3, int n4, int n5) const {
    const int by_level[] = {n1, n2, n3, n4, n5};
    const int at = level < kLowestLevel ? 0 : level > kHighestLevel ? kHighestLevel - 1 : level - 1;
    return by_level[at];
}

std::vector<Check> AllChecks() {
    std::vector<Check> checks;
    AddBoundaryChecks(&checks);
    AddLifeCycleChecks(&checks);
    AddHostileInputChecks(&checks);
    AddHostileHostChecks(&checks);
    AddContractChecks(&checks);
    AddInvarianceChecks(&checks);
    return checks;
}

bool MatchesAny(const Check& check, const std::vector<std::string>& patterns) {
    const std::string full = std::string(check.group) + "/" + check.name;
    for (const std::string& pattern : patterns)
        if (fnmatch(pattern.c_str(), full.c_str(), 0) == 0 || fnmatch(pattern.c_str(), check.name, 0) == 0 ||
            fnmatch(pattern.c_str(), check.group, 0) == 0)
            return true;
    return false;
}

std::vector<Check> ChosenChecks(const CheckContext& context) {
    std::vector<Check> chosen;
    for (const Check& check : AllChecks())
        if ((context.only.empty() || MatchesAny(check, context.only)) && !MatchesAny(check, context.skip))
            chosen.push_back(check);
    return chosen;
}

namespace {

// A path as one word of a shell command.
std::string ShellWord(const std::string& word) {
    bool plain = !word.empty();
    for (char c : word)
        plain = plain &&
                (std::isalnum(static_cast<unsigned char>(c)) || std::string("_./+-=:,@%").find(c) != std::string::npos);
    if (plain) return word;
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The check in this process: what it did is kept as a child's would be.
ChildOutcome RunHere(const std::function<Verdict()>& body, const CheckContext& context) {
    ChildOutcome outcome;
    ProgressArea area;
    ClearProgress(&area);
    AttachProgress(&area, context.call_limit);
    const double started = Seconds();
    outcome.verdict = body();
    outcome.kind = ChildOutcome::kReported;
    outcome.seconds = Seconds() - started;
    outcome.progress = area;
    AttachProgress(nullptr, 0.0);
    if (area.depth > 0 && area.noted != 0) outcome.call = DescribeCall(area.note);
    return outcome;
}

bool Failed(const Verdict& verdict) { return !verdict.passed && !verdict.skipped && !verdict.report; }

// A file made new for a check's report ("sep-host-check-GROUP-NAME-XXXXXX.log"
// in the context's report folder), opened for writing; -1 when none can be.
int NewReportFile(const CheckContext& context, const Check& check, std::string* path) {
    std::string folder = context.report_folder;
    if (folder.empty()) {
        const char* temporary = std::getenv("TMPDIR");
        folder = temporary != nullptr && *temporary != '\0' ? temporary : "/tmp";
    }
    std::string pattern = folder + "/sep-host-check-" + check.group + "-" + check.name + "-XXXXXX.log";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkostemps(name.data(), 4, O_CLOEXEC);  // O_EXCL: never a file that was there
    if (fd >= 0) *path = name.data();
    return fd;
}

}  // namespace

std::string ReproCommand(const CheckContext& context, const CheckResult& result) {
    std::string command = "sep-host check --only " + result.group + "/" + result.name;
    if (result.case_index >= 0)
        command += " --case " + std::to_string(result.case_index);
    else if (context.level != 1)
        command += " --level " + std::to_string(context.level);
    command += " --seed " + std::to_string(context.seed);
    if (context.time_limit != CheckContext().time_limit) command += " --time-limit " + Number(context.time_limit);
    if (context.call_limit != CheckContext().call_limit) command += " --call-limit " + Number(context.call_limit);
    return command + " " + ShellWord(context.path);
}

std::vector<CheckResult> RunChecks(const CheckContext& context, const std::function<void(const CheckResult&)>& report) {
    std::vector<CheckResult> results;
    for (const Check& check : ChosenChecks(context)) {
        const auto body = [&]() {
            if (Progress() != nullptr) Progress()->call_limit = context.call_limit;
            // Only the boundary checks make sense of a table that never ends.
            if (std::string(check.group) != "boundary") {
                const std::string cut_off = DeclarationTableCutOff(context.path);
                if (!cut_off.empty()) return Skip(cut_off);
            }
            return check.run(context);
        };
        std::string log_path;
        const int log_fd = context.in_process ? -1 : NewReportFile(context, check, &log_path);
        const ChildOutcome outcome =
            context.in_process ? RunHere(body, context) : RunInChild(body, context.time_limit, log_fd);
        if (log_fd >= 0) close(log_fd);
        CheckResult result;
        result.group = check.group;
        result.name = check.name;
        result.verdict = Judge(outcome, context.time_limit, check.contract_stop_ok);
        result.seconds = outcome.seconds;
        result.case_index = outcome.progress.case_index;
        if (outcome.progress.noted != 0) {
            result.sample_rate = outcome.progress.note.sample_rate;
            result.block_size = outcome.progress.note.block_size;
        }
        result.call = outcome.call;
        if (Failed(result.verdict)) {
            result.repro = ReproCommand(context, result);
            result.report = outcome.stderr_text;
        }
        // The file made for the report stays only when it holds a failure's.
        if (!log_path.empty() && !result.report.empty()) {
            result.report_file = log_path;
        } else if (!log_path.empty()) {
            unlink(log_path.c_str());
        }
        results.push_back(result);
        if (report) report(result);
    }
    return results;
}

std::string FormatResultLine(const CheckResult& result) {
    const char* mark = result.verdict.report    ? "info"
                       : result.verdict.skipped ? "skip"
                       : result.verdict.passed  ? "pass"
                                                : "FAIL";
    std::string line = std::string(mark) + "  " + result.group + "/" + result.name;
    if (!result.verdict.detail.empty()) line += ": " + result.verdict.detail;
    if (result.repro.empty()) return line;
    if (!result.verdict.inputs.empty()) {
        line += "; inputs there:";
        for (size_t k = 0; k < result.verdict.inputs.size(); ++k)
            line += std::string(k == 0 ? " \"" : ", \"") + result.verdict.inputs[k].first +
                    "\" = " + Number(result.verdict.inputs[k].second);
    }
    // A failure: where, and the command that shows it again.
    std::string where;
    if (result.case_index >= 0) where += "case " + std::to_string(result.case_index);
    if (result.sample_rate > 0.0f) where += (where.empty() ? "" : ", ") + Number(result.sample_rate) + " Hz";
    if (result.block_size > 0)
        where += (where.empty() ? "" : ", ") + std::string("block ") + std::to_string(result.block_size);
    if (!where.empty()) line += " [" + where + "]";
    if (!result.report_file.empty()) line += "; full report: " + result.report_file;
    return line + "; run again: " + result.repro;
}

Tally Count(const std::vector<CheckResult>& results) {
    Tally t;
    for (const CheckResult& r : results)
        ++(r.verdict.report ? t.reported : r.verdict.skipped ? t.skipped : r.verdict.passed ? t.passed : t.failed);
    return t;
}

std::string FormatSummary(const std::vector<CheckResult>& results) {
    const Tally t = Count(results);
    std::string text = std::to_string(t.passed) + " passed, " + std::to_string(t.failed) + " failed";
    if (t.skipped > 0) text += ", " + std::to_string(t.skipped) + " skipped";
    if (t.reported > 0) text += ", " + std::to_string(t.reported) + " reported";
    return text;
}

namespace {

const char* State(const Verdict& v) { return v.report ? "report" : v.skipped ? "skip" : v.passed ? "pass" : "fail"; }

// The inputs in force at a failure's sample, an object of name and value
// (a value JSON cannot hold as a number, as its text); null when none.
std::string InputsJson(const std::vector<std::pair<std::string, float>>& inputs) {
    if (inputs.empty()) return "null";
    std::string json = "{";
    for (size_t k = 0; k < inputs.size(); ++k) {
        const float value = inputs[k].second;
        json += (k == 0 ? "" : ", ") + sephost::JsonString(inputs[k].first) + ": " +
                (std::isfinite(value) ? Number(value) : sephost::JsonString(Number(value)));
    }
    return json + "}";
}

}  // namespace

std::string FormatResultsJson(const CheckContext& context, const std::vector<CheckResult>& results) {
    const Tally t = Count(results);
    std::string items;
    for (const CheckResult& r : results) {
        if (!items.empty()) items += ",\n";
        items += "    {\"group\": " + sephost::JsonString(r.group) + ", \"name\": " + sephost::JsonString(r.name) +
                 ", \"result\": \"" + State(r.verdict) + "\", \"detail\": " + sephost::JsonString(r.verdict.detail) +
                 ", \"seconds\": " + Number(r.seconds) + ", \"seed\": " + std::to_string(context.seed) +
                 ", \"case\": " + (r.case_index >= 0 ? std::to_string(r.case_index) : "null") +
                 ", \"sample_rate\": " + (r.sample_rate > 0.0f ? Number(r.sample_rate) : "null") +
                 ", \"block_size\": " + (r.block_size > 0 ? std::to_string(r.block_size) : "null") +
                 ", \"call\": " + (r.call.empty() ? "null" : sephost::JsonString(r.call)) +
                 ", \"inputs\": " + InputsJson(r.verdict.inputs) +
                 ", \"repro\": " + (r.repro.empty() ? "null" : sephost::JsonString(r.repro)) +
                 ", \"report\": " + (r.report.empty() ? "null" : sephost::JsonString(r.report)) +
                 ", \"report_file\": " + (r.report_file.empty() ? "null" : sephost::JsonString(r.report_file)) + "}";
    }
    return "{\n  \"file\": " + sephost::JsonString(context.path) + ",\n  \"seed\": " + std::to_string(context.seed) +
           ",\n  \"level\": " + std::to_string(context.level) + ",\n  \"checks\": [\n" + items +
           "\n  ],\n  \"passed\": " + std::to_string(t.passed) + ",\n  \"failed\": " + std::to_string(t.failed) +
           ",\n  \"skipped\": " + std::to_string(t.skipped) + ",\n  \"reported\": " + std::to_string(t.reported) +
           "\n}\n";
}

std::string FormatResultsJunit(const CheckContext& context, const std::vector<CheckResult>& results) {
    const Tally t = Count(results);
    double seconds = 0.0;
    for (const CheckResult& r : results) seconds += r.seconds;
    const std::string counts = "tests=\"" + std::to_string(results.size()) + "\" failures=\"" +
                               std::to_string(t.failed) + "\" errors=\"0\" skipped=\"" + std::to_string(t.skipped) +
                               "\" time=\"" + Number(seconds) + "\"";
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"sep-host check\" " + counts + ">\n";
    xml += "  <testsuite name=\"" + XmlString("sep-host check " + context.path) + "\" " + counts + ">\n";
    xml += "    <properties>\n      <property name=\"file\" value=\"" + XmlString(context.path) +
           "\"/>\n      <property name=\"seed\" value=\"" + std::to_string(context.seed) +
           "\"/>\n      <property name=\"level\" value=\"" + std::to_string(context.level) +
           "\"/>\n    </properties>\n";
    for (const CheckResult& r : results) {
        xml += "    <testcase classname=\"" + XmlString(r.group) + "\" name=\"" + XmlString(r.name) + "\" time=\"" +
               Number(r.seconds) + "\"";
        if (r.verdict.passed) {
            xml += "/>\n";
            continue;
        }
        xml += ">\n";
        if (r.verdict.skipped) {
            xml += "      <skipped message=\"" + XmlString(r.verdict.detail) + "\"/>\n";
        } else if (r.verdict.report) {
            xml += "      <system-out>" + XmlString(r.verdict.detail) + "</system-out>\n";
        } else {
            std::string body = FormatResultLine(r) + "\n";
            if (!r.report.empty()) body += "\nwhat the module's process wrote:\n" + r.report;
            xml += "      <failure message=\"" + XmlString(r.verdict.detail) + "\" type=\"" +
                   XmlString(r.call.empty() ? "fail" : "fail in a call") + "\">" + XmlString(body) + "</failure>\n";
        }
        xml += "    </testcase>\n";
    }
    return xml + "  </testsuite>\n</testsuites>\n";
}

std::string FormatList() {
    std::string text;
    for (const Check& check : AllChecks()) {
        std::string name = std::string(check.group) + "/" + check.name;
        name.resize(std::max<size_t>(name.size() + 2, 42), ' ');
        text += name + check.what + "\n";
    }
    return text;
}

}  // namespace sepcheck
