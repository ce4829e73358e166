// Invariance: what a module computes depends on its inputs and events, not on
// how the host cuts them into calls nor on other instances beside it.
//   block-split            the same inputs and events delivered in host blocks
//                          of other lengths, cut at other points (calls with
//                          start > 0 inside a block), give the same samples;
//   independent-instances  two instances that are not clones, run side by
//                          side with different inputs, each give the samples
//                          it gives alone.
// Both run through the minimal host, the list pins at their defaults, every
// sample input holding values drawn from the case that change at random
// clocks, each change announced (ST_CHANGED_ONCE) at its clock, as a host
// delivers a patch's control changes: a module may read such an input once
// per call, and since the host cuts its calls at event times, every call of
// any split sees the same values.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>

#include "BareHost.h"
#include "Checks.h"
#include "Drive.h"
#include "Progress.h"

namespace sepcheck {

namespace {

// The block size sent to the module in every run: runs differ only in how
// much of it the host uses per block and where it cuts its calls, as hosts
// do at event times; a module's own use of the block size (a count-down of
// one block before it sleeps) is the same in every run.
constexpr int32_t kBlockSize = 512;
constexpr uint32_t kSamples = 6 * kBlockSize;

// What one case feeds a module: a signal per sample input (values held for
// random lengths), and the announcement of each change at its clock.
struct Feed {
    std::map<int32_t, std::vector<float>> signals;     // by pin
    std::vector<std::pair<uint32_t, int32_t>> events;  // (clock, pin) of each change, sorted
};

std::vector<int32_t> SampleInputs(const BareHost& host) {
    std::vector<int32_t> pins;
    for (int32_t pin = 0; pin < int32_t(host.PinDeclarations().size()); ++pin) {
        const SEPinProperties& p = host.Declarations()[host.PinDeclarations()[pin]].properties;
        if (p.direction != DR_OUT && p.datatype == DT_FSAMPLE) pins.push_back(pin);
    }
    return pins;
}

// The names of the sample inputs, by pin.
std::map<int32_t, std::string> InputNames(const BareHost& host, const std::vector<int32_t>& inputs) {
    std::map<int32_t, std::string> names;
    for (int32_t pin : inputs) {
        const SEPinProperties& p = host.Declarations()[host.PinDeclarations()[pin]].properties;
        names[pin] = p.name != nullptr ? p.name : "input " + std::to_string(pin);
    }
    return names;
}

// What a feed holds on every sample input at sample `j`, by name.
std::vector<std::pair<std::string, float>> InputsAt(const Feed& feed, const std::map<int32_t, std::string>& names,
                                                    uint32_t j) {
    std::vector<std::pair<std::string, float>> values;
    for (const auto& signal : feed.signals)
        if (j < signal.second.size()) values.push_back({names.at(signal.first), signal.second[j]});
    return values;
}

std::vector<std::pair<int32_t, std::string>> SampleOutputs(const BareHost& host) {
    std::vector<std::pair<int32_t, std::string>> pins;
    for (int32_t pin = 0; pin < int32_t(host.PinDeclarations().size()); ++pin) {
        const SEPinProperties& p = host.Declarations()[host.PinDeclarations()[pin]].properties;
        if (p.direction == DR_OUT && p.datatype == DT_FSAMPLE)
            pins.push_back({pin, p.name != nullptr ? p.name : "output " + std::to_string(pin)});
    }
    return pins;
}

Feed MakeFeed(const std::vector<int32_t>& inputs, std::mt19937& random) {
    Feed feed;
    for (int32_t pin : inputs) {
        std::vector<float>& signal = feed.signals[pin];
        signal.resize(kSamples);
        uint32_t j = 0;
        while (j < kSamples) {
            const float value = UsefulSample(random);
            feed.events.push_back({j, pin});
            const uint32_t length = 1 + random() % 1500;
            for (uint32_t end = std::min(kSamples, j + length); j < end; ++j) signal[j] = value;
        }
    }
    std::sort(feed.events.begin(), feed.events.end());
    return feed;
}

// How a run cuts the samples: the host block length and, inside each block,
// the calls (cut at every event clock and at random points).
struct Split {
    int32_t host_block = kBlockSize;
    int cuts_per_block = 0;  // random cuts besides the event clocks
    uint32_t seed = 0;
    std::string Text() const {
        return "host blocks of " + std::to_string(host_block) +
               (cuts_per_block > 0 ? " cut at events and " + std::to_string(cuts_per_block) + " random points"
                                   : " cut only at events");
    }
};

// One instance run on a feed: its output samples, and the call that made each.
struct Run {
    std::vector<std::vector<float>> outputs;           // by sample output, every sample
    std::vector<std::pair<int32_t, int32_t>> call_of;  // (start, count) by sample
};

// A host running one instance along a split, a block at a time, so that two
// of them can be interleaved.
class SplitRunner {
public:
    SplitRunner(const sephost::Library& library, const Feed& feed, const Split& split)
        : m_host(library.GetModuleProperties(), library.MakeModule()),
          m_feed(feed),
          m_split(split),
          m_random(split.seed) {}

