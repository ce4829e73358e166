#include "Render.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "SampleBits.h"
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
    // List and integer lanes: each point a change at its clock, on every clone.
    for (const GraphLane& lane : graph.lanes) {
        if (lane.sample_pin) continue;
        // Before its first point a lane holds the first value: the start.
        for (int v = 0; v < lane.voices; ++v)
            events.push_back({0, lane.first + v, lane.pin, lane.points.front().second});
        for (const auto& point : lane.points)
            for (int v = 0; v < lane.voices; ++v)
                events.push_back({point.first, lane.first + v, lane.pin, point.second});
    }
    std::stable_sort(events.begin(), events.end(), [](const PinEvent& a, const PinEvent& b) { return a.at < b.at; });
    return events;
}

// Names where the block's first non-finite value came from, if it holds
// one: the module output the host saw first, or a node whose result went
// non-finite earlier (its inputs finite: a product or a gain that
// overflowed). At one clock the module wins, as it ran before every node,
// and nodes go in the order they are computed.
void NameFirstNonFinite(const Graph& graph, uint64_t block_start, int32_t samples, RenderSummary* summary) {
    const RenderHost::NonFinite& found = graph.host->FirstNonFinite();
    int32_t best = samples;
    std::string where;
    if (found.found) {
        best = static_cast<int32_t>(found.clock - block_start);
        for (const GraphModule& module : graph.modules) {
            if (found.instance < module.first || found.instance >= module.first + module.voices) continue;
            where = "module \"" + module.name + "\" pin \"" + module.pins[static_cast<size_t>(found.pin)].name + "\"";
            if (module.voices > 1) where += " (voice " + std::to_string(found.instance - module.first + 1) + ")";
        }
    }
    for (const GraphNode& node : graph.nodes) {
        for (size_t v = 0; v < node.result.size(); ++v) {
            const int32_t offset = FirstNonFiniteSample(node.result[v].data(), best);
            if (offset >= best) continue;
            best = offset;
            where = "node \"" + node.name + "\" " +
                    (node.type == NodeType::kOutput ? (v == 0 ? "\"left\"" : "\"right\"") : "\"out\"");
            if (node.type != NodeType::kOutput && node.voices > 1) where += " (voice " + std::to_string(v + 1) + ")";
        }
    }
    if (where.empty()) return;
    summary->first_non_finite = where;
    summary->first_non_finite_clock = block_start + static_cast<uint64_t>(best);
}

void CountBad(RenderSummary::Bad* bad, uint64_t frame) {
    if (bad->samples++ == 0) bad->first = frame;
}

std::string Seconds(uint64_t frame, double rate) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6f s", static_cast<double>(frame) / rate);
    return text;
}

}  // namespace

std::string DescribeBadOutput(const RenderSummary& summary) {
    if (!summary.BadOutput()) return "";
    char ceiling[64];
    std::snprintf(ceiling, sizeof ceiling, " beyond %+.1f dBFS",
                  20.0 * std::log10(static_cast<double>(summary.ceiling)));
    struct Kind {
        const char* before;
        const char* after;
        const RenderSummary::Bad& bad;
    } kinds[] = {{" NaN", "", summary.nan}, {" infinite", "", summary.infinite}, {"", ceiling, summary.beyond}};
    std::vector<std::string> parts;
    for (const Kind& kind : kinds) {
        if (kind.bad.samples == 0) continue;
        parts.push_back(std::to_string(kind.bad.samples) + kind.before + " sample" +
                        (kind.bad.samples == 1 ? "" : "s") + kind.after + " (the first at " +
                        Seconds(kind.bad.first, summary.sample_rate) + ")");
    }
    std::string text = "the output holds ";
    for (size_t i = 0; i < parts.size(); ++i) text += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
    if (!summary.first_non_finite.empty())
        text += "; the first non-finite value came from " + summary.first_non_finite + " at " +
                Seconds(summary.first_non_finite_clock, summary.sample_rate) + " (sample clock " +
                std::to_string(summary.first_non_finite_clock) + ")";
    return text;
}

uint64_t RenderLength(const std::vector<Note>& notes, const RenderSettings& settings) {
    if (settings.seconds >= 0.0) return ClockAt(settings.seconds, settings.sample_rate);
    double end = settings.input_seconds;
    for (const Note& note : notes) end = std::max(end, note.start + note.length);
    return ClockAt(end + std::max(0.0, settings.tail), settings.sample_rate);
}

