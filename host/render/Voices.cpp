#include "Voices.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace sephost::render {

uint32_t ClockAt(double seconds, double sample_rate) {
    const double clock = std::nearbyint(seconds * sample_rate);
    if (!(clock > 0.0)) return 0;
    if (clock >= 4294967295.0) return UINT32_MAX;
    return static_cast<uint32_t>(clock);
}

Assignment AssignVoices(const std::vector<Note>& notes, int voices, double sample_rate) {
    Assignment result;
    if (voices < 1) return result;
    std::vector<VoiceNote> timed(notes.size());
    for (size_t i = 0; i < notes.size(); ++i) {
        timed[i].note = i;
        timed[i].on = ClockAt(notes[i].start, sample_rate);
        timed[i].off = std::max(ClockAt(notes[i].start + notes[i].length, sample_rate), timed[i].on + 1);
    }
    std::stable_sort(timed.begin(), timed.end(), [](const VoiceNote& a, const VoiceNote& b) { return a.on < b.on; });

    // Per voice: the entry in `result.played` it plays last, or -1.
    std::vector<long> last(static_cast<size_t>(voices), -1);
    std::vector<VoiceNote>& played = result.played;
    std::vector<bool> dropped;
    for (VoiceNote note : timed) {
        int chosen = -1;
        // A free voice: never used, or its gate fell before this clock. The
        // one silent longest wins; never used counts as longest.
        for (int v = 0; v < voices; ++v) {
            const long p = last[v];
            if (p >= 0 && played[p].off >= note.on) continue;
            if (chosen < 0) {
                chosen = v;
                continue;
            }
            const long q = last[chosen];
            if (q >= 0 && (p < 0 || played[p].off < played[q].off)) chosen = v;
        }
        if (chosen < 0) {
            // Every voice busy: the note that started first gives way.
            chosen = 0;
            for (int v = 1; v < voices; ++v)
                if (played[last[v]].on < played[last[chosen]].on) chosen = v;
            VoiceNote& old = played[last[chosen]];
            if (note.on <= old.on + 1) {
                // No sample left between the two starts.
                dropped[last[chosen]] = true;
                ++result.dropped;
            } else {
                // A note that ends where the next begins only loses its last
                // sample; one still sounding past the new start is cut.
                if (old.off > note.on) ++result.stolen;
                old.off = note.on - 1;
            }
        }
        note.voice = chosen;
        last[chosen] = static_cast<long>(played.size());
        played.push_back(note);
        dropped.push_back(false);
    }
    std::vector<VoiceNote> kept;
    for (size_t i = 0; i < played.size(); ++i)
        if (!dropped[i]) kept.push_back(played[i]);
    played.swap(kept);
    return result;
}

}  // namespace sephost::render