    bool Start(std::string* error) {
        if (!m_host.Make(error)) return false;
        m_host.Open(44100.0f, kBlockSize);
        m_outputs = SampleOutputs(m_host);
        m_run.outputs.assign(m_outputs.size(), std::vector<float>(kSamples, 0.0f));
        m_run.call_of.assign(kSamples, {0, 0});
        return true;
    }
    bool Done() const { return m_clock >= kSamples; }

    // One host block: inputs filled, calls cut, events delivered at their clocks.
    void Block() {
        const int32_t length = int32_t(std::min<uint32_t>(uint32_t(m_split.host_block), kSamples - m_clock));
        m_host.StartBlock();
        for (const auto& signal : m_feed.signals) {
            float* buffer = m_host.Buffer(signal.first);
            if (buffer != nullptr) std::memcpy(buffer, &signal.second[m_clock], sizeof(float) * size_t(length));
        }
        std::vector<int32_t> cuts = {length};
        for (int k = 0; k < m_split.cuts_per_block; ++k) cuts.push_back(1 + int32_t(m_random() % uint32_t(length)));
        for (const auto& event : m_feed.events)
            if (event.first > m_clock && event.first < m_clock + uint32_t(length))
                cuts.push_back(int32_t(event.first - m_clock));
        std::sort(cuts.begin(), cuts.end());
        int32_t start = 0;
        for (int32_t cut : cuts) {
            if (cut <= start) continue;
            const uint32_t clock = m_clock + uint32_t(start);
            for (const auto& event : m_feed.events)
                if (event.first == clock) m_host.Deliver(event.second, ST_CHANGED_ONCE);
            m_host.Process(start, cut - start);
            for (size_t o = 0; o < m_outputs.size(); ++o) {
                const float* out = m_host.Buffer(m_outputs[o].first);
                if (out != nullptr)
                    std::memcpy(&m_run.outputs[o][clock], out + start, sizeof(float) * size_t(cut - start));
            }
            for (int32_t j = start; j < cut; ++j) m_run.call_of[m_clock + uint32_t(j)] = {start, cut - start};
            start = cut;
        }
        m_clock += uint32_t(length);
    }

