// Choice lists and default texts as declared by modules.
#include <gtest/gtest.h>

#include "SepHost.h"

namespace {

TEST(ParseChoices, ReadsLabelsAndValuesInOrder) {
    std::vector<sephost::Choice> choices;
    std::string error;
    ASSERT_TRUE(sephost::ParseChoices("off=0,normal=1,bottom mod=2,center mod=3,top mod=4", &choices, &error)) << error;
    ASSERT_EQ(choices.size(), 5u);
    const char* labels[] = {"off", "normal", "bottom mod", "center mod", "top mod"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(choices[i].label, labels[i]);
        EXPECT_EQ(choices[i].value, i);
    }
    // The value is the number after '=', not the position.
    ASSERT_TRUE(sephost::ParseChoices("off=1,static=2,dynamic=3,wah-wah=4", &choices, &error)) << error;
    EXPECT_EQ(choices[3].label, "wah-wah");
    EXPECT_EQ(choices[3].value, 4);
    ASSERT_TRUE(sephost::ParseChoices("down=-5,16=16", &choices, &error)) << error;
    EXPECT_EQ(choices[0].value, -5);
    EXPECT_EQ(choices[1].label, "16");
}

TEST(ParseChoices, EmptyOrNullTextIsAnEmptyList) {
    std::vector<sephost::Choice> choices = {{"stale", 1}};
    std::string error;
    EXPECT_TRUE(sephost::ParseChoices("", &choices, &error));
    EXPECT_TRUE(choices.empty());
    EXPECT_TRUE(sephost::ParseChoices(nullptr, &choices, &error));
    EXPECT_TRUE(choices.empty());
}

TEST(ParseChoices, MalformedEntriesAreErrors) {
    for (const char* text :
         {"off", "off=", "=1", "off=x", "off=1,,on=2", "off=1,", "off=1.5", "off= 1", "big=99999999999", "a=1,b"}) {
        std::vector<sephost::Choice> choices;
        std::string error;
        EXPECT_FALSE(sephost::ParseChoices(text, &choices, &error)) << "text \"" << text << "\"";
        EXPECT_FALSE(error.empty()) << "text \"" << text << "\"";
        EXPECT_TRUE(choices.empty()) << "text \"" << text << "\"";
    }
}

TEST(DefaultTexts, SamplePinsReadVoltsOverTen) {
    const struct {
        const char* text;
        float value;
    } cases[] = {{"10", 1.0f}, {"5", 0.5f}, {"0", 0.0f}, {"-20", -2.0f}, {"7", 0.7f}, {"2.5", 0.25f}};
    for (const auto& c : cases)
        EXPECT_NEAR(sephost::DefaultSampleValue(c.text), c.value, 1e-7f) << "text \"" << c.text << "\"";
    for (const char* bad : {"", "abc", "10x", "1e400", "nan"})
        EXPECT_EQ(sephost::DefaultSampleValue(bad), 0.0f) << "text \"" << bad << "\"";
    EXPECT_EQ(sephost::DefaultSampleValue(nullptr), 0.0f);
}

TEST(DefaultTexts, ListAndIntPinsReadTheInteger) {
    EXPECT_EQ(sephost::DefaultIntegerValue("8"), 8);
    EXPECT_EQ(sephost::DefaultIntegerValue("-3"), -3);
    EXPECT_EQ(sephost::DefaultIntegerValue("1"), 1);
    for (const char* bad : {"", "x", "3.5", "2 ", "99999999999"})
        EXPECT_EQ(sephost::DefaultIntegerValue(bad), 0) << "text \"" << bad << "\"";
    EXPECT_EQ(sephost::DefaultIntegerValue(nullptr), 0);
}

TEST(Names, DirectionsAndTypes) {
    EXPECT_STREQ(sephost::DirectionName(DR_IN), "in");
    EXPECT_STREQ(sephost::DirectionName(DR_OUT), "out");
    EXPECT_STREQ(sephost::DirectionName(DR_SETTING), "setting");
    EXPECT_STREQ(sephost::DirectionName(7), "7");
    EXPECT_STREQ(sephost::DatatypeName(DT_ENUM), "enum");
    EXPECT_STREQ(sephost::DatatypeName(DT_FSAMPLE), "float-sample");
    EXPECT_STREQ(sephost::DatatypeName(DT_INT), "int");
    EXPECT_STREQ(sephost::DatatypeName(3), "3");
}

}  // namespace
