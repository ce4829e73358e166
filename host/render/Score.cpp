#include "Score.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "JsonText.h"

namespace sephost::render {

double MidiNoteHz(double note) { return 440.0 * std::pow(2.0, (note - 69.0) / 12.0); }

float PitchValue(double hz) { return static_cast<float>(0.5 + std::log2(hz / 440.0) / 10.0); }

namespace {

using nlohmann::json;

bool Number(const json& note, const char* key, const std::string& where, double low, double high, double* value,
            std::string* error) {
    return NumberIn(note.at(key), where + ": \"" + key + "\"", low, high, false, value, error);
}

// A note's "hz", or its "pitch": one MIDI note number or a list of them.
bool ReadFrequencies(const json& entry, const std::string& where, std::vector<double>* frequencies,
                     std::string* error) {
    if (entry.contains("hz")) {
        double hz = 0.0;
        if (!Number(entry, "hz", where, 1.0, 100000.0, &hz, error)) return false;
        frequencies->push_back(hz);
    } else {
        const json& pitch = entry.at("pitch");
        const json list = pitch.is_array() ? pitch : json::array({pitch});
        if (list.empty()) {
            *error = where + ": \"pitch\" lists no note";
            return false;
        }
        for (const json& p : list) {
            if (!p.is_number() || !(p.get<double>() >= 0.0 && p.get<double>() <= 127.0)) {
                *error =
                    where + ": \"pitch\" must be a MIDI note number from 0 to 127 or a list of them, not " + Excerpt(p);
                return false;
            }
            frequencies->push_back(MidiNoteHz(p.get<double>()));
        }
    }
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
            *error = where + ": unknown key \"" + Excerpt(item.key()) +
                     "\" (a note has start, length, pitch or hz, velocity, part)";
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
            *error = where + ": \"part\" must be a text, not " + Excerpt(part);
            return false;
        }
        note.part = part.get<std::string>();
    }
    std::vector<double> frequencies;
    if (!ReadFrequencies(entry, where, &frequencies, error)) return false;
    for (double hz : frequencies) {
        note.hz = hz;
        notes->push_back(note);
    }
    return true;
}

}  // namespace

double ScoreSecondsPerUnit(const json& score) {
    if (!score.is_object() || !score.contains("tempo") || !score.at("tempo").is_number()) return 1.0;
    return 60.0 / score.at("tempo").get<double>();
}

bool ReadScoreJson(const json& score, const std::string& where, std::vector<Note>* notes, std::string* error) {
    notes->clear();
    const json* list = &score;
    double seconds_per_unit = 1.0;
    if (score.is_object()) {
        for (const auto& item : score.items()) {
            if (item.key() != "tempo" && item.key() != "notes" && item.key() != "automation") {
                *error =
                    where + ": unknown key \"" + Excerpt(item.key()) + "\" (a score has tempo, notes and automation)";
                return false;
            }
        }
        if (score.contains("tempo")) {
            double bpm = 0.0;
            if (!Number(score, "tempo", where, 1.0, 10000.0, &bpm, error)) return false;
            seconds_per_unit = ScoreSecondsPerUnit(score);
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

}  // namespace sephost::render
