// The MIDI file reader on files built byte by byte: well-formed ones give
// their notes, malformed ones an error with the byte offset of the fault,
// sloppy ones their notes with warnings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Score.h"

namespace {

using sephost::render::Note;
using sephost::render::ReadMidiBytes;

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out += static_cast<char>(v);
    return out;
}

std::string Big32(size_t value) {
    return Bytes({static_cast<int>(value >> 24 & 0xFF), static_cast<int>(value >> 16 & 0xFF),
                  static_cast<int>(value >> 8 & 0xFF), static_cast<int>(value & 0xFF)});
}

std::string Header(int format, int tracks, int division) {
    return "MThd" + Big32(6) + Bytes({0, format, tracks >> 8, tracks & 0xFF, division >> 8, division & 0xFF});
}

std::string Chunk(const char* type, const std::string& data) { return type + Big32(data.size()) + data; }
std::string Track(const std::string& events) { return Chunk("MTrk", events); }

const std::string kEnd = Bytes({0x00, 0xFF, 0x2F, 0x00});
// C4 on at 0, off at tick 96 (one beat: 0.5 s at the default 120 bpm).
const std::string kNote = Bytes({0x00, 0x90, 60, 100, 0x60, 0x80, 60, 0});

struct Case {
    const char* name;
    std::string file;
    size_t notes;         // when read
    const char* error;    // part of the error, or null when the file is read
    const char* warning;  // part of the one warning expected, or null for none
};

class MidiFiles : public ::testing::TestWithParam<Case> {};

