#include "Render.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Voices.h"

namespace sephost::render {

namespace {

// One value into one played pin.
struct PinEvent {
    uint32_t at;
    int instance;
    int32_t pin;
    float value;
};

// Every played pin's changes, in clock order; at one clock in the order
// pitch, velocity, gate, sync, so that a module starting its note on the
// sync sees the note's pitch and gate already.
std::vector<PinEvent> Schedule(const Graph& graph, const std::vector<Note>& notes, double sample_rate,
                               RenderSummary* summary) {
    std::vector<PinEvent> events;
    for (const GraphModule& module : graph.modules) {
        if (module.pitch < 0 && module.gate < 0 && module.sync < 0 && module.velocity < 0) continue;
        std::vector<Note> part;
        std::vector<size_t> index;  // into `notes`
        for (size_t i = 0; i < notes.size(); ++i) {
            if (!module.part.empty() && notes[i].part != module.part) continue;
            part.push_back(notes[i]);
            index.push_back(i);
        }
        const Assignment assignment = AssignVoices(part, module.voices, sample_rate);
        summary->stolen = std::max(summary->stolen, assignment.stolen);
        summary->dropped = std::max(summary->dropped, assignment.dropped);
        for (const VoiceNote& played : assignment.played) {
            const Note& note = notes[index[played.note]];
            const int instance = module.first + played.voice;
            auto add = [&](int32_t pin, uint32_t at, float value) {
                if (pin >= 0) events.push_back({at, instance, pin, value});
            };
            add(module.pitch, played.on, PitchValue(note.hz));
            add(module.velocity, played.on, static_cast<float>(note.velocity / 127.0));
            add(module.gate, played.on, 1.0f);
            add(module.sync, played.on, 1.0f);
            add(module.sync, played.on + 1, 0.0f);
            add(module.gate, played.off, 0.0f);
        }
    }
    std::stable_sort(events.begin(), events.end(), [](const PinEvent& a, const PinEvent& b) { return a.at < b.at; });
    return events;
}

}  // namespace

uint64_t RenderLength(const std::vector<Note>& notes, const RenderSettings& settings) {
    if (settings.seconds >= 0.0) return ClockAt(settings.seconds, settings.sample_rate);
    double end = 0.0;
    for (const Note& note : notes) end = std::max(end, note.start + note.length);
    return ClockAt(end + std::max(0.0, settings.tail), settings.sample_rate);
}

std::string DescribeSeconds(double seconds) {
    char text[64];
    if (seconds >= 3600.0)
        std::snprintf(text, sizeof text, "%.0f h %.0f min", std::floor(seconds / 3600.0),
                      std::floor(std::fmod(seconds, 3600.0) / 60.0));
    else if (seconds >= 60.0)
        std::snprintf(text, sizeof text, "%.0f min %.0f s", std::floor(seconds / 60.0), std::floor(std::fmod(seconds, 60.0)));
    else
        std::snprintf(text, sizeof text, "%.3g s", seconds);
    return text;
}

bool CheckRenderLength(const std::vector<Note>& notes, const RenderSettings& settings, const std::string& where,
                       std::string* error) {
    // The last clock a note may reach: its gate falls there, and the sync
    // pulse of a note starting there ends one sample later.
    const double clock_end = 4294967294.0;
    const double rate = settings.sample_rate;
    char text[256];
    if (settings.seconds >= 0.0 && std::nearbyint(settings.seconds * rate) > clock_end) {
        std::snprintf(text, sizeof text,
                      "--seconds %g at %g Hz lies beyond the host's 32-bit sample clock (at most %.1f s at this rate)",
                      settings.seconds, rate, clock_end / rate);
        *error = text;
        return false;
    }
    for (const Note& note : notes) {
        if (std::nearbyint((note.start + note.length) * rate) <= clock_end) continue;
        std::snprintf(text, sizeof text,
                      ": the note at %.3f s (ending at %.3f s) lies beyond the host's 32-bit sample clock, which "
                      "ends at %.1f s at %g Hz",
                      note.start, note.start + note.length, clock_end / rate, rate);
        *error = where + text;
        return false;
    }
    double end = settings.seconds;
    if (end < 0.0) {
        end = 0.0;
        for (const Note& note : notes) end = std::max(end, note.start + note.length);
        end += std::max(0.0, settings.tail);
        if (std::nearbyint(end * rate) > clock_end) {
            std::snprintf(text, sizeof text,
                          "the last note's end plus the tail, %.3f s, lies beyond the host's 32-bit sample clock, "
                          "which ends at %.1f s at %g Hz",
                          end, clock_end / rate, rate);
            *error = text;
            return false;
        }
    }
    if (end > settings.max_seconds) {
        *error = "the render would last " + DescribeSeconds(end) + ", longer than the limit of " +
                 DescribeSeconds(settings.max_seconds) + " (--max-length SECONDS raises it)";
        return false;
    }
    return true;
}

bool Render(const Patch& patch, const std::vector<Note>& notes, const RenderSettings& settings,
            const std::vector<StereoConsumer*>& consumers, RenderSummary* summary, std::string* error) {
    *summary = RenderSummary();
    summary->sample_rate = settings.sample_rate;
    summary->block_size = settings.block_size;
    summary->notes = notes.size();
    GraphOptions options;
    options.sample_rate = static_cast<float>(settings.sample_rate);
    options.block_size = settings.block_size;
    options.plugin_folders = settings.plugin_folders;
    Graph graph;
    if (!BuildGraph(patch, options, &graph, error)) return false;

    const std::vector<PinEvent> events = Schedule(graph, notes, settings.sample_rate, summary);
    const uint64_t total = RenderLength(notes, settings);
    size_t next_event = 0;
    double square_sum = 0.0;
    const GraphNode& output = graph.nodes[graph.output];
    while (summary->frames < total) {
        const int32_t samples =
            static_cast<int32_t>(std::min<uint64_t>(total - summary->frames, static_cast<uint64_t>(settings.block_size)));
        // The block's note events, handed over just before it runs.
        const uint64_t block_end = summary->frames + static_cast<uint64_t>(samples);
        while (next_event < events.size() && events[next_event].at < block_end) {
            const PinEvent& e = events[next_event++];
            graph.host->SetInput(e.instance, e.pin, e.value, e.at);
        }
        if (!graph.host->RunBlock(samples, error)) {
            *error = patch.path + ": the host stopped at sample clock " + std::to_string(summary->frames) + ": " + *error;
            return false;
        }
        ComputeNodes(&graph, samples);
        const float* left = output.result[0].data();
        const float* right = output.result[1].data();
        for (int32_t k = 0; k < samples; ++k) {
            summary->peak = std::max(summary->peak, std::max(std::fabs(left[k]), std::fabs(right[k])));
            square_sum += static_cast<double>(left[k]) * left[k] + static_cast<double>(right[k]) * right[k];
        }
        for (StereoConsumer* consumer : consumers)
            if (!consumer->Consume(left, right, samples, error)) return false;
        summary->frames = block_end;
        if (settings.progress) settings.progress(summary->frames, total);
    }
    summary->stream_high_water = graph.host->StreamHighWaterMark();
    summary->rms = summary->frames > 0 ? std::sqrt(square_sum / (2.0 * static_cast<double>(summary->frames))) : 0.0;
    graph.host->Close();
    return true;
}

}  // namespace sephost::render
