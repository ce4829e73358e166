#include "Score.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <fstream>
#include <map>

#include <glib.h>
#include <nlohmann/json.hpp>
#include <smf.h>

#include "JsonText.h"

namespace sephost::render {

double MidiNoteHz(double note) { return 440.0 * std::pow(2.0, (note - 69.0) / 12.0); }

float PitchValue(double hz) { return static_cast<float>(0.5 + std::log2(hz / 440.0) / 10.0); }

namespace {

using nlohmann::json;

bool Number(const json& note, const char* key, const std::string& where, double low, double high, double* value,
            std::string* error) {
    const json& v = note.at(key);
    if (!v.is_number() || !(v.get<double>() >= low && v.get<double>() <= high)) {
        *error = where + ": \"" + key + "\" must be a number from " + json(low).dump() + " to " + json(high).dump() +
                 ", not " + v.dump();
        return false;
    }
    *value = v.get<double>();
    return true;
}

bool ReadNote(const json& entry, const std::string& where, double seconds_per_unit, std::vector<Note>* notes,
              std::string* error) {
    if (!entry.is_object()) {
        *error = where + ": a note is an object, not " + TypeName(entry);
        return false;
    }
    for (const auto& item : entry.items()) {
        static const char* const kKeys[] = {"start", "length", "pitch", "hz", "velocity", "part"};
        if (std::find(std::begin(kKeys), std::end(kKeys), item.key()) == std::end(kKeys)) {
            *error = where + ": unknown key \"" + item.key() + "\" (a note has start, length, pitch or hz, velocity, part)";
            return false;
        }
    }
    if (!entry.contains("start") || !entry.contains("length")) {
        *error = where + ": a note needs \"start\" and \"length\"";
        return false;
    }
    if (entry.contains("pitch") == entry.contains("hz")) {
        *error = where + ": a note needs either \"pitch\" (MIDI note number) or \"hz\"";
        return false;
    }
    Note note;
    double velocity = 100.0;
    if (!Number(entry, "start", where, 0.0, 1.0e6, &note.start, error) ||
        !Number(entry, "length", where, 1.0e-6, 1.0e6, &note.length, error))
        return false;
    if (entry.contains("velocity") && !Number(entry, "velocity", where, 1.0, 127.0, &velocity, error)) return false;
    note.start *= seconds_per_unit;
    note.length *= seconds_per_unit;
    note.velocity = static_cast<int>(std::lround(velocity));
    if (entry.contains("part")) {
        const json& part = entry.at("part");
        if (!part.is_string()) {
            *error = where + ": \"part\" must be a text, not " + part.dump();
            return false;
        }
        note.part = part.get<std::string>();
    }
    std::vector<double> frequencies;
    if (entry.contains("hz")) {
        double hz = 0.0;
        if (!Number(entry, "hz", where, 1.0, 100000.0, &hz, error)) return false;
        frequencies.push_back(hz);
    } else {
        const json& pitch = entry.at("pitch");
        const json list = pitch.is_array() ? pitch : json::array({pitch});
        if (list.empty()) {
            *error = where + ": \"pitch\" lists no note";
            return false;
        }
        for (const json& p : list) {
            if (!p.is_number() || !(p.get<double>() >= 0.0 && p.get<double>() <= 127.0)) {
                *error = where + ": \"pitch\" must be a MIDI note number from 0 to 127 or a list of them, not " +
                         p.dump();
                return false;
            }
            frequencies.push_back(MidiNoteHz(p.get<double>()));
        }
    }
    for (double hz : frequencies) {
        note.hz = hz;
        notes->push_back(note);
    }
    return true;
}

}  // namespace

bool ReadScoreJson(const json& score, const std::string& where, std::vector<Note>* notes, std::string* error) {
    notes->clear();
    const json* list = &score;
    double seconds_per_unit = 1.0;
    if (score.is_object()) {
        for (const auto& item : score.items()) {
            if (item.key() != "tempo" && item.key() != "notes") {
                *error = where + ": unknown key \"" + item.key() + "\" (a score has tempo and notes)";
                return false;
            }
        }
        if (score.contains("tempo")) {
            double bpm = 0.0;
            if (!Number(score, "tempo", where, 1.0, 10000.0, &bpm, error)) return false;
            seconds_per_unit = 60.0 / bpm;
        }
        if (!score.contains("notes")) {
            *error = where + ": a score object needs \"notes\"";
            return false;
        }
        list = &score.at("notes");
    }
    if (!list->is_array()) {
        *error = where + ": the notes are a list, not " + TypeName(*list);
        return false;
    }
    for (size_t i = 0; i < list->size(); ++i)
        if (!ReadNote(list->at(i), where + ": note " + std::to_string(i + 1), seconds_per_unit, notes, error))
            return false;
    return true;
}

bool ReadScoreFile(const std::string& path, std::vector<Note>* notes, std::string* error) {
    std::string text;
    json score;
    return ReadTextFile(path, &text, error) && ParseJson(text, path, &score, error) &&
           ReadScoreJson(score, path, notes, error);
}

namespace {

// libsmf reports through GLib's log; the messages become the error text.
void CollectMessage(const gchar*, GLogLevelFlags, const gchar* message, gpointer user_data) {
    auto* collected = static_cast<std::string*>(user_data);
    if (!collected->empty()) *collected += "; ";
    *collected += message;
}

}  // namespace

bool ReadMidiFile(const std::string& path, std::vector<Note>* notes, std::string* error) {
    notes->clear();
    if (!std::ifstream(path, std::ios::binary)) {
        *error = path + ": cannot open the file";
        return false;
    }
    std::string messages;
    const GLogFunc previous = g_log_set_default_handler(CollectMessage, &messages);
    smf_t* smf = smf_load(path.c_str());
    g_log_set_default_handler(previous, nullptr);
    if (smf == nullptr) {
        *error = path + ": not a readable Standard MIDI File" + (messages.empty() ? "" : " (" + messages + ")");
        return false;
    }
    struct Held {
        double start;
        int velocity;
    };
    std::map<int, std::deque<Held>> held;  // channel * 128 + note
    double last_time = 0.0;
    smf_event_t* event = nullptr;
    while ((event = smf_get_next_event(smf)) != nullptr) {
        last_time = std::max(last_time, event->time_seconds);
        if (smf_event_is_metadata(event) || event->midi_buffer_length < 3) continue;
        const int status = event->midi_buffer[0] & 0xF0;
        const int key = (event->midi_buffer[0] & 0x0F) * 128 + (event->midi_buffer[1] & 0x7F);
        const int velocity = event->midi_buffer[2] & 0x7F;
        if (status == 0x90 && velocity > 0) {
            held[key].push_back({event->time_seconds, velocity});
        } else if ((status == 0x80 || status == 0x90) && !held[key].empty()) {
            const Held on = held[key].front();
            held[key].pop_front();
            if (event->time_seconds > on.start)
                notes->push_back({on.start, event->time_seconds - on.start, MidiNoteHz(key % 128), on.velocity,
                                  std::to_string(key / 128 + 1)});
        }
    }
    for (const auto& entry : held)
        for (const Held& on : entry.second)
            if (last_time > on.start)
                notes->push_back({on.start, last_time - on.start, MidiNoteHz(entry.first % 128), on.velocity,
                                  std::to_string(entry.first / 128 + 1)});
    smf_delete(smf);
    std::stable_sort(notes->begin(), notes->end(), [](const Note& a, const Note& b) { return a.start < b.start; });
    return true;
}

}  // namespace sephost::render
