// Hostile host: the faults a badly written host makes. A pin count answered
// too small, status events for pins that do not exist, a pin whose buffer
// address was never written, a buffer clock that puts the current sample
// outside the block. The module may ignore what it cannot use, but it never
// reads or writes outside its own memory: the sanitizer build and valgrind
// see every access past the one-block buffers this host hands out.
#include <cmath>
#include <memory>

#include "BareHost.h"
#include "Checks.h"
#include "Drive.h"

namespace sepcheck {

namespace {

// A few blocks with the inputs held at values that make most modules run
// (every sample input 0.5), status events on the given pins between calls.
std::string Exercise(BareHost& host, std::mt19937& random, const std::vector<int32_t>& event_pins, int blocks) {
    const int32_t pins = static_cast<int32_t>(host.PinDeclarations().size());
    for (int32_t pin = 0; pin < pins; ++pin) {
        const SEPinProperties& p = host.Declarations()[host.PinDeclarations()[pin]].properties;
        float* buffer = host.Buffer(pin);
        if (p.direction != DR_OUT && p.datatype == DT_FSAMPLE && buffer != nullptr)
            for (int32_t j = 0; j < host.BlockSize(); ++j) buffer[j] = 0.5f;
    }
    for (int b = 0; b < blocks; ++b) {
        int32_t start = 0;
        while (start < host.BlockSize()) {
            for (int32_t pin : event_pins) host.Deliver(pin, int32_t(random() % 3));
            const int32_t count = std::min<int32_t>(host.BlockSize() - start, 1 + int32_t(random() % host.BlockSize()));
            host.Process(start, count);
            start += count;
        }
    }
    return host.NonFiniteOutput();
}

Verdict PinCountTooSmall(const CheckContext& context) {
    std::string error;
    auto library = sephost::Library::Load(context.path, &error);
    if (library == nullptr) return Fail(error);
    std::mt19937 random = context.Random("pin-count");
    BareHost probe(library->GetModuleProperties(), library->MakeModule());
    if (!probe.Make(&error)) return Fail(error);
    const int32_t pins = static_cast<int32_t>(probe.PinDeclarations().size());
    probe.Close();
    // 0 last: a debug build stops at its contract check there.
    std::vector<int32_t> answers = {1, pins / 2, pins - 1, 0};
    for (int32_t answer : answers) {
        if (answer < 0 || answer >= pins) continue;
        BareHost host(library->GetModuleProperties(), library->MakeModule());
        if (!host.Make(&error)) return Fail(error);
        host.pin_count_answer = answer;
        host.Open(44100.0f, 256);
        // The host still announces every pin it made.
        std::vector<int32_t> all(static_cast<size_t>(pins));
        for (int32_t k = 0; k < pins; ++k) all[k] = k;
        const std::string why = Exercise(host, random, all, context.Scaled(2, 3, 4, 6, 8));
        if (!why.empty())
            return Fail("pin count answered " + std::to_string(answer) + " of " + std::to_string(pins) + ": " + why);
    }
    return Pass("pin counts 0, 1, half and one short of " + std::to_string(pins));
}

Verdict StatusForMissingPins(const CheckContext& context) {
    std::string error;
    auto library = sephost::Library::Load(context.path, &error);
    if (library == nullptr) return Fail(error);
    std::mt19937 random = context.Random("missing-pins");
    BareHost host(library->GetModuleProperties(), library->MakeModule());
    if (!host.Make(&error)) return Fail(error);
    host.Open(44100.0f, 128);
    const int32_t pins = static_cast<int32_t>(host.PinDeclarations().size());
    const std::vector<int32_t> missing = {pins, pins + 1, 40, 1000, -1, -2, 2147483647, -2147483647 - 1};
    const std::string why = Exercise(host, random, missing, context.Scaled(2, 3, 4, 6, 8));
    if (!why.empty()) return Fail(why);
    return Pass("status events for pins " + std::to_string(pins) + ", 40, 1000, -1, -2, 2^31-1, -2^31");
}

Verdict UnwrittenBuffer(const CheckContext& context) {
    std::string error;
    auto library = sephost::Library::Load(context.path, &error);
    if (library == nullptr) return Fail(error);
    std::mt19937 random = context.Random("unwritten");
    BareHost probe(library->GetModuleProperties(), library->MakeModule());
    if (!probe.Make(&error)) return Fail(error);
    std::vector<int32_t> sample_pins;
    for (int32_t pin = 0; pin < int32_t(probe.PinDeclarations().size()); ++pin)
        if (probe.Declarations()[probe.PinDeclarations()[pin]].properties.datatype == DT_FSAMPLE)
            sample_pins.push_back(pin);
    probe.Close();
    // Each sample pin once on its own, then all of them.
    std::vector<std::set<int32_t>> cases;
    for (int32_t pin : sample_pins) cases.push_back({pin});
    cases.push_back(std::set<int32_t>(sample_pins.begin(), sample_pins.end()));
    for (const std::set<int32_t>& unwritten : cases) {
        BareHost host(library->GetModuleProperties(), library->MakeModule());
        if (!host.Make(&error)) return Fail(error);
        host.unwritten_pins = unwritten;
        host.Open(44100.0f, 128);
        std::vector<int32_t> events;
        for (int32_t pin = 0; pin < int32_t(host.PinDeclarations().size()); ++pin) events.push_back(pin);
        const std::string why = Exercise(host, random, events, 2);
        if (!why.empty())
            return Fail(
                (unwritten.size() == 1 ? "pin " + std::to_string(*unwritten.begin()) : std::string("every pin")) +
                " without a buffer address: " + why);
    }
    return Pass(std::to_string(sample_pins.size()) + " sample pins without a buffer address, one at a time and all");
}

Verdict ClocksOutsideTheBlock(const CheckContext& context) {
    std::string error;
    auto library = sephost::Library::Load(context.path, &error);
    if (library == nullptr) return Fail(error);
    std::mt19937 random = context.Random("clocks");
    const int64_t shifts[] = {-100000, -1000, -257, 257, 1000, 100000, 2147483647, -2147483647};
    for (int64_t shift : shifts) {
        BareHost host(library->GetModuleProperties(), library->MakeModule());
        if (!host.Make(&error)) return Fail(error);
        host.buffer_clock_shift = shift;
        host.Open(44100.0f, 256);
        std::vector<int32_t> events;
        for (int32_t pin = 0; pin < int32_t(host.PinDeclarations().size()); ++pin) events.push_back(pin);
        const std::string why = Exercise(host, random, events, 2);
        if (!why.empty()) return Fail("buffer clock shifted by " + std::to_string(shift) + ": " + why);
    }
    return Pass("buffer clocks 257 to 2^31 samples off the block, both ways");
}

}  // namespace

void AddHostileHostChecks(std::vector<Check>* checks) {
    checks->push_back(
        {"hostile-host", "pin-count-too-small", "a pin count answered 0, 1, half, one short", &PinCountTooSmall, true});
    checks->push_back({"hostile-host", "status-for-missing-pins", "status events for pins that do not exist",
                       &StatusForMissingPins, true});
    checks->push_back(
        {"hostile-host", "unwritten-buffer", "pins whose buffer address was never written", &UnwrittenBuffer, true});
    checks->push_back({"hostile-host", "clocks-outside-block", "buffer clocks that put the sample outside the block",
                       &ClocksOutsideTheBlock, true});
}

}  // namespace sepcheck
