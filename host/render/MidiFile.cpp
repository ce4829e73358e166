// Standard MIDI Files, read with libsmf (the Linux build; the Windows build
// has no libsmf and says so, see WindowsStandIns.cpp).
#include <algorithm>
#include <deque>
#include <fstream>
#include <map>

#include <glib.h>
#include <smf.h>

#include "Score.h"

namespace sephost::render {

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
