// Hostile input: pin values from a fixed seed, 0, negatives, 1e-45, 1e30,
// +-infinity and NaN on every audio input, list values in and out of their
// choices, status changes at random clocks. Every host block returns within
// the bound and no output sample is NaN or infinite; with inputs inside
// their useful ranges no output sample is subnormal either. And what
// subnormal inputs cost against normal ones.
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "BareHost.h"
#include "Checks.h"
#include "Drive.h"
#include "Progress.h"

namespace sepcheck {

namespace {

// One session's patch: block size, rate, voices and span drawn from the
// case's random numbers, every voice driven from them. The same numbers place
// the same patch again, so that a failure can read what the inputs held at
// its sample from a copy not yet run.
struct SessionPatch {
    sephost::EngineOptions options;
    int voices = 0;
    uint32_t span = 0;
    std::unique_ptr<sephost::Engine> engine;
};

bool PlaceSession(const sephost::Library& library, std::mt19937 random, bool hostile, SessionPatch* patch,
                  std::string* error) {
    const int32_t blocks[] = {16, 64, 256, 1024, 4096};
    patch->options.block_size = blocks[random() % 5];
    const float rates[] = {22050.0f, 44100.0f, 48000.0f, 96000.0f};
    patch->options.sample_rate = rates[random() % 4];
    patch->engine.reset(new sephost::Engine(patch->options));
    patch->voices = 1 + int(random() % 4);
    if (patch->engine->Place(library, patch->voices, error) < 0) return false;
    patch->span = uint32_t(patch->options.block_size) * (4 + random() % 8);
    for (int v = 0; v < patch->voices; ++v)
        DriveRandomly(*patch->engine, v, random, patch->span, 8 + int(random() % 40), hostile);
    return true;
}

// A failure at a bad sample, with the inputs its instance held there.
Verdict FailAt(const std::string& detail, const sephost::Engine& unrun, const SampleAt& at) {
    return Fail(detail, DrivenInputsAt(unrun, at.instance, at.clock));
}

// `sessions` patches of random settings, hostile or useful, at random block
// sizes and clone counts.
Verdict RandomSessions(const CheckContext& context, const char* name, bool hostile) {
    std::string error;
    auto library = sephost::Library::Load(context.path, &error);
    if (library == nullptr) return Fail(error);
    const std::vector<int> sessions = context.Cases(0, context.Scaled(6, 16, 40, 100, 250));
    size_t samples = 0;
    double worst = 0.0;
    for (int session : sessions) {
        NoteCase(session);
        SessionPatch patch;
        if (!PlaceSession(*library, context.CaseRandom(name, session), hostile, &patch, &error)) return Fail(error);
        sephost::Engine& engine = *patch.engine;
        if (!engine.Open(&error)) return Fail(error);
        double session_worst = 0.0;
        const std::string where = "session " + std::to_string(session) + " (block " +
                                  std::to_string(patch.options.block_size) + ", " + std::to_string(patch.voices) +
                                  " voices)";
        if (!RunTimed(engine, patch.span, patch.options.block_size, context.BlockTimeBound(), &session_worst, &error))
            return Fail(where + ": " + error);
        worst = std::max(worst, session_worst);
        const OutputScan scan = ScanOutputs(engine, 0);
        samples += scan.samples;
        const bool bad = scan.nan + scan.infinite > 0;
        if (!bad && (hostile || scan.subnormal == 0)) continue;
        SessionPatch again;
        if (!PlaceSession(*library, context.CaseRandom(name, session), hostile, &again, &error)) return Fail(error);
        if (bad)
            return FailAt(where + ": " + std::to_string(scan.nan) + " NaN, " + std::to_string(scan.infinite) +
                              " infinite samples; first: " + scan.first_bad,
                          *again.engine, scan.first_bad_at);
        return FailAt(
            where + ": " + std::to_string(scan.subnormal) + " subnormal samples; first: " + scan.first_subnormal,
            *again.engine, scan.first_subnormal_at);
    }
    return Pass(std::to_string(sessions.size()) + " sessions, " + std::to_string(samples) +
                " output samples, slowest block " + Number(worst * 1000.0) + " ms");
}

// One list pin swept on its own instance: each value of `sweep` for 64
// samples from clock 0 on, the other inputs driven from `random` (which
// the next list's sweep goes on drawing from).
constexpr uint32_t kSweepStep = 64;

std::unique_ptr<sephost::Engine> PlaceSweep(const sephost::Library& library, const PinRef& list,
                                            const std::vector<int32_t>& sweep, std::mt19937& random, bool hostile,
                                            std::string* error) {
    sephost::EngineOptions options;
    options.block_size = int32_t(kSweepStep);
    std::unique_ptr<sephost::Engine> engine(new sephost::Engine(options));
    if (engine->Place(library, 1, error) < 0) return nullptr;
    DriveRandomly(*engine, 0, random, kSweepStep * uint32_t(sweep.size()), 8, hostile);
    for (size_t k = 0; k < sweep.size(); ++k) engine->SetInputInt(0, list.pin, sweep[k], uint32_t(kSweepStep * k));
    return engine;
}

// Every list pin through every value of its list (and, when hostile, the
// values just outside it and the ends of the 16-bit range), one value per 64
// samples, the other inputs random; passed, or why not.
Verdict SweepLists(const sephost::Library& library, std::mt19937& random, bool hostile, size_t* values) {
    std::string error;
    sephost::Engine probe;
    if (probe.Place(library, 1, &error) < 0) return Fail(error);
    for (const PinRef& list : InputPins(probe, 0)) {
        if (list.description.datatype != DT_ENUM) continue;
        std::vector<int32_t> sweep;
        int32_t low = 0, high = 0;
        for (const sephost::Choice& c : list.description.choices) {
            sweep.push_back(c.value);
            low = sweep.size() == 1 ? c.value : std::min(low, c.value);
            high = sweep.size() == 1 ? c.value : std::max(high, c.value);
        }
        if (hostile) sweep.insert(sweep.end(), {low - 1, high + 1, -32768, 32767, 0});
        std::mt19937 drive = random;  // to place the sweep again at a failure
        auto engine = PlaceSweep(library, list, sweep, random, hostile, &error);
        if (engine == nullptr) return Fail(error);
        if (!engine->Open(&error) || !engine->Run(kSweepStep * uint32_t(sweep.size() + 1), &error)) return Fail(error);
        const OutputScan scan = ScanOutputs(*engine, 0);
        *values += sweep.size();
        const bool bad = scan.nan + scan.infinite > 0;
        if (!bad && (hostile || scan.subnormal == 0)) continue;
        const SampleAt at = bad ? scan.first_bad_at : scan.first_subnormal_at;
        auto again = PlaceSweep(library, list, sweep, drive, hostile, &error);
        if (again == nullptr) return Fail(error);
        std::vector<std::pair<std::string, float>> inputs = DrivenInputsAt(*again, at.instance, at.clock);
        inputs.push_back(
            {list.description.name, float(sweep[std::min<size_t>(at.clock / kSweepStep, sweep.size() - 1)])});
        return Fail("list \"" + list.description.name + "\" swept: " + (bad ? scan.first_bad : scan.first_subnormal),
                    inputs);
    }
    return Pass("");
}

Verdict ValuesWithLists(const CheckContext& context, const char* name, bool hostile) {
    Verdict verdict = RandomSessions(context, name, hostile);
    if (!verdict.passed) return verdict;
    std::string error;
    auto library = sephost::Library::Load(context.path, &error);
    if (library == nullptr) return Fail(error);
    // The sweep of the lists is one case, numbered 1000.
    if (context.Cases(1000, 1).empty()) return verdict;
    NoteCase(1000);
    std::mt19937 random = context.CaseRandom(std::string(name) + " lists", 1000);
    size_t values = 0;
    const Verdict swept = SweepLists(*library, random, hostile, &values);
    if (!swept.passed) return swept;
    verdict.detail += "; " + std::to_string(values) + " list values swept";
    return verdict;
}

Verdict HostileValues(const CheckContext& context) { return ValuesWithLists(context, "hostile", true); }
Verdict UsefulValues(const CheckContext& context) { return ValuesWithLists(context, "useful", false); }

// Seconds for `blocks` blocks with every audio input streaming 0.25 but
// input `odd_pin` (if any) streaming `odd_value`, through the minimal host,
// so that the time is the module's own.
double TimeBlocks(const sephost::Library& library, int32_t odd_pin, float odd_value, int32_t block, int blocks,
                  std::string* error) {
    BareHost host(library.GetModuleProperties(), library.MakeModule());
    if (!host.Make(error)) return -1.0;
    host.Open(44100.0f, block);
    for (int32_t pin = 0; pin < int32_t(host.PinDeclarations().size()); ++pin) {
        const SEPinProperties& p = host.Declarations()[host.PinDeclarations()[pin]].properties;
        float* buffer = host.Buffer(pin);
        if (p.direction == DR_OUT || p.datatype != DT_FSAMPLE || buffer == nullptr) continue;
        for (int32_t j = 0; j < block; ++j) buffer[j] = pin == odd_pin ? odd_value : 0.25f;
        host.Deliver(pin, ST_STREAMING);
    }
    for (int b = 0; b < 4; ++b) host.Process(0, block);  // past the start
    const double started = Seconds();
    for (int b = 0; b < blocks; ++b) host.Process(0, block);
    return Seconds() - started;
}

Verdict SubnormalCost(const CheckContext& context) {
    std::string error;
    auto library = sephost::Library::Load(context.path, &error);
    if (library == nullptr) return Fail(error);
    BareHost probe(library->GetModuleProperties(), library->MakeModule());
    if (!probe.Make(&error)) return Fail(error);
    std::vector<int32_t> inputs;
    for (int32_t pin = 0; pin < int32_t(probe.PinDeclarations().size()); ++pin) {
        const SEPinProperties& p = probe.Declarations()[probe.PinDeclarations()[pin]].properties;
        if (p.direction != DR_OUT && p.datatype == DT_FSAMPLE) inputs.push_back(pin);
    }
    probe.Close();
    const int32_t block = 256;
    const int blocks = context.Scaled(20, 30, 40, 60, 80);
    constexpr float kSubnormal = 2.5e-39f;
    // Each input in turn subnormal, the others normal, against all normal:
    // the median of three tries each, alternating, against a busy machine.
    auto median = [&](int32_t odd_pin, float odd_value) {
        double tries[3];
        for (double& t : tries) t = TimeBlocks(*library, odd_pin, odd_value, block, blocks, &error);
        std::sort(tries, tries + 3);
        return tries[1] / blocks * 1e6;  // microseconds per block
    };
    const double normal = median(-1, 0.0f);
    if (normal < 0.0) return Fail(error);
    double worst = normal;
    int32_t worst_pin = -1;
    for (int32_t pin : inputs) {
        const double with_subnormal = median(pin, kSubnormal);
        if (with_subnormal < 0.0) return Fail(error);
        if (with_subnormal > worst) {
            worst = with_subnormal;
            worst_pin = pin;
        }
    }
    const double ratio = normal > 0.0 ? worst / normal : 1.0;
    std::string report = "block of " + std::to_string(block) + ": " + Number(normal) + " us with inputs 0.25";
    report += worst_pin < 0 ? ", no slower with any input at 2.5e-39"
                            : ", at most " + Number(worst) + " us with input " + std::to_string(worst_pin) +
                                  " at 2.5e-39 (x" + Number(ratio) + ")";
    // A measurement on a machine that may be busy: reported, never judged.
    return Report(report);
}

}  // namespace

void AddHostileInputChecks(std::vector<Check>* checks) {
    checks->push_back({"hostile-input", "hostile-values",
                       "0, negatives, 1e-45, 1e30, +-inf, NaN, lists in and out: outputs finite, blocks bounded",
                       &HostileValues});
    checks->push_back({"hostile-input", "useful-values",
                       "inputs inside their useful ranges: outputs finite and never subnormal", &UsefulValues});
    checks->push_back({"subnormal-cost", "subnormal-inputs",
                       "reports a block with subnormal inputs against normal ones", &SubnormalCost});
}

}  // namespace sepcheck
