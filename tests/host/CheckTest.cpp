// sep-host check run as a process: each deliberately broken module is caught
// by the check meant for it, with a message that names the fault; a module
// that keeps the contract, and both plug-ins, pass every check.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ElfExports.h"
#include "RunTool.h"
#include "StatusRule.h"

namespace {

struct CheckRun {
    int status = -1;
    std::vector<std::string> lines;
    std::string text;
};

CheckRun ToCheckRun(const ToolOutput& output) {
    CheckRun run;
    run.status = output.status;
    run.text = output.out;
    std::istringstream stream(run.text);
    for (std::string line; std::getline(stream, line);) run.lines.push_back(line);
    return run;
}

CheckRun Check(const std::string& file, const std::string& options = "") {
    return ToCheckRun(RunTool("check " + options + " '" + file + "'", true));
}

std::vector<std::string> Lines(const CheckRun& run, const std::string& mark) {
    std::vector<std::string> found;
    for (const std::string& line : run.lines)
        if (line.rfind(mark, 0) == 0) found.push_back(line);
    return found;
}

std::vector<std::string> Failures(const CheckRun& run) { return Lines(run, "FAIL  "); }

std::string Fixture(const std::string& fault) { return std::string(BROKEN_FIXTURE_DIR) + "/broken_" + fault + ".sep"; }

TEST(Check, EachBrokenModuleIsCaughtByItsCheck) {
    struct Case {
        const char* fault;
        const char* check;     // the check meant for the fault
        const char* message;   // what its line must say (a regular expression)
        bool only_this_check;  // the fault touches nothing else
        const char* options;
    };
    const Case cases[] =
    { {"extra_export", "boundary/exports", "exports \\[debugHook, getModuleProperties, makeModule\\]", true, ""},
      {"writes_nan", "hostile-input/useful-values", "NaN.*\"out\" sample 0 is nan", false, ""},
      {"writes_subnormal", "hostile-input/useful-values", "subnormal samples; first: .*\"out\" sample 0 is 9\\.99",
       true, ""},
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's allocator hides the requests: the check skips
      {"allocates", "allocation/process-and-events", "[0-9]+ heap requests from the module in process", true, ""},
#endif
      {"past_event", "contract/module-side", "pin status on pin 1 stamped at clock [0-9]+ before the current clock",
       false, ""},
      {"hangs", "hostile-input/hostile-values", "hung: no answer within 1\\.0 s \\(killed\\)", false, "--time-limit 1"},
      {"crashes", "life-cycle/open-close-cycles",
       "crashed: SIGSEGV \\(signal 11\\)|AddressSanitizer: SEGV|store to null pointer", false, ""},
      {"null_dispatcher", "boundary/record", "dispatcher is null", false, ""},
      {"ignores_start", "invariance/block-split",
       "\"out\" sample [0-9]+ is .* with host blocks of 512 cut only at events \\(call start [0-9]+, count [0-9]+\\) "
       "but .* with "
       "host blocks of [0-9]+ cut at events and [1-4] random points \\(call start [0-9]+, count [0-9]+\\)",
       true, ""},
      {"bad_declarations", "boundary/declarations",
       "5 faults: declaration 2 has no name; declaration 3 \"in\": the name is declared twice; declaration 4 "
       "\"mode\": list \"one=1,two\" does not parse.*; declaration 5 \"level\": default \"ten\" is not a number; "
       "declaration 6 \"big\": default 1e30 is not in its list; "
       "run again: sep-host check --only boundary/declarations --seed 1 ",
       true, ""},
      {"endless_table", "boundary/declarations",
       "the declaration table does not end: opcode 6 still answered at index 4095, the host's limit of 4096 "
       "declarations, so the table was cut off there",
       true, ""},
      {"never_streams", "contract/announced-statuses",
       "session 0: instance 0 \"out\" \\(pin 1\\) changed at clock [0-9]+ from .* to .* while announced still \\(never "
       "announced\\)",
       true, ""},
#if defined(__SANITIZE_ADDRESS__)  // the sanitizer sees the touch in every check that closes the module
      {"uses_after_close", "life-cycle/use-after-close",
       "sanitizer: use after close: .*heap-use-after-free.* in dispatcher\\(SE_OP_CLOSE", false, ""},
#else
      {"uses_after_close", "life-cycle/use-after-close",
       "use after close: a [0-9]+-byte block the module freed in the close of the first clone group was written "
       "after it was freed: 4 of its bytes changed",
       true, ""},
#endif
      {"shared_state", "invariance/independent-instances",
       "\"out\" sample [0-9]+ is .* in instance [AB] beside instance [AB] .* but .* alone .*share state", true, ""},
    };
    for (const Case& c : cases) {
        const CheckRun run = Check(Fixture(c.fault), c.options);
        EXPECT_EQ(run.status, 1) << c.fault << "\n" << run.text;
        const std::vector<std::string> failed = Failures(run);
        bool caught = false;
        for (const std::string& line : failed)
            if (line.rfind(std::string("FAIL  ") + c.check + ":", 0) == 0)
                caught = std::regex_search(line, std::regex(c.message));
        EXPECT_TRUE(caught) << c.fault << " not caught by " << c.check << " as /" << c.message << "/\n" << run.text;
        if (c.only_this_check) {
            EXPECT_EQ(failed.size(), 1u) << c.fault << "\n" << run.text;
        }
        // Every check reports, whatever happened to the others.
        ASSERT_FALSE(run.lines.empty()) << c.fault;
        if (std::string(c.fault) == "endless_table") {
            // Only the boundary checks run; the rest have no pins to place.
            size_t cut_off = 0;
            for (const std::string& line : Lines(run, "skip  "))
                cut_off +=
                    line.find("(boundary/declarations), so the module has no pins to place") != std::string::npos;
            EXPECT_EQ(cut_off + 6, run.lines.size() - 2) << run.text;
        }
        const size_t passed = Lines(run, "pass  ").size();
        const size_t skipped = Lines(run, "skip  ").size();
        const size_t reported = Lines(run, "info  ").size();
        // A heading with the seed, a line per check, the summary.
        EXPECT_EQ(run.lines.front(), "check " + Fixture(c.fault) + ": seed 1, level 1");
        EXPECT_EQ(passed + failed.size() + skipped + reported, run.lines.size() - 2) << run.text;
        EXPECT_EQ(run.lines.back(), std::to_string(passed) + " passed, " + std::to_string(failed.size()) + " failed" +
                                        (skipped > 0 ? ", " + std::to_string(skipped) + " skipped" : "") +
                                        (reported > 0 ? ", " + std::to_string(reported) + " reported" : ""))
            << c.fault;
    }
}

// For a crash, a hang and a NaN, the command at the end of the failed line,
// run as printed, shows the same failure: the same line, case and call.
TEST(Check, EveryFailureRunsAgainFromItsLine) {
    struct Case {
        const char* fault;
        const char* check;
        const char* message;
    } cases[] = {
        {"crashes", "life-cycle/clone-groups",
         "crashed: SIGSEGV \\(signal 11\\) in instance 0 process\\(start 0, count [0-9]+\\) at clock "
         "0|AddressSanitizer"},
        {"hangs", "contract/module-side",
         "hung: instance 0 process\\(start 0, count [0-9]+\\) at clock 0 did not return within 0\\.5 s"},
        // A bad sample names the inputs its instance held there.
        {"writes_nan", "hostile-input/useful-values",
         "NaN.*\"out\" sample 0 is nan; inputs there: \"in\" = -?[0-9.e-]+ \\["},
        {"writes_subnormal", "hostile-input/useful-values",
         "subnormal samples; first: instance 0 \"out\" sample 0 is [0-9.e-]+; inputs there: \"in\" = -?[0-9.e-]+ \\["},
    };
    for (const Case& c : cases) {
        const CheckRun first =
            Check(Fixture(c.fault), std::string("--level 2 --seed 5 --call-limit 0.5 --only ") + c.check);
        EXPECT_EQ(first.status, 1) << first.text;
        const std::vector<std::string> failed = Failures(first);
        ASSERT_EQ(failed.size(), 1u) << first.text;
        EXPECT_TRUE(std::regex_search(failed[0], std::regex(c.message))) << failed[0];
        std::smatch repro;
        ASSERT_TRUE(std::regex_search(failed[0], repro,
                                      std::regex(std::string("\\[case [0-9]+, [0-9]+ Hz, block [0-9]+\\](?:; full "
                                                             "report: [^;]+)?; run again: sep-host (check --only ") +
                                                 c.check + " --case [0-9]+ --seed 5 --call-limit 0.5 [^ ]+)$")))
            << failed[0];
        const ToolOutput again = RunTool(repro[1].str(), true);
        EXPECT_EQ(again.status, 1) << again.out;
        // The sanitizer's report starts with the process id ("==123=="),
        // and each run keeps its report in a file of its own: all that may
        // differ between the two runs.
        const auto same = [](const std::string& text) {
            return std::regex_replace(std::regex_replace(text, std::regex("==[0-9]+=="), "==PID=="),
                                      std::regex("full report: [^;]+;"), "full report: FILE;");
        };
        EXPECT_NE(same(again.out).find("\n" + same(failed[0]) + "\n"), std::string::npos) << failed[0] << "\n"
                                                                                          << again.out;
        EXPECT_NE(again.out.find("\n0 passed, 1 failed\n"), std::string::npos) << again.out;
    }
}

TEST(Check, ListOnlySkipAndCase) {
    const ToolOutput list = RunTool("check --list");
    EXPECT_EQ(list.status, 0);
    for (const char* line : {"boundary/exports ", "life-cycle/block-sizes ", "allocation/process-and-events "})
        EXPECT_NE(("\n" + list.out).find(std::string("\n") + line), std::string::npos) << line << "\n" << list.out;

    // A name, a group pattern less one of its checks.
    const CheckRun chosen = Check(Fixture("none"), "--only exports,'hostile-host/*' --skip unwritten-buffer");
    EXPECT_EQ(chosen.status, 0) << chosen.text;
    std::vector<std::string> names;
    for (const std::string& line : chosen.lines)
        if (line.rfind("pass  ", 0) == 0) names.push_back(line.substr(6, line.find(':') - 6));
    EXPECT_EQ(names,
              (std::vector<std::string>{"boundary/exports", "hostile-host/pin-count-too-small",
                                        "hostile-host/status-for-missing-pins", "hostile-host/clocks-outside-block"}))
        << chosen.text;
    // One case of a check with numbered cases runs that case alone.
    const CheckRun one = Check(Fixture("none"), "--only open-close-cycles --case 7");
    EXPECT_NE(one.text.find("pass  life-cycle/open-close-cycles: 1 cycles"), std::string::npos) << one.text;
    EXPECT_EQ(Check(Fixture("none"), "--only no-such-check").status, 2);
    EXPECT_EQ(Check(Fixture("none"), "--case -1").status, 2);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The JUnit XML a CI server reads: well-formed and of the JUnit schema's
// structure (checked by junit_structure.py with python's XML parser), one
// test case per check, a failure carrying its line and repro command; the
// file replaced whole through a temporary one, even for a module file whose
// name is not UTF-8.
TEST(Check, JunitForCiServers) {
    if (std::system("python3 -c 'import xml.etree.ElementTree' >/dev/null 2>&1") != 0 ||
        std::system("xmllint --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "SKIPPED: python3 with xml.etree or xmllint (libxml2-utils) is not installed";
    const std::string dir = std::string(HOST_TEST_SCRATCH) + "/junit";
    ASSERT_EQ(std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()), 0);
    const std::string odd = dir + "/odd\xff & <nan>.sep";
    ASSERT_EQ(std::system(("cp '" + Fixture("writes_nan") + "' '" + odd + "'").c_str()), 0);
    const std::string xml = dir + "/check.xml";
    std::ofstream(xml) << "an older report, longer than nothing\n";

    const CheckRun run = Check(
        odd, "--seed 4 --junit '" + xml + "' --only exports,open-close-cycles,subnormal-inputs,process-and-events");
    EXPECT_EQ(run.status, 1) << run.text;
    const ToolOutput schema =
        RunShellCommand("xmllint --noout --schema '" + std::string(JUNIT_SCHEMA) + "' '" + xml + "' 2>&1");
    EXPECT_EQ(schema.status, 0) << schema.out << ReadFile(xml);
    const ToolOutput structure =
        RunShellCommand("python3 '" + std::string(JUNIT_STRUCTURE_SCRIPT) + "' '" + xml + "' 2>&1");
    EXPECT_EQ(structure.status, 0) << structure.out << ReadFile(xml);
    std::istringstream lines(structure.out);
    std::vector<std::string> cases;
    for (std::string line; std::getline(lines, line);) cases.push_back(line);
    ASSERT_EQ(cases.size(), 4u) << structure.out;
    EXPECT_EQ(cases[0], "boundary/exports passed");
    EXPECT_TRUE(std::regex_match(cases[1],
                                 std::regex("life-cycle/open-close-cycles failure FAIL  life-cycle/open-close-cycles: "
                                            "cycle 0: .* is nan .* run again: sep-host check --only "
                                            "life-cycle/open-close-cycles --case 0 --seed 4 '.*odd.*'")))
        << cases[1];
    EXPECT_EQ(cases[2], "subnormal-cost/subnormal-inputs passed");  // a report is no failure
    EXPECT_TRUE(std::regex_match(cases[3], std::regex("allocation/process-and-events (passed|skipped)"))) << cases[3];
    // Nothing but the report is left in the folder.
    EXPECT_EQ(std::system(("test $(ls -A '" + dir + "' | wc -l) -eq 2").c_str()), 0);
    // A folder is no report file: a usage error before any check runs.
    EXPECT_EQ(Check(Fixture("none"), "--junit '" + dir + "'").status, 2);
}

// The JSON document gives each result its fields besides the text.
TEST(Check, JsonFieldsOfAFailure) {
    const ToolOutput output = RunTool("check --json --seed 9 --only clone-groups,exports '" + Fixture("crashes") + "'");
    EXPECT_EQ(output.status, 1);
    const nlohmann::json report = nlohmann::json::parse(output.out, nullptr, false);
    ASSERT_TRUE(report.is_object()) << output.out;
    ASSERT_EQ(report["checks"].size(), 2u);
    const nlohmann::json& passed = report["checks"][0];
    EXPECT_EQ(passed["result"], "pass");
    EXPECT_TRUE(passed["repro"].is_null());
    const nlohmann::json& failed = report["checks"][1];
    EXPECT_EQ(failed["group"], "life-cycle");
    EXPECT_EQ(failed["name"], "clone-groups");
    EXPECT_EQ(failed["result"], "fail");
    EXPECT_EQ(failed["seed"], 9);
    EXPECT_EQ(failed["case"], 0);
    EXPECT_EQ(failed["sample_rate"], 48000);
    EXPECT_EQ(failed["block_size"], 256);
    EXPECT_TRUE(std::regex_match(failed["call"].get<std::string>(),
                                 std::regex("instance 0 process\\(start 0, count [0-9]+\\) at clock 0")))
        << failed["call"];
    EXPECT_EQ(failed["repro"], "sep-host check --only life-cycle/clone-groups --case 0 --seed 9 " + Fixture("crashes"));
    EXPECT_TRUE(failed["inputs"].is_null());  // a crash has no sample

    // A failure at a sample: the inputs in force there, by name, in the
    // JSON and on the line, the same as the text of the line.
    for (const auto& sample_fault :
         {std::make_pair("ignores_start", "block-split"), std::make_pair("writes_nan", "useful-values")}) {
        SCOPED_TRACE(sample_fault.second);
        const std::string fixture = Fixture(sample_fault.first);
        const ToolOutput json =
            RunTool(std::string("check --json --only ") + sample_fault.second + " '" + fixture + "'");
        const nlohmann::json json_report = nlohmann::json::parse(json.out, nullptr, false);
        ASSERT_TRUE(json_report.is_object()) << json.out;
        const nlohmann::json& inputs = json_report["checks"][0]["inputs"];
        ASSERT_TRUE(inputs.is_object()) << json.out;
        ASSERT_EQ(inputs.size(), 1u) << inputs;
        ASSERT_TRUE(inputs["in"].is_number()) << inputs;
        const float in = inputs["in"].get<float>();
        EXPECT_TRUE(in == 0.0f || (std::fabs(in) >= 0.01f && std::fabs(in) <= 1.0f)) << in;  // a useful value
        const CheckRun text = Check(fixture, std::string("--only ") + sample_fault.second);
        ASSERT_EQ(Failures(text).size(), 1u) << text.text;
        char value[32];
        std::snprintf(value, sizeof value, "%.9g", double(in));
        EXPECT_NE(Failures(text)[0].find("; inputs there: \"in\" = " + std::string(value) + " [case 0, "),
                  std::string::npos)
            << Failures(text)[0];
    }
}

// What a failing check's process wrote is kept whole in a file made for it
// (in $TMPDIR, or beside the JUnit file), named on the line and in the JSON;
// a check that passes leaves no file.
TEST(Check, FullReportKeptInAFileNamedOnTheLine) {
    // A folder of this test's own: the other tests' checks, run in parallel,
    // leave their reports in the shared one.
    const std::string reports = std::string(HOST_TEST_SCRATCH) + "/reports-kept";
    const auto check_here = [&](const std::string& args) {
        return RunShellCommand("mkdir -p '" + reports + "' && TMPDIR='" + reports + "' '" + SEP_HOST_PATH + "' check " +
                               args + " 2>&1");
    };
    const auto count_files = [&]() { return RunShellCommand("ls -A '" + reports + "' | wc -l").out; };
    EXPECT_EQ(check_here("--only exports,clone-groups '" + Fixture("none") + "'").status, 0);
    const std::string before = count_files();
    EXPECT_EQ(check_here("--only exports,clone-groups '" + Fixture("none") + "'").status, 0);
    EXPECT_EQ(count_files(), before) << "a passing check leaves no report file";

    const ToolOutput output =
        RunShellCommand("TMPDIR='" + reports + "' '" + SEP_HOST_PATH + "' check --json --only clone-groups '" +
                        Fixture("floods_output") + "' 2>/dev/null");
    const nlohmann::json report = nlohmann::json::parse(output.out, nullptr, false);
    ASSERT_TRUE(report.is_object()) << output.out;
    const nlohmann::json& failed = report["checks"][0];
    ASSERT_TRUE(failed["report_file"].is_string()) << failed;
    const std::string file = failed["report_file"].get<std::string>();
    EXPECT_EQ(file.rfind(reports + "/sep-host-check-life-cycle-clone-groups-", 0), 0u) << file;
    const std::string kept = ReadFile(file);
    EXPECT_EQ(kept.rfind("flood flood flood", 0), 0u);
    // All of it up to 4 MiB (the JSON holds the last 16 KiB of the stream).
    EXPECT_EQ(kept.size(), size_t(4) << 20);
    EXPECT_LT(failed["report"].get<std::string>().size(), kept.size());
    std::remove(file.c_str());
    // The text line names the file before the repro command.
    const CheckRun text = ToCheckRun(check_here("--only clone-groups '" + Fixture("floods_output") + "'"));
    std::smatch named;
    const std::vector<std::string> failures = Failures(text);
    ASSERT_EQ(failures.size(), 1u) << text.text;
    ASSERT_TRUE(std::regex_search(failures[0], named, std::regex("; full report: ([^;]+); run again: ")))
        << failures[0];
    EXPECT_EQ(ReadFile(named[1].str()).rfind("flood flood flood", 0), 0u);
    std::remove(named[1].str().c_str());
}

TEST(Check, ModulesThatKeepTheContractPass) {
    for (const std::string& file : {Fixture("none"), std::string(ULVO_SEP_PATH), std::string(TESSARN_SEP_PATH)}) {
        const CheckRun run = Check(file, "--level 2 --seed 7");
        EXPECT_EQ(run.status, 0) << file << "\n" << run.text;
        EXPECT_TRUE(Failures(run).empty()) << file << "\n" << run.text;
        ASSERT_FALSE(run.lines.empty());
        EXPECT_TRUE(std::regex_match(run.lines.back(), std::regex("2[0-3] passed, 0 failed(, 1 skipped)?, 1 reported")))
            << run.lines.back();
    }
}

TEST(Check, JsonAndUsage) {
    const CheckRun json = Check(Fixture("writes_subnormal"), "--json --seed 3");
    EXPECT_EQ(json.status, 1);
    EXPECT_NE(json.text.find("\"seed\": 3"), std::string::npos) << json.text;
    EXPECT_NE(json.text.find("\"name\": \"useful-values\", \"result\": \"fail\""), std::string::npos) << json.text;
    EXPECT_NE(json.text.find("\"failed\": 1"), std::string::npos) << json.text;
    EXPECT_EQ(json.text.find("pass  "), std::string::npos) << "no text lines in JSON mode";

    for (const char* wrong :
         {"--level 0", "--level 6", "--level 2.5", "--seed -1", "--seed x", "--time-limit 0", "--verbose"}) {
        EXPECT_EQ(Check(Fixture("none"), wrong).status, 2) << wrong;
    }
}

// The status rule held against one output (instance 0, pin 1) of a module
// with a block size of 4: announcements stamped at their clocks, samples in
// host blocks of 8 from clock 0.
TEST(Check, StatusRuleHoldsOutputsToTheirAnnouncements) {
    struct Announcement {
        uint32_t stamp;
        int32_t status;
    };
    struct Case {
        const char* what;
        std::vector<Announcement> announced;  // made before the samples are seen
        std::vector<float> samples;           // 16 samples from clock 0
        const char* still_break;              // empty: none
    };
    const std::vector<float> steady(16, 0.5f);
    std::vector<float> ramp(16);
    for (size_t j = 0; j < ramp.size(); ++j) ramp[j] = float(j);
    std::vector<float> settles = ramp;  // changes until clock 9, then holds
    for (size_t j = 9; j < settles.size(); ++j) settles[j] = 9.0f;
    const Case cases[] = {
        {"a steady output never announced", {}, steady, ""},
        {"a changing output never announced",
         {},
         ramp,
         "instance 0 \"out\" (pin 1) changed at clock 1 from 0 to 1 while announced still (never announced)"},
        {"streaming from clock 0", {{0, ST_STREAMING}}, ramp, ""},
        {"streaming from clock 3 only",
         {{3, ST_STREAMING}},
         ramp,
         "instance 0 \"out\" (pin 1) changed at clock 1 from 0 to 1 while announced still (never announced)"},
        {"changed once at 5, settled within the block size", {{0, ST_STREAMING}, {5, ST_CHANGED_ONCE}}, settles, ""},
        {"changed once at 2, still changing after the block size",
         {{0, ST_STREAMING}, {2, ST_CHANGED_ONCE}},
         settles,
         "instance 0 \"out\" (pin 1) changed at clock 7 from 6 to 7 while announced changed once at clock 2, more "
         "than a block size (4) before"},
        {"streaming, then still",
         {{0, ST_STREAMING}, {12, ST_STILL}},
         ramp,
         "instance 0 \"out\" (pin 1) changed at clock 12 from 11 to 12 while announced still"},
    };
    for (const Case& c : cases) {
        sepcheck::StatusRule rule({{{0, 1}, "out"}}, 4);
        for (const Announcement& a : c.announced) {
            sephost::CallbackRecord record;
            record.instance = 0;
            record.opcode = SE_CB_PIN_STATUS;
            record.index = 1;
            record.value = a.status;
            record.ptr = a.stamp;
            rule.OnCallback(record);
        }
        rule.OnOutputBlock({0, 1}, 0, c.samples.data(), 8);
        rule.OnOutputBlock({0, 1}, 8, c.samples.data() + 8, 8);
        EXPECT_EQ(rule.StillBreak(), c.still_break) << c.what;
        EXPECT_TRUE(rule.SleepBreak().empty()) << c.what;
    }
}

TEST(Check, ExportTableReader) {
    std::vector<std::string> names;
    std::string error;
    ASSERT_TRUE(sepcheck::ReadExportedNames(Fixture("extra_export"), &names, &error)) << error;
    EXPECT_EQ(names, (std::vector<std::string>{"debugHook", "getModuleProperties", "makeModule"}));
    ASSERT_TRUE(sepcheck::ReadExportedNames(TESSARN_SEP_PATH, &names, &error)) << error;
    EXPECT_EQ(names, (std::vector<std::string>{"getModuleProperties", "makeModule"}));
    EXPECT_FALSE(sepcheck::ReadExportedNames(NOT_A_LIBRARY_PATH, &names, &error));
    EXPECT_NE(error.find("not an ELF file"), std::string::npos) << error;
    EXPECT_FALSE(sepcheck::ReadExportedNames(std::string(NOT_A_LIBRARY_PATH) + ".missing", &names, &error));
}

}  // namespace
