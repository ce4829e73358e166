// Standard MIDI Files, read by the host itself on every platform: the
// header, each track's events with running status, SysEx in both forms
// (F0 and F7) and meta events, tempo changes applied across tracks. Every
// read is checked against the end of the file; a malformed file is refused
// with the byte offset of the fault, a sloppy but readable one is read with
// warnings.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>

#include "FileAccess.h"
#include "Score.h"

namespace sephost::render {

namespace {

// One event of one track: a channel message (status 0x80 to 0xEF with its
// data bytes), a tempo change, or something that only takes time (meta,
// SysEx, a channel message of one data byte).
struct MidiEvent {
    uint64_t tick = 0;
    enum Kind { kChannel, kTempo, kOther } kind = kOther;
    uint8_t status = 0;
    uint8_t data[2] = {0, 0};
    uint32_t tempo = 0;  // microseconds per quarter note
};

// The longest delta time a file may hold: four bytes of seven bits.
constexpr uint32_t kMaxDelta = 0x0FFFFFFF;

class MidiReader {
public:
    MidiReader(const std::string& bytes, std::vector<std::string>* warnings)
        : m_bytes(reinterpret_cast<const uint8_t*>(bytes.data())), m_size(bytes.size()), m_warnings(warnings) {}

    bool Read(std::vector<MidiEvent>* events, uint16_t* division, std::string* error);

private:
    bool Fail(size_t at, const std::string& what) {
        m_error = "at byte " + std::to_string(at) + ": " + what;
        return false;
    }
    void Warn(size_t at, const std::string& what) {
        m_warnings->push_back("at byte " + std::to_string(at) + ": " + what);
    }
    uint32_t Big(size_t at, int count) const {
        uint32_t value = 0;
        for (int k = 0; k < count; ++k) value = value << 8 | m_bytes[at + static_cast<size_t>(k)];
        return value;
    }
    // A variable-length number at `*at`, within `end`.
    bool Variable(size_t* at, size_t end, const char* what, uint32_t* value);
    bool ReadTrack(size_t start, size_t end, int track, std::vector<MidiEvent>* events);

    // Where a track is being read: the next byte, the chunk's end, and the
    // running status a data byte continues.
    struct TrackCursor {
        size_t at = 0, end = 0;
        std::string which;               // "track N: ", for messages
        uint8_t running = 0;             // the last channel status, 0 when none
        bool running_cancelled = false;  // a meta or SysEx event came after it
        bool ended = false;              // the end-of-track event was read
    };
    // One event each, starting at `t->at`, its first byte `first`.
    bool ReadMeta(TrackCursor* t, MidiEvent* event);
    bool SkipSysEx(TrackCursor* t);
    bool ReadChannelMessage(TrackCursor* t, uint8_t first, MidiEvent* event);

    const uint8_t* m_bytes;
    size_t m_size;
    std::vector<std::string>* m_warnings;
    std::string m_error;
};

bool MidiReader::Variable(size_t* at, size_t end, const char* what, uint32_t* value) {
    const size_t start = *at;
    *value = 0;
    for (int count = 0; count < 4; ++count) {
        if (*at >= end) return Fail(start, std::string("the track ends inside a ") + what);
        const uint8_t byte = m_bytes[(*at)++];
        *value = *value << 7 | (byte & 0x7Fu);
        if ((byte & 0x80) == 0) return true;
    }
    return Fail(
        start, std::string("a ") + what + " longer than four bytes (the largest is " + std::to_string(kMaxDelta) + ")");
}

bool MidiReader::ReadTrack(size_t start, size_t end, int track, std::vector<MidiEvent>* events) {
    TrackCursor t;
    t.at = start;
    t.end = end;
    t.which = "track " + std::to_string(track) + ": ";
    uint64_t tick = 0;
    while (t.at < end && !t.ended) {
        uint32_t delta = 0;
        if (!Variable(&t.at, end, "delta time", &delta)) return false;
        tick += delta;
        if (t.at >= end) return Fail(t.at, t.which + "the track ends after a delta time, without its event");
        const uint8_t first = m_bytes[t.at];
        MidiEvent event;
        event.tick = tick;
        if (first == 0xFF) {
            if (!ReadMeta(&t, &event)) return false;
        } else if (first == 0xF0 || first == 0xF7) {
            if (!SkipSysEx(&t)) return false;
        } else if (first >= 0xF1) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "%02X", first);
            return Fail(t.at, t.which + "stray status byte " + hex +
                                  " (system common and real-time messages have no place in a file)");
        } else if (!ReadChannelMessage(&t, first, &event)) {
            return false;
        }
        events->push_back(event);
    }
    if (!t.ended)
        Warn(end, t.which + "the track has no end-of-track event; it ends at its chunk's end");
    else if (t.at < end)
        Warn(t.at, t.which + std::to_string(end - t.at) + " bytes after the end-of-track event, ignored");
    return true;
}

