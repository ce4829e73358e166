#include "Drive.h"

#include <time.h>

#include <cmath>
#include <cstdio>
#include <limits>

namespace sepcheck {

std::vector<PinRef> InputPins(const sephost::Engine& engine, int instance) {
    std::vector<PinRef> pins;
    const std::vector<sephost::PinDescription> all = engine.Pins(instance);
    for (int32_t pin = 0; pin < static_cast<int32_t>(all.size()); ++pin)
        if (all[pin].direction != DR_OUT) pins.push_back({pin, all[pin]});
    return pins;
}

std::vector<PinRef> SampleOutputPins(const sephost::Engine& engine, int instance) {
    std::vector<PinRef> pins;
    const std::vector<sephost::PinDescription> all = engine.Pins(instance);
    for (int32_t pin = 0; pin < static_cast<int32_t>(all.size()); ++pin)
        if (all[pin].direction == DR_OUT && all[pin].datatype == DT_FSAMPLE) pins.push_back({pin, all[pin]});
    return pins;
}

float HostileSample(std::mt19937& random) {
    const float kinds[] = {0.0f,
                           -0.0f,
                           -1.0f,
                           1.0e-45f,
                           -1.0e-45f,
                           1.0e-40f,
                           1.0e30f,
                           -1.0e30f,
                           3.0e38f,
                           std::numeric_limits<float>::infinity(),
                           -std::numeric_limits<float>::infinity(),
                           std::numeric_limits<float>::quiet_NaN()};
    const size_t kinds_count = sizeof kinds / sizeof kinds[0];
    const uint32_t pick = random() % (kinds_count + 4);
    if (pick < kinds_count) return kinds[pick];
    // An ordinary number over many octaves, either sign.
    const float magnitude = std::ldexp(1.0f + float(random() % 1000) / 1000.0f, int(random() % 40) - 20);
    return random() % 2 ? magnitude : -magnitude;
}

float UsefulSample(std::mt19937& random) {
    if (random() % 8 == 0) return 0.0f;
    const float magnitude = 0.01f + 0.99f * float(random() % 100000) / 100000.0f;
    return random() % 2 ? magnitude : -magnitude;
}

int32_t ListValue(std::mt19937& random, const sephost::PinDescription& pin, bool inside) {
    if (pin.datatype == DT_ENUM && inside && !pin.choices.empty())
        return pin.choices[random() % pin.choices.size()].value;
    if (pin.datatype == DT_ENUM) return int32_t(random() % 65536) - 32768;
    const int32_t base = sephost::DefaultIntegerValue(pin.default_text.c_str());
    if (inside) return base + int32_t(random() % 3) - 1;
    return static_cast<int32_t>(random());
}

void DriveRandomly(sephost::Engine& engine, int instance, std::mt19937& random, uint32_t span, int changes,
                   bool hostile) {
    const std::vector<PinRef> inputs = InputPins(engine, instance);
    if (inputs.empty()) return;
    auto sample = [&]() { return hostile ? HostileSample(random) : UsefulSample(random); };
    for (const PinRef& input : inputs) {
        if (input.description.datatype == DT_FSAMPLE) {
            engine.SetInput(instance, input.pin, sample());
        } else if (input.description.datatype == DT_ENUM || input.description.datatype == DT_INT) {
            engine.SetInputInt(instance, input.pin, ListValue(random, input.description, !hostile));
        }
    }
    for (int k = 0; k < changes; ++k) {
        const PinRef& input = inputs[random() % inputs.size()];
        const uint32_t at = span > 0 ? uint32_t(random() % span) : 0;
        const uint32_t what = random() % 8;
        if (what == 0) {
            engine.SendStatus(instance, input.pin, int32_t(random() % 3), at);
        } else if (input.description.datatype == DT_FSAMPLE && what == 1) {
            std::vector<float> stream(1 + random() % 64);
            for (float& s : stream) s = sample();
            engine.StreamInput(instance, input.pin, stream, at);
        } else if (input.description.datatype == DT_FSAMPLE) {
            engine.SetInput(instance, input.pin, sample(), at);
        } else if (input.description.datatype == DT_ENUM || input.description.datatype == DT_INT) {
            engine.SetInputInt(instance, input.pin, ListValue(random, input.description, !hostile), at);
        }
    }
}

void ScanSamples(const std::vector<float>& samples, size_t from, int instance, const std::string& name,
                 OutputScan* scan) {
    for (size_t j = from; j < samples.size(); ++j) {
        const float x = samples[j];
        const bool nan = std::isnan(x);
        const bool infinite = std::isinf(x);
        const bool subnormal = x != 0.0f && std::fabs(x) < std::numeric_limits<float>::min();
        ++scan->samples;
        scan->nan += nan;
        scan->infinite += infinite;
        scan->subnormal += subnormal;
        if ((nan || infinite) && scan->first_bad.empty()) {
            scan->first_bad = name + " sample " + std::to_string(j) + " is " + Number(x);
            scan->first_bad_at = {instance, uint32_t(j)};
        }
        if (subnormal && scan->first_subnormal.empty()) {
            scan->first_subnormal = name + " sample " + std::to_string(j) + " is " + Number(x);
            scan->first_subnormal_at = {instance, uint32_t(j)};
        }
    }
}

OutputScan ScanOutputs(const sephost::Engine& engine, size_t from) {
    OutputScan scan;
    for (int n = 0; n < engine.InstanceCount(); ++n)
        for (const PinRef& out : SampleOutputPins(engine, n))
            ScanSamples(engine.Output(n, out.pin), from, n,
                        "instance " + std::to_string(n) + " \"" + out.description.name + "\"", &scan);
    return scan;
}

std::vector<std::pair<std::string, float>> DrivenInputsAt(const sephost::Engine& engine, int instance, uint32_t clock) {
    std::vector<std::pair<std::string, float>> values;
    for (const PinRef& input : InputPins(engine, instance)) {
        float value = 0.0f;
        if (engine.DrivenInput(instance, input.pin, clock, &value)) values.push_back({input.description.name, value});
    }
    return values;
}

double Seconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

bool RunTimed(sephost::Engine& engine, uint32_t samples, int32_t block, double bound, double* worst,
              std::string* error) {
    *worst = 0.0;
    uint32_t done = 0;
    while (done < samples) {
        const uint32_t n = std::min<uint32_t>(samples - done, uint32_t(block));
        const uint32_t clock = engine.Clock();
        const double started = Seconds();
        if (!engine.Run(n, error)) return false;
        const double took = Seconds() - started;
        if (took > *worst) *worst = took;
        if (took > bound) {
            *error = "the host block at clock " + std::to_string(clock) + " (" + std::to_string(n) + " samples) took " +
                     Number(took) + " s, bound " + Number(bound) + " s";
            return false;
        }
        done += n;
    }
    return true;
}

std::string Number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

std::unique_ptr<sephost::Library> LoadWithCode(const std::string& path, CodeRange* range, std::string* error) {
    std::unique_ptr<sephost::Library> library = sephost::Library::Load(path, error);
    if (library == nullptr || range == nullptr) return library;
    if (CodeRangeOf(reinterpret_cast<const void*>(library->MakeModule()), range)) return library;
    *error = "cannot find the library's loaded image";
    return nullptr;
}

}  // namespace sepcheck
