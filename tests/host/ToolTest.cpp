// sep-host run as a process on the built libraries: the pin tables it prints
// must be the modules' declared tables.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "RunTool.h"

namespace {

using Output = ToolOutput;

struct Row {
    const char* name;
    const char* direction;
    const char* type;
    const char* default_text;
    const char* choices;
};

// The declared pin tables, written out by hand.
const Row kUlvo[18] = {
    {"fc", "in", "float-sample", "0", "-"},
    {"fm1", "in", "float-sample", "0", "-"},
    {"N", "in", "float-sample", "0", "-"},
    {"a", "in", "float-sample", "0", "-"},
    {"gate", "in", "float-sample", "0", "-"},
    {"detune", "in", "float-sample", "0", "-"},
    {"sync", "in", "float-sample", "0", "-"},
    {"Wave", "in", "float-sample", "0", "-"},
    {"combfreq", "in", "float-sample", "0", "-"},
    {"combphase", "in", "float-sample", "0", "-"},
    {"fund", "in", "float-sample", "0", "-"},
    {"cpmode", "in", "enum", "1", "off=1,static=2,dynamic=3,wah-wah=4"},
    {"cfmode", "in", "enum", "1", "off=1,static=2,dynamic=3"},
    {"rotate", "in", "float-sample", "0", "-"},
    {"poly", "in", "enum", "8", "1=1,2=2,3=3,4=4,5=5,6=6,7=7,8=8,9=9,10=10,11=11,12=12,13=13,14=14,15=15,16=16"},
    {"incr", "in", "float-sample", "0", "-"},
    {"outputl", "out", "float-sample", "-", "-"},
    {"outputr", "out", "float-sample", "-", "-"},
};

const Row kTessarn[18] = {
    {"Gate", "in", "float-sample", "1", "-"},
    {"Attack", "in", "float-sample", "0", "-"},
    {"Hold", "in", "float-sample", "0", "-"},
    {"Decay", "in", "float-sample", "5", "-"},
    {"Sustain", "in", "float-sample", "7", "-"},
    {"Release", "in", "float-sample", "4", "-"},
    {"Overall Level", "in", "float-sample", "10", "-"},
    {"AttackForm", "in", "float-sample", "0", "-"},
    {"DecayForm", "in", "float-sample", "0", "-"},
    {"ReleaseForm", "in", "float-sample", "0", "-"},
    {"FullAttack", "in", "enum", "1", "off=0,on=1"},
    {"NoRelease", "in", "enum", "0", "off=0,on=1"},
    {"LfoAmt", "in", "float-sample", "0", "-"},
    {"LfoFreq", "in", "float-sample", "10", "-"},
    {"LfoPhase", "in", "float-sample", "10", "-"},
    {"LfoAlign", "in", "enum", "1", "off=0,normal=1,bottom mod=2,center mod=3,top mod=4"},
    {"Signal Out", "out", "float-sample", "-", "-"},
    {"dbmode", "setting", "int", "1", "-"},
};

// Splits a table line at runs of two or more spaces.
std::vector<std::string> Columns(const std::string& line) {
    std::vector<std::string> cols;
    size_t i = 0;
    while (i < line.size()) {
        size_t gap = line.find("  ", i);
        if (gap == std::string::npos) gap = line.size();
        cols.push_back(line.substr(i, gap - i));
        i = gap;
        while (i < line.size() && line[i] == ' ') ++i;
    }
    return cols;
}

struct Library {
    const char* path;
    const char* id;
    const char* name;
    bool name_is_id;
    const Row* rows;
};

void PrintTo(const Library& lib, std::ostream* os) { *os << lib.id; }

class SepHostInfo : public ::testing::TestWithParam<Library> {};

TEST_P(SepHostInfo, PrintsTheDescriptionAndAllEighteenPins) {
    const Library lib = GetParam();
    const Output result = RunTool(std::string("info '") + lib.path + "'");
    ASSERT_EQ(result.status, 0) << result.out;
    std::istringstream lines(result.out);
    std::string line;
    std::vector<std::vector<std::string>> table;
    bool in_table = false;
    bool saw_id = false, saw_name = false, saw_version = false;
    while (std::getline(lines, line)) {
        if (line == std::string("id:          ") + lib.id) saw_id = true;
        if (line.rfind(std::string("name:        ") + lib.name, 0) == 0) {
            saw_name = true;
            EXPECT_EQ(line.find("the id's text object") != std::string::npos, lib.name_is_id) << line;
        }
        if (line == "sdk version: 2230") saw_version = true;
        if (line.rfind("index", 0) == 0) {
            in_table = true;
            continue;
        }
        if (in_table && !line.empty()) table.push_back(Columns(line));
    }
    EXPECT_TRUE(saw_id && saw_name && saw_version) << result.out;
    ASSERT_EQ(table.size(), 18u) << result.out;
    for (size_t i = 0; i < 18; ++i) {
        const Row& row = lib.rows[i];
        const std::vector<std::string> expected = {std::to_string(i), row.name,         row.direction,
                                                   row.type,          row.default_text, row.choices};
        EXPECT_EQ(table[i], expected) << "pin " << i;
    }
}

TEST_P(SepHostInfo, JsonNamesEveryPin) {
    const Library lib = GetParam();
    const Output result = RunTool(std::string("info --json '") + lib.path + "'");
    ASSERT_EQ(result.status, 0) << result.out;
    EXPECT_NE(result.out.find(std::string("\"id\": \"") + lib.id + "\""), std::string::npos) << result.out;
    EXPECT_NE(result.out.find(std::string("\"name_is_id\": ") + (lib.name_is_id ? "true" : "false")),
              std::string::npos);
    for (int i = 0; i < 18; ++i) {
        const std::string entry = "{\"index\": " + std::to_string(i) + ", \"name\": \"" + lib.rows[i].name +
                                  "\", \"direction\": \"" + lib.rows[i].direction + "\", \"type\": \"" +
                                  lib.rows[i].type + "\"";
        EXPECT_NE(result.out.find(entry), std::string::npos) << entry;
    }
}

TEST_P(SepHostInfo, ValidateRunsCleanly) {
    const Library lib = GetParam();
    const Output result = RunTool(std::string("validate --voices 3 --block 128 --samples 2000 '") + lib.path + "'");
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_NE(result.out.find("breaches:       0"), std::string::npos) << result.out;
}

TEST_P(SepHostInfo, ValidateTracesEveryCallback) {
    const Library lib = GetParam();
    const Output result = RunTool(std::string("validate --trace --samples 100 '") + lib.path + "'");
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_NE(result.out.find("clock 0  instance 0  SE_CB_PIN_COUNT  index 0  value 0  ptr 0  -> 18\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("SE_CB_PROCESS_CHANGED"), std::string::npos) << result.out;
}

INSTANTIATE_TEST_SUITE_P(RealLibraries, SepHostInfo,
                         ::testing::Values(Library{ULVO_SEP_PATH, "ulvo", "ulvo Module", false, kUlvo},
                                           Library{TESSARN_SEP_PATH, "tessarn", "tessarn", true, kTessarn}),
                         [](const ::testing::TestParamInfo<Library>& info) { return std::string(info.param.id); });

TEST(SepHostErrors, NonLibraryMissingFileAndUsage) {
    Output result = RunTool(std::string("info '") + NOT_A_LIBRARY_PATH + "'", true);
    EXPECT_EQ(result.status, 1) << result.out;
    EXPECT_NE(result.out.find("is not a loadable module library"), std::string::npos) << result.out;
    result = RunTool("info /nonexistent/x.sep", true);
    EXPECT_EQ(result.status, 1) << result.out;
    result = RunTool(std::string("validate '") + REFUSES_SEP_PATH + "'", true);
    EXPECT_EQ(result.status, 1) << result.out;
    EXPECT_NE(result.out.find("refused"), std::string::npos) << result.out;
    EXPECT_EQ(RunTool("frobnicate").status, 2);
    EXPECT_EQ(RunTool("info --bogus x.sep").status, 2);
    EXPECT_EQ(RunTool("validate --voices 0 x.sep").status, 2);
    EXPECT_EQ(RunTool("").status, 2);
    result = RunTool("validate --help");
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("starting"), std::string::npos) << "help explains the initial announcement";
}

// Every command owns its options: it answers --help and -h with its own
// usage line and options, and refuses an unknown option and an out-of-range
// value naming the option (and its range) with the usage status.
TEST(SepHostCommands, AnswerHelpAndRefuseBadOptionsByName) {
    const struct {
        const char* command;
        const char* option;        // one of its options, named by its help
        const char* out_of_range;  // arguments with a value beyond its range
        const char* says;          // what the refusal says
    } cases[] = {
        {"info", "--json", "info x.sep --json y.sep", "unexpected argument y.sep"},  // it has no value to range
        {"validate", "--samples", "validate x.sep --samples 0",
         "--samples needs a whole number of samples from 1 to 1073741824; 0 is too small"},
        {"render", "--max-length", "render p.json -o o.wav --tail 3601",
         "--tail needs a number of seconds from 0 to 3600; 3601 is too large"},
        {"diff", "--threshold", "diff a.wav b.wav --threshold 401",
         "--threshold needs a number of dBFS from -400 to 400; 401 is too large"},
        {"check", "--call-limit", "check x.sep --level 6", "--level needs a whole number from 1 to 5; 6 is too large"},
    };
    const Output top = RunTool("--help");
    EXPECT_EQ(top.status, 0) << top.out;
    for (const auto& c : cases) {
        EXPECT_NE(top.out.find(std::string("  ") + c.command + " "), std::string::npos) << c.command << top.out;
        for (const char* help : {"--help", "-h"}) {
            const Output result = RunTool(std::string(c.command) + " " + help, true);
            EXPECT_EQ(result.status, 0) << c.command << " " << help << "\n" << result.out;
            EXPECT_NE(result.out.find(std::string("Usage: sep-host ") + c.command + " [OPTIONS]"), std::string::npos)
                << c.command << "\n"
                << result.out;
            EXPECT_NE(result.out.find(c.option), std::string::npos) << c.command << "\n" << result.out;
        }
        // The unknown option after arguments that are otherwise complete.
        const std::string complete = std::string(c.out_of_range).substr(0, std::string(c.out_of_range).rfind(" --"));
        Output result = RunTool(complete + " --no-such-option", true);
        EXPECT_EQ(result.status, 2) << c.command << "\n" << result.out;
        EXPECT_NE(result.out.find("unknown option --no-such-option"), std::string::npos) << result.out;
        EXPECT_NE(result.out.find(std::string("Usage: sep-host ") + c.command), std::string::npos) << result.out;
        result = RunTool(c.out_of_range, true);
        EXPECT_EQ(result.status, 2) << c.out_of_range << "\n" << result.out;
        EXPECT_NE(result.out.find(c.says), std::string::npos) << c.out_of_range << "\n" << result.out;
    }
}

TEST(SepHostValidate, ReportsEachOutputsValuesAndFailsOnNanOrInfinity) {
    const Output bad = RunTool(std::string("validate --samples 100 '") + BAD_VALUES_SEP_PATH + "'");
    EXPECT_EQ(bad.status, 1) << bad.out;
    const char* lines[] = {
        "  instance 0 pin 0 \"nan\": 90 NaN (first at clock 10), no infinite, no subnormal  FAILED\n",
        "  instance 0 pin 1 \"infinite\": no NaN, 90 infinite (first at clock 10), no subnormal  FAILED\n",
        "  instance 0 pin 2 \"subnormal\": no NaN, no infinite, 90 subnormal (first at clock 10)\n",
        "  instance 0 pin 3 \"clean\": no NaN, no infinite, no subnormal\n",
    };
    for (const char* line : lines) EXPECT_NE(bad.out.find(line), std::string::npos) << line << bad.out;

    const Output clean = RunTool(std::string("validate --voices 2 --samples 500 '") + ULVO_SEP_PATH + "'");
    EXPECT_EQ(clean.status, 0) << clean.out;
    EXPECT_NE(clean.out.find("outputs:        4\n"), std::string::npos) << clean.out;
    EXPECT_NE(clean.out.find("  instance 1 pin 17 \"outputr\": no NaN, no infinite, no subnormal\n"), std::string::npos)
        << clean.out;
}

TEST(SepHostValidate, BadRunOptionsAndHugeBuffersAreClearErrors) {
    const struct {
        std::string args;
        int status;
        std::string says;
    } cases[] = {
        {"validate --block 1048577 x.sep", 2, "--block needs a whole number of samples from 1 to 1048576"},
        {"validate --voices 257 x.sep", 2, "--voices needs a whole number of voices from 1 to 256"},
        {"validate --samples 1073741825 x.sep", 2, "--samples needs a whole number of samples from 1 to 1073741824"},
        {std::string("validate --voices 256 --block 1048576 '") + TESSARN_SEP_PATH + "'", 1,
         "more than the host's limit of 256 MiB"},
    };
    for (const auto& c : cases) {
        const Output result = RunTool(c.args, true);
        EXPECT_EQ(result.status, c.status) << c.args << "\n" << result.out;
        EXPECT_NE(result.out.find(c.says), std::string::npos) << c.args << "\n" << result.out;
    }
}

}  // namespace

namespace {

// --set gives a pin its value before open, as a patch's "pins" does: ulvo's
// gate at its default 0 keeps the oscillator silent and announcing nothing;
// raised to 10 V it plays and announces its streaming outputs.
TEST(SepHostValidateSet, SetsPinsAsAPatchDoesAndRefusesWhatDoesNotFit) {
    const std::string ulvo = std::string(" '") + ULVO_SEP_PATH + "'";
    const std::string tessarn = std::string(" '") + TESSARN_SEP_PATH + "'";
    const Output silent = RunTool("validate --samples 4096" + ulvo);
    ASSERT_EQ(silent.status, 0) << silent.out;
    EXPECT_NE(silent.out.find("statuses sent:  0\n"), std::string::npos) << silent.out;
    const Output playing =
        RunTool("validate --samples 4096 --set gate=10 --set a=8 --set cpmode=wah-wah --set poly=3" + ulvo);
    ASSERT_EQ(playing.status, 0) << playing.out;
    EXPECT_EQ(playing.out.find("statuses sent:  0\n"), std::string::npos) << playing.out;

    struct Refused {
        std::string args;
        int status;
        const char* says;
    } refused[] = {
        {"--set gate" + ulvo, 2, "--set needs PIN=VALUE"},
        {"--set =1" + ulvo, 2, "--set needs PIN=VALUE"},
        {"--set nosuch=1" + ulvo, 1, "--set: no pin \"nosuch\" (pins: \"fc\", \"fm1\""},
        {"--set outputl=1" + ulvo, 1, "--set: pin \"outputl\" is an output; it cannot be set"},
        {"--set cpmode=loud" + ulvo, 1,
         "\"loud\" is not one of its choices (\"off\", \"static\", \"dynamic\", \"wah-wah\")"},
        {"--set fc=high" + ulvo, 1, "--set: pin \"fc\" takes volts (a number), not \"high\""},
        {"--set dbmode=0.5" + tessarn, 1, "--set: pin \"dbmode\" takes a whole number, not 0.5"},
    };
    for (const Refused& r : refused) {
        const Output run = RunTool("validate --samples 64 " + r.args, true);
        EXPECT_EQ(run.status, r.status) << r.args << "\n" << run.out;
        EXPECT_NE(run.out.find(r.says), std::string::npos) << r.args << "\n" << run.out;
    }
    const Output level = RunTool("validate --samples 64 --set dbmode=0 --set FullAttack=off --set Gate=0" + tessarn);
    EXPECT_EQ(level.status, 0) << level.out;
}

}  // namespace