std::string DescribeSeconds(double seconds) {
    char text[64];
    if (seconds >= 3600.0)
        std::snprintf(text, sizeof text, "%.0f h %.0f min", std::floor(seconds / 3600.0),
                      std::floor(std::fmod(seconds, 3600.0) / 60.0));
    else if (seconds >= 60.0)
        std::snprintf(text, sizeof text, "%.0f min %.0f s", std::floor(seconds / 60.0),
                      std::floor(std::fmod(seconds, 60.0)));
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
        end = settings.input_seconds;
        for (const Note& note : notes) end = std::max(end, note.start + note.length);
        end += std::max(0.0, settings.tail);
        if (std::nearbyint(end * rate) > clock_end) {
            std::snprintf(text, sizeof text,
                          "the last note's (or sound file's) end plus the tail, %.3f s, lies beyond the host's 32-bit "
                          "sample clock, "
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

namespace {

GraphOptions GraphOptionsOf(const RenderSettings& settings) {
    GraphOptions options;
    options.sample_rate = static_cast<float>(settings.sample_rate);
    options.block_size = settings.block_size;
    options.plugin_folders = settings.plugin_folders;
    options.fill_driven_by_sample = settings.fill_driven_by_sample;
    options.controls = settings.controls;
    return options;
}

// What drives the module inputs in the block from `frame` on: the sound
// files' block and the nodes reading it, and the float-sample lanes,
// computed for the block and fed to every clone.
bool FeedBlock(Graph* graph, uint64_t frame, int32_t samples, std::vector<float>* lane_block, std::string* error) {
    if (!ComputeNodes(graph, samples, true, error)) return false;
    for (const GraphLane& lane : graph->lanes) {
        if (!lane.sample_pin) continue;
        for (int32_t k = 0; k < samples; ++k)
            (*lane_block)[static_cast<size_t>(k)] =
                LaneValue(lane, static_cast<uint32_t>(frame + static_cast<uint64_t>(k)));
        for (int feed : lane.feeds) graph->host->Feed(feed, lane_block->data(), samples);
    }
    for (const NodeFeed& feed : graph->feeds)
        graph->host->Feed(feed.feed,
                          graph->nodes[static_cast<size_t>(feed.node)].result[static_cast<size_t>(feed.voice)].data(),
                          samples);
    return true;
}

// The output block's samples counted into the summary: NaN, infinite and
// beyond the ceiling by frame, the peak, and the sum of squares.
void Measure(const float* left, const float* right, int32_t samples, RenderSummary* summary, double* square_sum) {
    const uint32_t ceiling_bits = SampleBits(summary->ceiling);
    uint32_t peak_bits = SampleBits(summary->peak);
    for (int32_t k = 0; k < samples; ++k) {
        const uint64_t frame = summary->frames + static_cast<uint64_t>(k);
        for (const float sample : {left[k], right[k]}) {
            // Magnitudes compared by their bits, which order the
            // non-negative floats as their values do.
            const uint32_t magnitude = SampleBits(sample) & kMagnitudeBits;
            if (magnitude > kExponentBits) {
                CountBad(&summary->nan, frame);
            } else if (magnitude == kExponentBits) {
                CountBad(&summary->infinite, frame);
            } else {
                if (magnitude > ceiling_bits) CountBad(&summary->beyond, frame);
                peak_bits = std::max(peak_bits, magnitude);
                *square_sum += static_cast<double>(sample) * sample;
            }
        }
    }
    summary->peak = SampleFromBits(peak_bits);
}

}  // namespace

bool Render(const Patch& patch, const std::vector<Note>& notes, const RenderSettings& settings,
            const std::vector<StereoConsumer*>& consumers, RenderSummary* summary, std::string* error) {
    *summary = RenderSummary();
    summary->sample_rate = settings.sample_rate;
    summary->block_size = settings.block_size;
    summary->notes = notes.size();
    summary->ceiling = static_cast<float>(std::pow(10.0, settings.ceiling_db / 20.0));
    Graph graph;
    if (!BuildGraph(patch, GraphOptionsOf(settings), &graph, error)) return false;

    const std::vector<PinEvent> events = Schedule(graph, notes, settings.sample_rate, summary);
    const uint64_t total = RenderLength(notes, settings);
    size_t next_event = 0;
    double square_sum = 0.0;
    std::vector<float> lane_block(static_cast<size_t>(settings.block_size));
    const GraphNode& output = graph.nodes[graph.output];
    while (summary->frames < total) {
        const int32_t samples = static_cast<int32_t>(
            std::min<uint64_t>(total - summary->frames, static_cast<uint64_t>(settings.block_size)));
        // The block's note events, handed over just before it runs.
        const uint64_t block_end = summary->frames + static_cast<uint64_t>(samples);
        while (next_event < events.size() && events[next_event].at < block_end) {
            const PinEvent& e = events[next_event++];
            graph.host->SetInput(e.instance, e.pin, e.value, e.at);
        }
        if (!FeedBlock(&graph, summary->frames, samples, &lane_block, error)) return false;
        if (!graph.host->RunBlock(samples, error)) {
            *error =
                patch.path + ": the host stopped at sample clock " + std::to_string(summary->frames) + ": " + *error;
            return false;
        }
        if (!ComputeNodes(&graph, samples, false, error)) return false;
        if (summary->first_non_finite.empty()) NameFirstNonFinite(graph, summary->frames, samples, summary);
        const float* left = output.result[0].data();
        const float* right = output.result[1].data();
        Measure(left, right, samples, summary, &square_sum);
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