TEST_P(MidiFiles, ReadOrRefusedWithTheOffset) {
    const Case& c = GetParam();
    for (int run = 0; run < 2; ++run) {  // the same file, the same answer
        std::vector<Note> notes;
        std::vector<std::string> warnings;
        std::string error;
        const bool read = ReadMidiBytes(c.file, "f.mid", &notes, &warnings, &error);
        if (c.error != nullptr) {
            EXPECT_FALSE(read);
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            EXPECT_EQ(error.rfind("f.mid: at byte ", 0), 0u) << error;
            continue;
        }
        ASSERT_TRUE(read) << error;
        EXPECT_EQ(notes.size(), c.notes);
        if (c.warning == nullptr) {
            EXPECT_TRUE(warnings.empty()) << warnings.front();
        } else {
            ASSERT_EQ(warnings.size(), 1u);
            EXPECT_NE(warnings[0].find(c.warning), std::string::npos) << warnings[0];
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, MidiFiles,
    ::testing::Values(
        Case{"Format0", Header(0, 1, 96) + Track(kNote + kEnd), 1, nullptr, nullptr},
        Case{"Format1EveryTrack",
             Header(1, 3, 96) + Track(Bytes({0, 0xFF, 0x51, 3, 0x07, 0xA1, 0x20}) + kEnd) + Track(kNote + kEnd) +
                 Track(Bytes({0x00, 0x95, 64, 90, 0x10, 0x85, 64, 0}) + kEnd),
             2, nullptr, nullptr},
        Case{"RunningStatus",
             Header(0, 1, 96) + Track(Bytes({0, 0x90, 60, 100, 0, 64, 100, 0x60, 60, 0, 0, 64, 0}) + kEnd), 2, nullptr,
             nullptr},
        Case{"SysExBothForms",
             Header(0, 1, 96) + Track(Bytes({0, 0xF0, 3, 1, 2, 0xF7, 0, 0xF7, 2, 0xF8, 0xF7}) + kNote + kEnd), 1,
             nullptr, nullptr},
        Case{"UnknownChunkSkipped", Header(0, 1, 96) + Chunk("XYZW", "abc") + Track(kNote + kEnd), 1, nullptr, nullptr},
        Case{"MissingEndOfTrack", Header(0, 1, 96) + Track(kNote), 1, nullptr, "no end-of-track event"},
        Case{"RunningStatusAfterMeta",
             Header(0, 1, 96) + Track(Bytes({0, 0x90, 60, 100, 0, 0xFF, 1, 1, 'x', 0x60, 60, 0}) + kEnd), 1, nullptr,
             "running status continued after a meta or SysEx event"},
        Case{"FewerTracksThanAnnounced", Header(1, 2, 96) + Track(kNote + kEnd), 1, nullptr, "announces 2 tracks"},
        Case{"NotMidi", "RIFF" + std::string(20, '\0'), 0, "at byte 0: not a Standard MIDI File", nullptr},
        Case{"Smpte", Header(0, 1, 0xE728) + Track(kNote + kEnd), 0, "at byte 12: the times are SMPTE frames", nullptr},
        Case{"ZeroTracks", Header(1, 0, 96), 0, "at byte 14: the file holds no track", nullptr},
        Case{"OnlyUnknownChunk", Header(0, 1, 96) + Chunk("XYZW", "abc"), 0, "holds no track", nullptr},
        Case{"TrackBeyondTheFile", Header(0, 1, 96) + "MTrk" + Big32(0x7FFFFFF0) + kNote + kEnd, 0,
             "at byte 18: a chunk of 2147483632 bytes, but only 12 follow", nullptr},
        Case{"RunningStatusWithoutStatus", Header(0, 1, 96) + Track(Bytes({0, 60, 100}) + kEnd), 0,
             "at byte 23: track 1: a data byte (running status) with no status byte", nullptr},
        Case{"StrayF4", Header(0, 1, 96) + Track(Bytes({0, 0x90, 60, 100, 0, 0xF4, 0, 0x90, 62, 100}) + kEnd), 0,
             "at byte 27: track 1: stray status byte F4", nullptr},
        Case{"StatusInsideMessage", Header(0, 1, 96) + Track(Bytes({0, 0x90, 60, 0x90, 62, 100}) + kEnd), 0,
             "at byte 25: track 1: status byte 90 where a data byte", nullptr},
        Case{"HugeDelta", Header(0, 1, 96) + Track(Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x90, 60, 100}) + kEnd), 0,
             "at byte 22: a delta time longer than four bytes", nullptr},
        Case{"SysExBeyondTrack", Header(0, 1, 96) + Track(Bytes({0, 0xF0, 0x7F, 1, 2})), 0,
             "at byte 23: track 1: a SysEx event of 127 bytes runs past the end of the track", nullptr},
        Case{"MetaBeyondTrack", Header(0, 1, 96) + Track(Bytes({0, 0xFF, 0x51, 0x83})), 0,
             "at byte 25: the track ends inside a meta event length", nullptr},
        Case{"CutInsideMessage", Header(0, 1, 96) + Track(Bytes({0, 0x90, 60})), 0,
             "at byte 23: track 1: the track ends inside a channel message", nullptr},
        Case{"CutAfterDelta", Header(0, 1, 96) + Track(Bytes({0x81})), 0,
             "at byte 22: the track ends inside a delta time", nullptr},
        Case{"HeaderCut", std::string("MThd") + Big32(6) + Bytes({0, 0}), 0, "at byte 0: not a Standard MIDI File",
             nullptr},
        Case{"HeaderLengthBeyondTheFile", std::string("MThd") + Big32(0xFFFFFFF0) + Bytes({0, 0, 0, 1, 0, 96}), 0,
             "at byte 4: a header length of 4294967280", nullptr},
        Case{"Format3", Header(3, 1, 96) + Track(kNote + kEnd), 0, "at byte 8: format 3", nullptr}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// Tempo changes in one track time the notes of every track, and a note
// held at the end of the file ends there.
TEST(MidiFile, TempoOfOneTrackTimesEveryTrack) {
    const std::string file = Header(1, 2, 96) +
                             Track(Bytes({0x60, 0xFF, 0x51, 3, 0x0F, 0x42, 0x40}) +
                                   Bytes({0x81, 0x40, 0xFF, 0x2F, 0})) +  // 1 s a beat from beat 1
                             Track(Bytes({0x60, 0x91, 60, 100, 0x60, 0x81, 60, 0, 0, 0x91, 62, 90}) + kEnd);
    std::vector<Note> notes;
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(ReadMidiBytes(file, "f.mid", &notes, &warnings, &error)) << error;
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_DOUBLE_EQ(notes[0].start, 0.5);
    EXPECT_DOUBLE_EQ(notes[0].length, 1.0);
    EXPECT_EQ(notes[0].part, "2");
    // Held from beat 2 to the first track's end at beat 3 (tick 96 + 192).
    EXPECT_DOUBLE_EQ(notes[1].start, 1.5);
    EXPECT_DOUBLE_EQ(notes[1].length, 1.0);
    EXPECT_EQ(notes[1].velocity, 90);
}

// Every cut of a well-formed file, and every byte of it set to each value
// of a few, is read or refused: never outside the file (the sanitizer
// build watches), always the same way twice.
TEST(MidiFile, EveryCutAndMutationEndsInAnAnswer) {
    const std::string good = Header(1, 2, 96) + Track(Bytes({0, 0xFF, 0x51, 3, 0x07, 0xA1, 0x20}) + kEnd) +
                             Track(Bytes({0, 0xF0, 2, 1, 0xF7}) + kNote + Bytes({0, 0xC0, 5}) + kEnd);
    std::vector<std::string> files;
    for (size_t cut = 0; cut < good.size(); ++cut) files.push_back(good.substr(0, cut));
    for (size_t at = 0; at < good.size(); ++at)
        for (int value : {0x00, 0x7F, 0x80, 0xF4, 0xFF}) {
            std::string mutant = good;
            mutant[at] = static_cast<char>(value);
            files.push_back(mutant);
        }
    for (const std::string& file : files) {
        std::vector<Note> first, second;
        std::vector<std::string> warnings;
        std::string error1, error2;
        const bool read1 = ReadMidiBytes(file, "f.mid", &first, &warnings, &error1);
        const bool read2 = ReadMidiBytes(file, "f.mid", &second, &warnings, &error2);
        ASSERT_EQ(read1, read2);
        ASSERT_EQ(error1, error2);
        if (!read1) {
            ASSERT_EQ(error1.rfind("f.mid: at byte ", 0), 0u) << error1;
            continue;
        }
        ASSERT_EQ(first.size(), second.size());
        for (size_t k = 0; k < first.size(); ++k) ASSERT_EQ(first[k].start, second[k].start);
    }
}

}  // namespace
