// Choice lists and default texts as declared by modules, and the walk of
// the declarations.
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

// What every host-side reader (engine, check host, bench rig) starts a pin
// at: the integer reading is the strict one, so "3.7" or "1e2" give 0.
TEST(DefaultTexts, PinStartValuesByTypeAndDirection) {
    const struct {
        int32_t datatype;
        int32_t direction;
        const char* text;
        float sample;
        int32_t integer;
    } cases[] = {
        {DT_FSAMPLE, DR_IN, "10", 1.0f, 0},    {DT_FSAMPLE, DR_SETTING, "-5", -0.5f, 0},
        {DT_FSAMPLE, DR_OUT, "10", 0.0f, 0},   {DT_ENUM, DR_IN, "4", 0.0f, 4},
        {DT_INT, DR_SETTING, "1", 0.0f, 1},    {DT_INT, DR_SETTING, "3.7", 0.0f, 0},
        {DT_ENUM, DR_IN, "1e2", 0.0f, 0},      {DT_INT, DR_IN, "99999999999", 0.0f, 0},
        {DT_FSAMPLE, DR_IN, "1e400", 0.0f, 0}, {DT_ENUM, DR_IN, nullptr, 0.0f, 0},
    };
    for (const auto& c : cases) {
        SEPinProperties properties = {};
        properties.datatype = c.datatype;
        properties.direction = c.direction;
        properties.default_text = c.text;
        const sephost::PinStart start = sephost::StartValues(properties);
        const std::string shown = std::string(c.text != nullptr ? c.text : "(null)") + " type " +
                                  std::to_string(c.datatype) + " direction " + std::to_string(c.direction);
        EXPECT_NEAR(start.sample, c.sample, 1e-7f) << shown;
        EXPECT_EQ(start.integer, c.integer) << shown;
    }
}

// A stand-in module answering `count` declarations (every third one
// UI-only), or never refusing when count is negative.
struct DeclaringModule {
    int32_t count;
    std::vector<int32_t> asked;
    bool Answer(int32_t declaration, SEPinProperties* properties) {
        asked.push_back(declaration);
        if (count >= 0 && declaration >= count) return false;
        EXPECT_EQ(properties->flags, 0) << "declaration " << declaration << " asked into a record not cleared";
        properties->flags = declaration % 3 == 2 ? IO_UI_COMMUNICATION : 0;
        properties->datatype = DT_FSAMPLE;
        return true;
    }
};

TEST(DeclarationWalk, PinsSkipUiOnlyAndTheTableIsBounded) {
    for (int32_t count : {0, 1, 7, -1}) {
        DeclaringModule module = {count, {}};
        std::vector<int32_t> pins;
        const int32_t read = sephost::WalkDeclarations(
            [&module](int32_t d, SEPinProperties* p) { return module.Answer(d, p); },
            [&pins](int32_t declaration, int32_t pin, const SEPinProperties& properties) {
                EXPECT_EQ(pin < 0, SEIsUiOnly(properties.flags)) << "declaration " << declaration;
                if (pin >= 0) pins.push_back(declaration);
            });
        const int32_t expected = count >= 0 ? count : sephost::kMaxDeclarations;
        EXPECT_EQ(read, expected) << "count " << count;
        // Asked 0, 1, ... once each, and one refusal past the end of a table.
        ASSERT_EQ(module.asked.size(), size_t(count >= 0 ? count + 1 : expected)) << "count " << count;
        for (size_t k = 0; k < module.asked.size(); ++k) EXPECT_EQ(module.asked[k], int32_t(k));
        // Pins are numbered densely over the declarations that get one.
        ASSERT_EQ(pins.size(), size_t(expected - expected / 3)) << "count " << count;
        for (size_t k = 0; k < pins.size(); ++k) EXPECT_NE(pins[k] % 3, 2);
    }
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
