// Life cycle: many instances made, opened, run and closed, in varied orders
// and clone groups, at many sample rates and block sizes, with process calls
// of random lengths. Every run ends with finite outputs and no breach. What
// a module frees is not touched again (use-after-close).
#include <algorithm>
#include <memory>

#include "Allocations.h"
#include "BareHost.h"
#include "Checks.h"
#include "Drive.h"
#include "Progress.h"

namespace sepcheck {

namespace {

// Runs one engine with random useful inputs; empty on success, else why.
std::string RunEngine(const sephost::Library& library, const CheckContext& context, std::mt19937& random, float rate,
                      int32_t block, int voices, uint32_t samples) {
    sephost::EngineOptions options;
    options.sample_rate = rate;
    options.block_size = block;
    sephost::Engine engine(options);
    std::string error;
    const int first = engine.Place(library, voices, &error);
    if (first < 0) return error;
    for (int v = 0; v < voices; ++v) DriveRandomly(engine, first + v, random, samples, 4 + int(random() % 12), false);
    if (!engine.Open(&error)) return error;
    double worst = 0.0;
    if (!RunTimed(engine, samples, block, context.BlockTimeBound(), &worst, &error)) return error;
    engine.Close();
    if (!engine.Breaches().empty()) return "breach: " + engine.Breaches().front();
    const OutputScan scan = ScanOutputs(engine, 0);
    if (scan.nan + scan.infinite > 0) return scan.first_bad;
    return "";
}

std::string Where(float rate, int32_t block, int voices) {
    return " (rate " + Number(rate) + " Hz, block " + std::to_string(block) + ", " + std::to_string(voices) +
           (voices == 1 ? " voice)" : " voices)");
}

Verdict OpenCloseCycles(const CheckContext& context) {
    std::string error;
    auto library = sephost::Library::Load(context.path, &error);
    if (library == nullptr) return Fail(error);
    const std::vector<int> cycles = context.Cases(0, context.Scaled(10, 25, 50, 100, 200));
    for (int cycle : cycles) {
        NoteCase(cycle);
        std::mt19937 random = context.CaseRandom("cycles", cycle);
        const std::string why = RunEngine(*library, context, random, 44100.0f, 256, 1, 64 + random() % 2048);
        if (!why.empty()) return Fail("cycle " + std::to_string(cycle) + ": " + why);
    }
    return Pass(std::to_string(cycles.size()) + " cycles of make, open, process, close");
}

Verdict VariedOrders(const CheckContext& context) {
    std::string error;
    auto library = sephost::Library::Load(context.path, &error);
    if (library == nullptr) return Fail(error);
    const std::vector<int> rounds = context.Cases(0, context.Scaled(2, 4, 8, 16, 32));
    for (int round : rounds) {
        NoteCase(round);
        std::mt19937 random = context.CaseRandom("orders", round);
        // Several patches made one after the other, opened and run in a
        // shuffled order, destroyed in another.
        const size_t count = 2 + random() % 6;
        std::vector<std::unique_ptr<sephost::Engine>> engines;
        sephost::EngineOptions options;
        options.block_size = 128;
        for (size_t k = 0; k < count; ++k) {
            engines.push_back(std::make_unique<sephost::Engine>(options));
            if (engines.back()->Place(*library, 1, &error) < 0) return Fail(error);
            DriveRandomly(*engines.back(), 0, random, 512, 6, false);
        }
        std::vector<size_t> order(count);
        for (size_t k = 0; k < count; ++k) order[k] = k;
        std::shuffle(order.begin(), order.end(), random);
        for (size_t k : order)
            if (!engines[k]->Open(&error)) return Fail("patch " + std::to_string(k) + ": " + error);
        std::shuffle(order.begin(), order.end(), random);
        for (size_t k : order)
            if (!engines[k]->Run(512, &error)) return Fail("patch " + std::to_string(k) + ": " + error);
        std::shuffle(order.begin(), order.end(), random);
        for (size_t k : order) {
            const OutputScan scan = ScanOutputs(*engines[k], 0);
            if (scan.nan + scan.infinite > 0) return Fail(scan.first_bad);
            engines[k].reset();
        }
    }
    return Pass(std::to_string(rounds.size()) + " rounds of 2 to 7 instances in shuffled orders");
}

Verdict CloneGroups(const CheckContext& context) {
    std::string error;
    auto library = sephost::Library::Load(context.path, &error);
    if (library == nullptr) return Fail(error);
    // Cases 0 to 5 the fixed sizes, then groups of random size.
    const std::vector<int> fixed = {1, 2, 3, 8, 16, 32};
    const std::vector<int> groups = context.Cases(0, int(fixed.size()) + context.Scaled(0, 2, 4, 8, 16));
    for (int group : groups) {
        NoteCase(group);
        std::mt19937 random = context.CaseRandom("clones", group);
        const int voices = group < int(fixed.size()) ? fixed[size_t(group)] : 1 + int(random() % 32);
        const std::string why = RunEngine(*library, context, random, 48000.0f, 256, voices, 2048);
        if (!why.empty()) return Fail(why + Where(48000.0f, 256, voices));
    }
    return Pass(std::to_string(groups.size()) + " clone groups of 1 to 32 voices");
}

// The life UseAfterClose watches: two clone groups made and run, the first
// closed while the second runs on, a third made, run and closed, then the
// second closed; each stretch labelled for the held frees. The engines stay
// with the caller, so that none is destroyed while frees are held. The first
// failure, or empty.
std::string RunGroupsClosingOne(const sephost::Library& library, const sephost::EngineOptions& options, uint32_t span,
                                const int (&voices)[3], std::unique_ptr<sephost::Engine> (&groups)[3],
                                std::mt19937& random) {
    std::string error;
    std::string why;
    for (int g = 0; g < 2 && why.empty(); ++g) {
        groups[g] = std::make_unique<sephost::Engine>(options);
        if (groups[g]->Place(library, voices[g], &error) < 0) why = error;
        for (int v = 0; v < voices[g] && why.empty(); ++v) DriveRandomly(*groups[g], v, random, 2 * span, 6, false);
        if (why.empty() && !groups[g]->Open(&error)) why = error;
        if (why.empty() && !groups[g]->Run(span, &error)) why = error;
    }
    if (why.empty()) {
        LabelHeldFrees("the close of the first clone group");
        groups[0]->Close();
        LabelHeldFrees("a run after the first clone group's close");
        if (!groups[1]->Run(span, &error)) why = error;
    }
    if (why.empty()) {
        LabelHeldFrees("the life of a third clone group made after the first one's close");
        groups[2] = std::make_unique<sephost::Engine>(options);
        if (groups[2]->Place(library, voices[2], &error) < 0 || !groups[2]->Open(&error) ||
            !groups[2]->Run(span, &error))
            why = error;
        groups[2]->Close();
    }
    if (why.empty()) {
        LabelHeldFrees("the close of the second clone group");
        groups[1]->Close();
    }
    return why;
}

// Two clone groups run side by side; the first is closed while the second
// runs on, a third is made, run and closed, then the second is closed. Every
// block the module frees meanwhile is held, filled with a pattern: one
// written after it was freed (in its close, by another instance, by the next
// one made) is a use after close. Under the sanitizer its own report names
// the touch, read or write, as it happens.
Verdict UseAfterClose(const CheckContext& context) {
    std::string error;
    CodeRange range;
    const bool holding = FreeHoldingAvailable();
    auto library = LoadWithCode(context.path, holding ? &range : nullptr, &error);
    if (library == nullptr) return Fail(error);
    const std::vector<int> cases = context.Cases(0, context.Scaled(3, 6, 12, 24, 48));
    size_t held = 0;
    for (int k : cases) {
        NoteCase(k);
        std::mt19937 random = context.CaseRandom("use-after-close", k);
        sephost::EngineOptions options;
        options.block_size = 64 << (random() % 4);
        const uint32_t span = uint32_t(options.block_size) * (2 + random() % 4);
        const int voices[3] = {1 + int(random() % 3), 1 + int(random() % 3), 1 + int(random() % 2)};
        std::unique_ptr<sephost::Engine> groups[3];
        if (holding) StartHoldingFrees(range);
        LabelHeldFrees("making and running the instances");
        const std::string why = RunGroupsClosingOne(*library, options, span, voices, groups, random);
        StopHoldingFrees();
        HeldWrite write;
        const bool written = FirstWriteToHeldBlock(&write);
        held += HeldBlocks();
        ReleaseHeldBlocks();
        if (written)
            return Fail("use after close: a " + std::to_string(write.block_bytes) + "-byte block the module freed in " +
                        write.label + " was written after it was freed: " + std::to_string(write.changed) +
                        " of its bytes changed, the first at offset " + std::to_string(write.offset) + " (case " +
                        std::to_string(k) + ", clone groups of " + std::to_string(voices[0]) + ", " +
                        std::to_string(voices[1]) + " and " + std::to_string(voices[2]) + ", block " +
                        std::to_string(options.block_size) + ")");
        if (!why.empty()) return Fail("case " + std::to_string(k) + ": " + why);
    }
    if (!holding)
        return Pass(std::to_string(cases.size()) +
                    " cases of clone groups closed while others run, under the "
                    "sanitizer's watch");
    return Pass(std::to_string(cases.size()) + " cases of clone groups closed while others run; " +
                std::to_string(held) + " freed blocks held, none written after it was freed");
}

Verdict SampleRates(const CheckContext& context) {
    std::string error;
    auto library = sephost::Library::Load(context.path, &error);
    if (library == nullptr) return Fail(error);
    const std::vector<float> fixed = {1000.0f,   8000.0f,  11025.0f,  22050.0f,  32000.0f,  44100.0f,
                                      48000.0f,  88200.0f, 96000.0f,  176400.0f, 192000.0f, 384000.0f,
                                      768000.0f, 44100.5f, 47999.75f, 1234.567f};
    // Cases: the fixed rates, then random ones; the last part (no rate sent)
    // has no case number.
    const std::vector<int> rates = context.Cases(0, int(fixed.size()) + context.Scaled(0, 4, 8, 16, 32));
    for (int k : rates) {
        NoteCase(k);
        std::mt19937 random = context.CaseRandom("rates", k);
        const float rate = k < int(fixed.size())
                               ? fixed[size_t(k)]
                               : 1000.0f + float(random() % 767000) + float(random() % 1000) / 1000.0f;
        const std::string why = RunEngine(*library, context, random, rate, 512, 1, 4096);
        if (!why.empty()) return Fail(why + Where(rate, 512, 1));
    }
    if (!context.RunsUncased()) return Pass("case " + std::to_string(context.only_case) + " of the rates");
    // No rate and no block size sent at all: the defaults apply.
    NoteCase(-1);
    BareHost host(library->GetModuleProperties(), library->MakeModule());
    if (!host.Make(&error)) return Fail(error);
    host.Open(-1.0f, -1);
    for (int k = 0; k < 8; ++k) host.Process(0, host.BlockSize());
    const std::string bad = host.NonFiniteOutput();
    if (!bad.empty()) return Fail("with no rate sent, " + bad);
    return Pass(std::to_string(rates.size()) + " rates from 1000 to 768000 Hz, and none sent");
}

Verdict BlockSizes(const CheckContext& context) {
    std::string error;
    auto library = sephost::Library::Load(context.path, &error);
    if (library == nullptr) return Fail(error);
    // Cases from 0: the fixed block sizes, then random ones; from 1000: the
    // rounds of calls of random lengths.
    const std::vector<int32_t> fixed = {1, 2, 3, 7, 16, 64, 100, 1000, 1024, 4096, 16384};
    const std::vector<int> blocks = context.Cases(0, int(fixed.size()) + context.Scaled(0, 3, 6, 12, 24));
    for (int k : blocks) {
        NoteCase(k);
        std::mt19937 random = context.CaseRandom("blocks", k);
        const int32_t block = k < int(fixed.size()) ? fixed[size_t(k)] : 1 + int32_t(random() % 16384);
        const uint32_t samples = std::max<uint32_t>(uint32_t(block) * 3, 2048);
        const std::string why = RunEngine(*library, context, random, 44100.0f, block, 1, samples);
        if (!why.empty()) return Fail(why + Where(44100.0f, block, 1));
    }
    // Calls of random lengths inside each block, as a host cuts its blocks
    // at event times.
    const std::vector<int> rounds = context.Cases(1000, context.Scaled(4, 8, 16, 32, 64));
    for (int round : rounds) {
        NoteCase(round);
        std::mt19937 random = context.CaseRandom("blocks", round);
        BareHost host(library->GetModuleProperties(), library->MakeModule());
        if (!host.Make(&error)) return Fail(error);
        const int32_t block = 1 + int32_t(random() % 2048);
        host.Open(44100.0f, block);
        for (int b = 0; b < 6; ++b) {
            int32_t start = 0;
            while (start < block) {
                const int32_t count = std::min<int32_t>(block - start, 1 + int32_t(random() % block));
                host.Process(start, count);
                start += count;
                if (random() % 3 == 0 && !host.PinDeclarations().empty())
                    host.Deliver(int32_t(random() % host.PinDeclarations().size()), ST_CHANGED_ONCE);
            }
            const std::string bad = host.NonFiniteOutput();
            if (!bad.empty()) return Fail("calls of random length, block " + std::to_string(block) + ": " + bad);
        }
    }
    return Pass(std::to_string(blocks.size()) + " block sizes from 1 to 16384, " + std::to_string(rounds.size()) +
                " rounds of calls of random length");
}

}  // namespace

void AddLifeCycleChecks(std::vector<Check>* checks) {
    checks->push_back({"life-cycle", "open-close-cycles", "many make, open, process, close cycles", &OpenCloseCycles});
    checks->push_back(
        {"life-cycle", "varied-orders", "instances made, opened, run and destroyed in shuffled orders", &VariedOrders});
    checks->push_back({"life-cycle", "clone-groups", "clone groups of 1 to 32 voices", &CloneGroups});
    checks->push_back(
        {"life-cycle", "sample-rates", "rates from 1000 to 768000 Hz, fractional ones, none sent", &SampleRates});
    checks->push_back({"life-cycle", "block-sizes", "block sizes 1 to 16384, calls of random lengths", &BlockSizes});
    checks->push_back({"life-cycle", "use-after-close",
                       "memory the module frees (at a close, or before) is not written afterwards", &UseAfterClose});
}

}  // namespace sepcheck
