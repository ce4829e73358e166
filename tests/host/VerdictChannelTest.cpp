// The framing of the verdict channel: one frame of the run's token from the
// check's own process is a verdict; anything else on the channel is
// corruption, said with what was found.
#include <gtest/gtest.h>

#include "VerdictChannel.h"

namespace {

using sepcheck::ChannelReading;

TEST(VerdictChannel, EachKindOfVerdictComesBackAsSent) {
    const std::string token = sepcheck::NewChannelToken();
    ASSERT_EQ(token.size(), 32u);
    EXPECT_NE(token, sepcheck::NewChannelToken());
    for (const sepcheck::Verdict& sent :
         {sepcheck::Pass("fine"), sepcheck::Fail("NaN on \"out\"\nsecond line SEPV 0 0 P 0\n"), sepcheck::Skip(""),
          sepcheck::Report("ratio 1.2"),
          sepcheck::Fail("differs at sample 7", {{"in", 0.25f}, {"", -1.0e30f}, {"odd \xff name", 1.0e-40f}})}) {
        const ChannelReading got = sepcheck::ReadVerdictChannel(sepcheck::FrameVerdict(token, 4242, sent), token, 4242);
        ASSERT_EQ(got.state, ChannelReading::kVerdict) << got.problem;
        EXPECT_EQ(got.verdict.passed, sent.passed);
        EXPECT_EQ(got.verdict.skipped, sent.skipped);
        EXPECT_EQ(got.verdict.report, sent.report);
        EXPECT_EQ(got.verdict.detail, sent.detail);
        EXPECT_EQ(got.verdict.inputs, sent.inputs);
    }
    EXPECT_EQ(sepcheck::ReadVerdictChannel("", token, 4242).state, ChannelReading::kEmpty);
}

TEST(VerdictChannel, AnythingButOneFrameOfThisRunIsCorruption) {
    const std::string token = "0123456789abcdef0123456789abcdef";
    const std::string frame = sepcheck::FrameVerdict(token, 77, sepcheck::Fail("NaN"));
    const struct {
        std::string bytes;
        const char* says;
    } cases[] = {
        {"1 looks fine" + frame,
         "60 bytes that are not a verdict of this run: \"1 looks fineSEPV 0123456789abcdef0123456\"..."},
        {frame + "1 looks fine", "12 bytes after the verdict: \"1 looks fine\""},
        {frame + frame, "bytes after the verdict: \"SEPV 0123"},
        {sepcheck::FrameVerdict("fedcba9876543210fedcba9876543210", 77, sepcheck::Pass()),
         "does not hold this run's token"},
        {sepcheck::FrameVerdict(token, 78, sepcheck::Pass()),
         "a verdict from process 78, not from the check's own (77)"},
        {frame.substr(0, frame.size() - 1), "a verdict cut short: 2 bytes of its 3 bytes"},
        {"SEPV " + token + " 77 X 0\n", "that are not a verdict of this run"},
        {"SEPV " + token + " 77 P 99999999999999999999\n", "that are not a verdict of this run"},
        {std::string("\x01\xff\n", 3), "3 bytes that are not a verdict of this run: \"\\x01\\xff\\x0a\""},
    };
    for (const auto& c : cases) {
        const ChannelReading got = sepcheck::ReadVerdictChannel(c.bytes, token, 77);
        EXPECT_EQ(got.state, ChannelReading::kCorrupted) << c.says;
        EXPECT_NE(got.problem.find(c.says), std::string::npos) << got.problem << "\nexpected: " << c.says;
    }
}

}  // namespace
