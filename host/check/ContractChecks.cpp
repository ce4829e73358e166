// The contract seen from the module's side: status changes and events never
// stamped before the current clock, pin indexes inside the table, SE_CB_SLEEP
// only after the outputs were announced static, a process function never
// null; outputs that change only while announced streaming (or at the clock
// of an ST_CHANGED_ONCE); and no heap request in a process or event call.
#include <memory>

#include "Allocations.h"
#include "Checks.h"
#include "Drive.h"
#include "Progress.h"
#include "StatusRule.h"

namespace sepcheck {

namespace {

// The sample outputs of every placed instance, for the status rule.
std::vector<StatusRule::Output> StatusOutputs(const sephost::Engine& engine) {
    std::vector<StatusRule::Output> outputs;
    for (int n = 0; n < engine.InstanceCount(); ++n)
        for (const PinRef& out : SampleOutputPins(engine, n)) outputs.push_back({{n, out.pin}, out.description.name});
    return outputs;
}

// One session of the status checks: one to three voices in an engine of a
// random block size, the status rule watching their sample outputs, their
// inputs driven by random changes (hostile values or useful ones) over a
// random span, the patch opened.
struct StatusSession {
    std::unique_ptr<sephost::Engine> engine;
    const StatusRule* rule = nullptr;
    int32_t block_size = 0;
    uint32_t span = 0;

    bool Start(const sephost::Library& library, std::mt19937& random, bool record_callbacks, bool hostile,
               std::string* error) {
        sephost::EngineOptions options;
        options.block_size = 16 << (random() % 7);
        options.record_callbacks = record_callbacks;
        options.record_outputs = false;
        block_size = options.block_size;
        engine = std::make_unique<sephost::Engine>(options);
        const int voices = 1 + int(random() % 3);
        if (engine->Place(library, voices, error) < 0) return false;
        auto owned = std::make_unique<StatusRule>(StatusOutputs(*engine), options.block_size);
        rule = owned.get();
        engine->Monitor().AddRule(std::move(owned));
        span = uint32_t(options.block_size) * (6 + random() % 10);
        for (int v = 0; v < voices; ++v) DriveRandomly(*engine, v, random, span, 10 + int(random() % 30), hostile);
        return engine->Open(error);
    }
};

Verdict ModuleSide(const CheckContext& context) {
    std::string error;
    auto library = sephost::Library::Load(context.path, &error);
    if (library == nullptr) return Fail(error);
    const std::vector<int> sessions = context.Cases(0, context.Scaled(6, 16, 40, 100, 200));
    size_t callbacks = 0, sleeps = 0;
    for (int session : sessions) {
        NoteCase(session);
        std::mt19937 random = context.CaseRandom("contract", session);
        StatusSession status;
        if (!status.Start(*library, random, true, session % 2, &error)) return Fail(error);
        sephost::Engine& engine = *status.engine;
        const StatusRule* sleep_rule = status.rule;
        const uint32_t span = status.span;
        const std::string where = "session " + std::to_string(session) + ": ";
        // The monitor's own rules: stamps, pin indexes, process function.
        engine.Run(span, &error);
        if (!engine.Breaches().empty()) return Fail(where + engine.Breaches().front());
        if (engine.Monitor().Stopped()) return Fail(where + engine.Monitor().StopReason());
        for (int n = 0; n < engine.InstanceCount(); ++n)
            if (engine.Record(n) != nullptr && engine.Record(n)->process_function == nullptr)
                return Fail(where + "instance " + std::to_string(n) + " holds a null process function");
        if (!sleep_rule->SleepBreak().empty()) return Fail(where + sleep_rule->SleepBreak());
        callbacks += engine.Callbacks().size();
        sleeps += sleep_rule->Sleeps();
    }
    return Pass(std::to_string(sessions.size()) + " sessions, " + std::to_string(callbacks) + " callbacks, " +
                std::to_string(sleeps) + " sleep requests, no breach");
}

// Sessions of one to three voices driven by useful values that change at
// random clocks, each output's samples held against the statuses announced
// on it: a module feeding another one whose outputs change while announced
// still would be read as holding its first value.
Verdict AnnouncedStatuses(const CheckContext& context) {
    std::string error;
    auto library = sephost::Library::Load(context.path, &error);
    if (library == nullptr) return Fail(error);
    const std::vector<int> sessions = context.Cases(0, context.Scaled(6, 16, 40, 100, 200));
    size_t changes = 0;
    uint32_t samples = 0;
    for (int session : sessions) {
        NoteCase(session);
        std::mt19937 random = context.CaseRandom("announced-statuses", session);
        StatusSession status;
        if (!status.Start(*library, random, false, false, &error)) return Fail(error);
        const StatusRule* rule = status.rule;
        const uint32_t span = status.span;
        status.engine->Run(span, &error);
        if (!rule->StillBreak().empty())
            return Fail("session " + std::to_string(session) + ": " + rule->StillBreak() + " (block " +
                        std::to_string(status.block_size) + ")");
        changes += rule->Changes();
        samples += span;
    }
    return Pass(std::to_string(sessions.size()) + " sessions, " + std::to_string(samples) + " samples, " +
                std::to_string(changes) + " output changes, each announced");
}

Verdict NoAllocation(const CheckContext& context) {
    if (!AllocationCountingAvailable())
        return Skip("skipped: the sanitizer's allocator hides the module's requests in this build");
    std::string error;
    CodeRange range;
    auto library = LoadWithCode(context.path, &range, &error);
    if (library == nullptr) return Fail(error);
    const std::vector<int> sessions = context.Cases(0, context.Scaled(4, 10, 20, 50, 100));
    uint32_t samples = 0;
    for (int session : sessions) {
        NoteCase(session);
        std::mt19937 random = context.CaseRandom("allocation", session);
        sephost::EngineOptions options;
        options.block_size = 32 << (random() % 6);
        options.record_outputs = false;
        sephost::Engine engine(options);
        const int voices = 1 + int(random() % 4);
        if (engine.Place(*library, voices, &error) < 0) return Fail(error);
        const uint32_t span = uint32_t(options.block_size) * (4 + random() % 8);
        for (int v = 0; v < voices; ++v) DriveRandomly(engine, v, random, span, 10 + int(random() % 30), session % 2);
        if (!engine.Open(&error)) return Fail(error);
        // Only process and event calls run inside Run.
        StartCountingAllocations(range);
        engine.Run(span, &error);
        const size_t count = StopCountingAllocations();
        if (count > 0)
            return Fail(std::to_string(count) + " heap requests from the module in process or event calls (session " +
                        std::to_string(session) + ", " + std::to_string(span) + " samples, block " +
                        std::to_string(options.block_size) + ")");
        samples += span;
    }
    return Pass("no heap request in " + std::to_string(sessions.size()) + " sessions, " + std::to_string(samples) +
                " samples");
}

}  // namespace

void AddContractChecks(std::vector<Check>* checks) {
    checks->push_back({"contract", "module-side",
                       "stamps not in the past, pins in the table, sleep after static outputs, process never null",
                       &ModuleSide});
    checks->push_back({"contract", "announced-statuses",
                       "outputs change only while announced streaming, or at the clock of a change announced once",
                       &AnnouncedStatuses});
    checks->push_back(
        {"allocation", "process-and-events", "no heap request inside process or event calls", &NoAllocation});
}

}  // namespace sepcheck
