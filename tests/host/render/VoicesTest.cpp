// The host's voice assignment: which voice plays which note, when gates
// rise and fall, and what is stolen or dropped when notes outnumber voices.
#include <gtest/gtest.h>

#include "Voices.h"

namespace {

using sephost::render::Assignment;
using sephost::render::AssignVoices;
using sephost::render::Note;
using sephost::render::VoiceNote;

// At 1000 Hz a sample is a millisecond: times below are in samples.
constexpr double kRate = 1000.0;

struct Timed {
    int start, length;
};

struct Played {
    int voice;
    size_t note;
    uint32_t on, off;
};

struct Case {
    const char* name;
    int voices;
    std::vector<Timed> notes;
    std::vector<Played> expected;  // in order of the gate's rise
    size_t stolen, dropped;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class VoiceAssignment : public ::testing::TestWithParam<Case> {};

TEST_P(VoiceAssignment, GivesEachNoteAVoiceAndItsGateTimes) {
    const Case& c = GetParam();
    std::vector<Note> notes;
    for (const Timed& t : c.notes) notes.push_back({t.start / kRate, t.length / kRate, 440.0, 100, ""});
    const Assignment result = AssignVoices(notes, c.voices, kRate);
    ASSERT_EQ(result.played.size(), c.expected.size());
    for (size_t i = 0; i < c.expected.size(); ++i) {
        const VoiceNote& got = result.played[i];
        const Played& want = c.expected[i];
        EXPECT_EQ(got.voice, want.voice) << "entry " << i;
        EXPECT_EQ(got.note, want.note) << "entry " << i;
        EXPECT_EQ(got.on, want.on) << "entry " << i;
        EXPECT_EQ(got.off, want.off) << "entry " << i;
    }
    EXPECT_EQ(result.stolen, c.stolen);
    EXPECT_EQ(result.dropped, c.dropped);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VoiceAssignment,
    ::testing::Values(
        // The voice silent longest takes the next note; an unused one first.
        Case{"FreeVoicesInTurn",
             2,
             {{0, 10}, {20, 10}, {40, 10}},
             {{0, 0, 0, 10}, {1, 1, 20, 30}, {0, 2, 40, 50}},
             0,
             0},
        // Three overlapping notes on two voices: the oldest gives way one
        // sample before the newest starts.
        Case{"MoreNotesThanVoicesStealsTheOldest",
             2,
             {{0, 100}, {10, 100}, {20, 100}},
             {{0, 0, 0, 19}, {1, 1, 10, 110}, {0, 2, 20, 120}},
             1,
             0},
        // Score order does not matter, start times do.
        Case{"SortedByStart", 2, {{50, 10}, {0, 10}}, {{0, 1, 0, 10}, {1, 0, 50, 60}}, 0, 0},
        // A note that ends where the next begins, on the only voice: its gate
        // falls a sample early so the next gate can rise on time.
        Case{"BackToBackOnOneVoice", 1, {{0, 10}, {10, 10}}, {{0, 0, 0, 9}, {0, 1, 10, 20}}, 0, 0},
        // A chord larger than the voices: the extra notes take the voices of
        // notes that started at the same clock, which never sound.
        Case{"ChordLargerThanVoices", 2, {{5, 10}, {5, 10}, {5, 10}}, {{1, 1, 5, 15}, {0, 2, 5, 15}}, 0, 1},
        // However short, a note keeps its gate up for one sample.
        Case{"ShortestNoteLastsOneSample", 1, {{7, 0}}, {{0, 0, 7, 8}}, 0, 0}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