    const Run& Result() const { return m_run; }
    const std::vector<std::pair<int32_t, std::string>>& Outputs() const { return m_outputs; }

private:
    BareHost m_host;
    const Feed& m_feed;
    Split m_split;
    std::mt19937 m_random;
    std::vector<std::pair<int32_t, std::string>> m_outputs;
    Run m_run;
    uint32_t m_clock = 0;
};

bool RunAlone(const sephost::Library& library, const Feed& feed, const Split& split, Run* run,
              std::vector<std::pair<int32_t, std::string>>* outputs, std::string* error) {
    SplitRunner runner(library, feed, split);
    if (!runner.Start(error)) return false;
    while (!runner.Done()) runner.Block();
    *run = runner.Result();
    if (outputs != nullptr) *outputs = runner.Outputs();
    return true;
}

// The same sample, up to rounding: a module may do some arithmetic once per
// call (renormalise a phasor, say), so the last bits may depend on how many
// calls a block took. A sample read from the wrong place, or state that runs
// on, is off by far more.
constexpr double kRelativeTolerance = 1e-4;
constexpr double kAbsoluteTolerance = 1e-6;
bool SameSample(float a, float b) {
    if (std::memcmp(&a, &b, sizeof a) == 0) return true;
    if (!std::isfinite(a) || !std::isfinite(b)) return false;
    const double scale = std::max(std::fabs(double(a)), std::fabs(double(b)));
    return std::fabs(double(a) - double(b)) <= std::max(kAbsoluteTolerance, kRelativeTolerance * scale);
}

// The first sample where two runs differ, as text, and its number in `at`;
// empty when none does.
std::string FirstDifference(const Run& a, const Run& b, const std::vector<std::pair<int32_t, std::string>>& outputs,
                            const std::string& a_name, const std::string& b_name, uint32_t* at) {
    for (uint32_t j = 0; j < kSamples; ++j)
        for (size_t o = 0; o < outputs.size() && o < a.outputs.size() && o < b.outputs.size(); ++o) {
            if (SameSample(a.outputs[o][j], b.outputs[o][j])) continue;
            const auto call = [&](const Run& r) {
                return "(call start " + std::to_string(r.call_of[j].first) + ", count " +
                       std::to_string(r.call_of[j].second) + ")";
            };
            *at = j;
            return "\"" + outputs[o].second + "\" sample " + std::to_string(j) + " is " + Number(a.outputs[o][j]) +
                   " " + a_name + " " + call(a) + " but " + Number(b.outputs[o][j]) + " " + b_name + " " + call(b);
        }
    return "";
}

// The module's float-sample inputs and their names, read from one instance
// made and closed for the purpose.
bool ProbeInputs(const sephost::Library& library, std::vector<int32_t>* inputs, std::map<int32_t, std::string>* names,
                 std::string* error) {
    BareHost probe(library.GetModuleProperties(), library.MakeModule());
    if (!probe.Make(error)) return false;
    *inputs = SampleInputs(probe);
    *names = InputNames(probe, *inputs);
    probe.Close();
    return true;
}

Verdict BlockSplit(const CheckContext& context) {
    std::string error;
    auto library = sephost::Library::Load(context.path, &error);
    std::vector<int32_t> inputs;
    std::map<int32_t, std::string> names;
    if (library == nullptr || !ProbeInputs(*library, &inputs, &names, &error)) return Fail(error);
    const std::vector<int> cases = context.Cases(0, context.Scaled(3, 6, 12, 24, 48));
    for (int k : cases) {
        NoteCase(k);
        std::mt19937 random = context.CaseRandom("block-split", k);
        const Feed feed = MakeFeed(inputs, random);
        // Whole blocks cut only at events, against shorter blocks cut at
        // random points too.
        const Split whole{kBlockSize, 0, uint32_t(random())};
        const int32_t lengths[] = {1, 7, 64, 100, 256, 333, kBlockSize};
        const Split cut{lengths[random() % 7], 1 + int(random() % 4), uint32_t(random())};
        // A first run of the same feed, whose samples are not compared: what
        // instances may leave in state they share (the business of
        // independent-instances) is then the same before both runs compared,
        // which differ only in where the calls are cut.
        Run a, b;
        std::vector<std::pair<int32_t, std::string>> outputs;
        if (!RunAlone(*library, feed, whole, &a, &outputs, &error) ||
            !RunAlone(*library, feed, whole, &a, nullptr, &error) ||
            !RunAlone(*library, feed, cut, &b, nullptr, &error))
            return Fail(error);
        uint32_t at = 0;
        const std::string difference =
            FirstDifference(a, b, outputs, "with " + whole.Text(), "with " + cut.Text(), &at);
        if (!difference.empty()) return Fail(difference, InputsAt(feed, names, at));
    }
    return Pass(std::to_string(cases.size()) + " cases of " + std::to_string(kSamples) +
                " samples, whole blocks against shorter ones cut inside");
}

Verdict IndependentInstances(const CheckContext& context) {
    std::string error;
    auto library = sephost::Library::Load(context.path, &error);
    std::vector<int32_t> inputs;
    std::map<int32_t, std::string> names;
    if (library == nullptr || !ProbeInputs(*library, &inputs, &names, &error)) return Fail(error);
    const std::vector<int> cases = context.Cases(0, context.Scaled(2, 4, 8, 16, 32));
    for (int k : cases) {
        NoteCase(k);
        std::mt19937 random = context.CaseRandom("independent-instances", k);
        const Feed feed_a = MakeFeed(inputs, random);
        const Feed feed_b = MakeFeed(inputs, random);
        const Split split{kBlockSize, 0, 0};
        Run alone_a, alone_b;
        std::vector<std::pair<int32_t, std::string>> outputs;
        if (!RunAlone(*library, feed_a, split, &alone_a, &outputs, &error) ||
            !RunAlone(*library, feed_b, split, &alone_b, nullptr, &error))
            return Fail(error);
        // Side by side: both made and opened, then a block of each in turn.
        SplitRunner a(*library, feed_a, split), b(*library, feed_b, split);
        if (!a.Start(&error) || !b.Start(&error)) return Fail(error);
        while (!a.Done()) {
            a.Block();
            b.Block();
        }
        uint32_t at = 0;
        const std::string difference_a =
            FirstDifference(a.Result(), alone_a, outputs, "in instance A beside instance B", "with A alone", &at);
        const std::string difference =
            !difference_a.empty()
                ? difference_a
                : FirstDifference(b.Result(), alone_b, outputs, "in instance B beside instance A", "with B alone", &at);
        if (!difference.empty())
            return Fail(difference + " (two instances that are not clones share state)",
                        InputsAt(difference_a.empty() ? feed_b : feed_a, names, at));
    }
    return Pass(std::to_string(cases.size()) + " cases of two instances with different inputs side by side");
}

}  // namespace

void AddInvarianceChecks(std::vector<Check>* checks) {
    checks->push_back({"invariance", "block-split",
                       "the same inputs in other host blocks and calls (start > 0) give the same samples",
                       &BlockSplit});
    checks->push_back({"invariance", "independent-instances",
                       "two instances (not clones) side by side each give the samples they give alone",
                       &IndependentInstances});
}

}  // namespace sepcheck
