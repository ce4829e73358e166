// Every JSON document sep-host prints parses, whatever bytes a module's texts
// or a file's name hold: bytes that are not UTF-8 read as U+FFFD, control
// characters, quotes and backslashes escaped, valid UTF-8 kept.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "RunTool.h"

namespace {

const std::string kBad = "\xef\xbf\xbd";  // U+FFFD

nlohmann::json Parsed(const ToolOutput& output) {
    nlohmann::json document = nlohmann::json::parse(output.out, nullptr, false);
    EXPECT_FALSE(document.is_discarded()) << output.out;
    return document;
}

TEST(JsonOutput, InfoOfAModuleWhoseTextsAreNotUtf8) {
    const ToolOutput output = RunTool(std::string("info --json '") + ODD_TEXTS_SEP_PATH + "'");
    ASSERT_EQ(output.status, 0) << output.out;
    const nlohmann::json info = Parsed(output);
    ASSERT_TRUE(info.is_object());
    EXPECT_EQ(info["id"], "odd" + kBad + "\x01id");
    EXPECT_EQ(info["name"], "na" + kBad + "(me\n");
    EXPECT_EQ(info["about"], "tab\t \"q\" \\ " + kBad + "t" + kBad + " \xf0\x9f\x8e\xb5 ok\x7f");
    ASSERT_EQ(info["pins"].size(), 3u);
    EXPECT_EQ(info["pins"][0]["name"], "in" + kBad + "\x1f");
    EXPECT_EQ(info["pins"][0]["default"], kBad + "1");
    EXPECT_EQ(info["pins"][1]["name"], "mode" + kBad);
    EXPECT_EQ(info["pins"][1]["choices_text"], "a" + kBad + "(=0,\x01q\"=1,\xc3\xa9t\xc3\xa9=2");
    EXPECT_EQ(info["pins"][1]["choices"][0]["label"], "a" + kBad + "(");
    EXPECT_EQ(info["pins"][1]["choices"][1]["label"], "\x01q\"");
    EXPECT_EQ(info["pins"][1]["choices"][2]["label"], "\xc3\xa9t\xc3\xa9");
    EXPECT_EQ(info["pins"][2]["name"], "out\t" + kBad);
}

TEST(JsonOutput, CheckOfAFileAndModuleWhoseTextsAreNotUtf8) {
    const std::string dir = std::string(HOST_TEST_SCRATCH) + "/json-output";
    ASSERT_EQ(std::system(("mkdir -p '" + dir + "'").c_str()), 0);
    const std::string path = dir + "/odd\xff.sep";
    ASSERT_EQ(std::system(("cp '" + std::string(ODD_TEXTS_SEP_PATH) + "' '" + path + "'").c_str()), 0);
    const ToolOutput output = RunTool("check --json '" + path + "'");
    EXPECT_EQ(output.status, 1);
    const nlohmann::json report = Parsed(output);
    ASSERT_TRUE(report.is_object());
    EXPECT_EQ(report["file"], dir + "/odd" + kBad + ".sep");
    bool quoted = false;
    for (const auto& check : report["checks"])
        if (check["name"] == "declarations")
            quoted = check["detail"] ==
                     "1 fault: declaration 0 \"in" + kBad + "\x1f\": default \"" + kBad + "1\" is not a number";
    EXPECT_TRUE(quoted) << output.out;
}

}  // namespace
