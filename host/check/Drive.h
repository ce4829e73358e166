// What several checks share: the pins of a placed instance seen as inputs
// and outputs, random values for them (hostile ones, and ones inside the
// useful range), a patch driven by random changes at random clocks, runs
// timed block by block, and the scan of output samples.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "Allocations.h"
#include "SepHost.h"

namespace sepcheck {

struct PinRef {
    int32_t pin;  // table index
    sephost::PinDescription description;
};

// Audio-side pins of an instance, in table order.
std::vector<PinRef> InputPins(const sephost::Engine& engine, int instance);
std::vector<PinRef> SampleOutputPins(const sephost::Engine& engine, int instance);

// 0, negatives, 1e-45, 1e30, +-infinity, NaN, or an ordinary number.
float HostileSample(std::mt19937& random);
// 0, or a magnitude between 0.01 and 1 with either sign.
float UsefulSample(std::mt19937& random);
// A list value from the choices (inside), or any 16-bit number (outside);
// an integer pin's value near its default.
int32_t ListValue(std::mt19937& random, const sephost::PinDescription& pin, bool inside);

// The module library at `path`, and with `range` not null the range of its
// loaded code, which the heap watches (Allocations.h) need; null with the
// reason.
std::unique_ptr<sephost::Library> LoadWithCode(const std::string& path, CodeRange* range, std::string* error);

// Starting values on every input and `changes` changes at random clocks in
// [0, span): new values, short streams, bare status changes.
void DriveRandomly(sephost::Engine& engine, int instance, std::mt19937& random, uint32_t span, int changes,
                   bool hostile);

// Where a scan found a sample: the instance and the sample clock.
struct SampleAt {
    int instance = -1;
    uint32_t clock = 0;
};

// What the samples of one output held.
struct OutputScan {
    size_t samples = 0, nan = 0, infinite = 0, subnormal = 0;
    std::string first_bad;        // the first NaN or infinite sample: "instance 0 "out" sample 1234 is nan"
    std::string first_subnormal;  // the first subnormal sample
    SampleAt first_bad_at, first_subnormal_at;
};
// `samples` of output `name` of `instance`, sample j at clock j.
void ScanSamples(const std::vector<float>& samples, size_t from, int instance, const std::string& name,
                 OutputScan* scan);
// The scan of every sample output of every instance, from sample `from` on.
OutputScan ScanOutputs(const sephost::Engine& engine, size_t from);

// Every sample input of an instance by name, with the value driven on it
// at `clock` (Engine::DrivenInput: ask an engine not yet run that far).
std::vector<std::pair<std::string, float>> DrivenInputsAt(const sephost::Engine& engine, int instance, uint32_t clock);

// Runs `samples` samples a host block at a time; false with the reason on a
// run error or a block slower than `bound` seconds; `worst` the slowest.
bool RunTimed(sephost::Engine& engine, uint32_t samples, int32_t block, double bound, double* worst,
              std::string* error);

std::string Number(double value);  // shortest text that reads back

double Seconds();  // monotonic clock

}  // namespace sepcheck