bool MidiReader::ReadMeta(TrackCursor* t, MidiEvent* event) {
    const size_t event_at = t->at;
    if (t->at + 2 > t->end) return Fail(event_at, t->which + "the track ends inside a meta event");
    const uint8_t type = m_bytes[t->at + 1];
    t->at += 2;
    uint32_t length = 0;
    if (!Variable(&t->at, t->end, "meta event length", &length)) return false;
    if (length > t->end - t->at)
        return Fail(event_at,
                    t->which + "a meta event of " + std::to_string(length) + " bytes runs past the end of the track");
    if (type == 0x2F) {
        t->ended = true;
    } else if (type == 0x51) {
        const uint32_t tempo = length == 3 ? Big(t->at, 3) : 0;
        if (tempo == 0) {
            Warn(event_at, t->which + "a tempo change that is not 3 bytes of a tempo above 0, ignored");
        } else {
            event->kind = MidiEvent::kTempo;
            event->tempo = tempo;
        }
    }
    t->at += length;
    t->running_cancelled = t->running != 0;
    return true;
}

// SysEx: F0 LENGTH DATA, or the escape form F7 LENGTH DATA (a continuation
// or any bytes at all). Either is skipped whole.
bool MidiReader::SkipSysEx(TrackCursor* t) {
    const size_t event_at = t->at++;
    uint32_t length = 0;
    if (!Variable(&t->at, t->end, "SysEx length", &length)) return false;
    if (length > t->end - t->at)
        return Fail(event_at,
                    t->which + "a SysEx event of " + std::to_string(length) + " bytes runs past the end of the track");
    t->at += length;
    t->running_cancelled = t->running != 0;
    return true;
}

bool MidiReader::ReadChannelMessage(TrackCursor* t, uint8_t first, MidiEvent* event) {
    const size_t event_at = t->at;
    uint8_t status = first;
    if (first < 0x80) {
        if (t->running == 0)
            return Fail(event_at, t->which + "a data byte (running status) with no status byte before it");
        if (t->running_cancelled) {
            Warn(event_at, t->which + "running status continued after a meta or SysEx event");
            t->running_cancelled = false;
        }
        status = t->running;
    } else {
        ++t->at;
        t->running = status;
        t->running_cancelled = false;
    }
    const int count = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
    if (t->at + static_cast<size_t>(count) > t->end)
        return Fail(event_at, t->which + "the track ends inside a channel message");
    for (int k = 0; k < count; ++k) {
        const uint8_t data = m_bytes[t->at + static_cast<size_t>(k)];
        if (data >= 0x80) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "%02X", data);
            return Fail(t->at + static_cast<size_t>(k),
                        t->which + "status byte " + hex + " where a data byte of the message before it belongs");
        }
        event->data[k] = data;
    }
    t->at += static_cast<size_t>(count);
    event->status = status;
    event->kind = count == 2 ? MidiEvent::kChannel : MidiEvent::kOther;
    return true;
}

bool MidiReader::Read(std::vector<MidiEvent>* events, uint16_t* division, std::string* error) {
    auto failed = [&]() {
        *error = m_error;
        return false;
    };
    if (m_size < 14 || Big(0, 4) != 0x4D546864)  // "MThd"
        return Fail(0, "not a Standard MIDI File (it does not start with an MThd header of 14 bytes)") || failed();
    const uint32_t header_length = Big(4, 4);
    if (header_length < 6 || header_length > m_size - 8)
        return Fail(4, "a header length of " + std::to_string(header_length) + " (6 and within the file expected)") ||
               failed();
    const uint32_t format = Big(8, 2);
    const uint32_t announced = Big(10, 2);
    *division = static_cast<uint16_t>(Big(12, 2));
    if (format > 2) return Fail(8, "format " + std::to_string(format) + " (0, 1 or 2 expected)") || failed();
    if ((*division & 0x8000) != 0)
        return Fail(12, "the times are SMPTE frames, which this reader does not read (ticks per quarter note only)") ||
               failed();
    if (*division == 0) return Fail(12, "a division of 0 ticks per quarter note") || failed();
    if (format == 2) Warn(8, "format 2 (independent sequences): the tracks are played together");
    size_t at = 8 + static_cast<size_t>(header_length);
    int tracks = 0;
    std::vector<std::vector<MidiEvent>> per_track;
    while (at < m_size) {
        if (m_size - at < 8) {
            Warn(at, std::to_string(m_size - at) + " bytes after the last chunk, ignored");
            break;
        }
        const uint32_t type = Big(at, 4);
        const uint32_t length = Big(at + 4, 4);
        if (length > m_size - at - 8)
            return Fail(at + 4, "a chunk of " + std::to_string(length) + " bytes, but only " +
                                    std::to_string(m_size - at - 8) + " follow") ||
                   failed();
        const size_t start = at + 8, end = start + length;
        if (type == 0x4D54726B) {  // "MTrk"
            per_track.emplace_back();
            if (!ReadTrack(start, end, ++tracks, &per_track.back())) return failed();
        }  // other chunk types are skipped, as the format asks
        at = end;
    }
    if (tracks == 0) return Fail(m_size, "the file holds no track") || failed();
    if (static_cast<uint32_t>(tracks) != announced)
        Warn(10, "the header announces " + std::to_string(announced) + " track" + (announced == 1 ? "" : "s") +
                     ", the file holds " + std::to_string(tracks));
    if (format == 0 && tracks > 1) Warn(8, "format 0 with more than one track: the tracks are played together");
    // All tracks merged in time; at one tick, the lower track first.
    events->clear();
    for (const auto& track : per_track) events->insert(events->end(), track.begin(), track.end());
    std::stable_sort(events->begin(), events->end(),
                     [](const MidiEvent& a, const MidiEvent& b) { return a.tick < b.tick; });
    return true;
}

