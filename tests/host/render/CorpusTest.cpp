// The corpus of malformed inputs (tests/host/corpus: patches, scores, MIDI
// files) and truncated copies of a built plug-in, each given to sep-host as
// a user would: every one ends in exit 1 or 2 with a message, within the
// time limit, by no signal, with no report of the sanitizers (the
// sanitizer build runs this test too).
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "RenderToolFixture.h"

namespace {

const std::string kCorpus = std::string(SOURCE_DIR) + "/tests/host/corpus";

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The command line that feeds `file` to sep-host, or "" for a file that is
// not an input of the corpus.
std::string CommandFor(const std::string& file, const std::string& output) {
    const std::string path = "'" + kCorpus + "/" + file + "'";
    const std::string player = "'" + kCorpus + "/player.json'";
    if (EndsWith(file, ".patch.json")) return "render " + path + " --seconds 0.1 -o " + output;
    if (EndsWith(file, ".score.json")) return "render " + player + " --score " + path + " -o " + output;
    if (EndsWith(file, ".mid")) return "render " + player + " --midi " + path + " -o " + output;
    return "";
}

// `timeout` turns a hang into status 124.
ToolOutput RunBounded(const std::string& args) {
    return RunShellCommand("timeout 120 '" SEP_HOST_PATH "' " + args + " 2>&1");
}

void ExpectCleanRefusal(const std::string& what, const ToolOutput& ending) {
    SCOPED_TRACE(what);
    EXPECT_TRUE(ending.status == 1 || ending.status == 2) << "status " << ending.status << "\n" << ending.out;
    EXPECT_NE(ending.out.find("sep-host: "), std::string::npos) << "no message:\n" << ending.out;
    for (const char* report : {"AddressSanitizer", "LeakSanitizer", "runtime error:", "Aborted"})
        EXPECT_EQ(ending.out.find(report), std::string::npos) << ending.out;
}

TEST(Corpus, EveryMalformedInputEndsInAClearRefusal) {
    std::vector<std::string> files;
    if (DIR* dir = opendir(kCorpus.c_str())) {
        while (const dirent* entry = readdir(dir))
            if (!CommandFor(entry->d_name, "x").empty()) files.push_back(entry->d_name);
        closedir(dir);
    }
    std::sort(files.begin(), files.end());
    ASSERT_GE(files.size(), 40u) << "the corpus is missing";
    const std::string output = "'" + Folder() + "/out.wav'";
    for (const std::string& file : files) ExpectCleanRefusal(file, RunBounded(CommandFor(file, output)));
}

// A plug-in cut short at a few places: the loader refuses it in every
// command that loads it.
TEST(Corpus, TruncatedPluginsAreRefused) {
    const std::string whole = ReadFile(TESSARN_SEP_PATH);
    ASSERT_GT(whole.size(), 4096u);
    for (size_t cut : {size_t(0), size_t(20), size_t(64), size_t(1024), whole.size() / 2}) {
        const std::string sep = Folder() + "/cut-" + std::to_string(cut) + ".sep";
        WriteFile(sep, whole.substr(0, cut));
        const std::string patch = PatchFile("cut.json", R"({"modules": [{"name": "m", "sep": ")" + sep +
                                                            R"("}], "nodes": [{"name": "o", "type": "output"}]})");
        for (const std::string& command : {"info '" + sep + "'", "validate '" + sep + "'",
                                           "render '" + patch + "' --seconds 0.1 -o '" + Folder() + "/out.wav'"})
            ExpectCleanRefusal(command, RunBounded(command));
    }
}

}  // namespace