// Seconds of each tick under the tempo changes met so far (the events come
// in time order): 120 bpm until the first change.
class TempoMap {
public:
    explicit TempoMap(uint16_t division) : m_division(division) {}
    double Seconds(uint64_t tick) const {
        return m_seconds +
               static_cast<double>(tick - m_tick) * (m_tempo / (static_cast<double>(m_division) * 1000000.0));
    }
    void Change(uint64_t tick, uint32_t tempo) {
        m_seconds = Seconds(tick);
        m_tick = tick;
        m_tempo = static_cast<double>(tempo);
    }

private:
    uint16_t m_division;
    uint64_t m_tick = 0;
    double m_seconds = 0.0;
    double m_tempo = 500000.0;
};

}  // namespace

bool ReadMidiBytes(const std::string& bytes, const std::string& name, std::vector<Note>* notes,
                   std::vector<std::string>* warnings, std::string* error, std::vector<Control>* controls) {
    notes->clear();
    if (controls != nullptr) controls->clear();
    warnings->clear();
    std::vector<MidiEvent> events;
    uint16_t division = 0;
    std::vector<std::string> found;
    if (!MidiReader(bytes, &found).Read(&events, &division, error)) {
        *error = name + ": " + *error;
        return false;
    }
    for (const std::string& warning : found) warnings->push_back(name + ": " + warning);
    struct Held {
        double start;
        int velocity;
    };
    std::map<int, std::deque<Held>> held;  // channel * 128 + note
    TempoMap tempo(division);
    double last_time = 0.0;
    for (const MidiEvent& event : events) {
        if (event.kind == MidiEvent::kTempo) tempo.Change(event.tick, event.tempo);
        const double time = tempo.Seconds(event.tick);
        last_time = std::max(last_time, time);
        if (event.kind != MidiEvent::kChannel) continue;
        const int status = event.status & 0xF0;
        const int key = (event.status & 0x0F) * 128 + event.data[0];
        const int velocity = event.data[1];
        if (controls != nullptr && (status == 0xB0 || status == 0xE0)) {
            const int channel = (event.status & 0x0F) + 1;
            if (status == 0xB0)
                controls->push_back({time, channel, event.data[0], event.data[1]});
            else
                controls->push_back({time, channel, kPitchBend, event.data[1] << 7 | event.data[0]});
            continue;
        }
        if (status == 0x90 && velocity > 0) {
            held[key].push_back({time, velocity});
        } else if ((status == 0x80 || status == 0x90) && !held[key].empty()) {
            const Held on = held[key].front();
            held[key].pop_front();
            if (time > on.start)
                notes->push_back(
                    {on.start, time - on.start, MidiNoteHz(key % 128), on.velocity, std::to_string(key / 128 + 1)});
        }
    }
    for (const auto& entry : held)
        for (const Held& on : entry.second)
            if (last_time > on.start)
                notes->push_back({on.start, last_time - on.start, MidiNoteHz(entry.first % 128), on.velocity,
                                  std::to_string(entry.first / 128 + 1)});
    std::stable_sort(notes->begin(), notes->end(), [](const Note& a, const Note& b) { return a.start < b.start; });
    return true;
}

bool ReadMidiFile(const std::string& path, std::vector<Note>* notes, std::vector<std::string>* warnings,
                  std::string* error, std::vector<Control>* controls) {
    std::string bytes;
    return ReadInputFile(path, &bytes, error) && ReadMidiBytes(bytes, path, notes, warnings, error, controls);
}

}  // namespace sephost::render
