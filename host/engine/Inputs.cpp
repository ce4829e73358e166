// Driven and streamed inputs: values the host sets on unconnected inputs,
// each from its own clock on, with the status change delivered at that
// clock.
#include <algorithm>
#include <cmath>

#include "EngineCore.h"

namespace sephost {

namespace {

// Float to the integer of an enum or int pin: rounded, saturated, NaN to 0.
int32_t SaturatingInt(float value) {
    if (!(value == value)) return 0;
    if (value >= 2147483520.0f) return INT32_MAX;
    if (value <= -2147483648.0f) return INT32_MIN;
    return static_cast<int32_t>(std::lround(value));
}

// Value of a driven sample input at `at_clock`: the reference, one
// sample at a time, that FillRuns must equal.
float DrivenValue(const Pin& pin, uint32_t at_clock, float fallback) {
    float value = fallback;
    for (const Segment& s : pin.segments) {
        if (s.at > at_clock) break;
        if (s.samples.empty()) {
            value = s.value;
        } else {
            const uint32_t k = std::min<uint32_t>(at_clock - s.at, static_cast<uint32_t>(s.samples.size() - 1));
            value = s.samples[k];
        }
    }
    return value;
}

// Values are only ever added from the current clock on, so every segment
// before the one in force at `block_start` is never read again. Dropping
// them keeps the cost of a sample flat over a run that drives an input
// many times (a long score's gates and pitches).
void DropPassedSegments(Pin& pin, uint32_t block_start) {
    auto later = std::upper_bound(pin.segments.begin(), pin.segments.end(), block_start,
                                  [](uint32_t clock, const Segment& s) { return clock < s.at; });
    if (later - pin.segments.begin() > 1) pin.segments.erase(pin.segments.begin(), later - 1);
}

// Fills `n` samples from `block_start` on, one run per segment: a held
// value is one fill, a streamed one a copy and then its last sample held.
// Each sample is the one DrivenValue gives.
void FillRuns(const Pin& pin, uint32_t block_start, int32_t n, float* out) {
    const std::vector<Segment>& segments = pin.segments;
    size_t next = 0;  // the first segment not yet in force
    while (next < segments.size() && segments[next].at <= block_start) ++next;
    const Segment* current = next > 0 ? &segments[next - 1] : nullptr;
    int32_t k = 0;
    while (k < n) {
        int32_t end = n;
        if (next < segments.size() && segments[next].at - block_start < static_cast<uint32_t>(n))
            end = static_cast<int32_t>(segments[next].at - block_start);
        if (current == nullptr) {
            std::fill(out + k, out + end, pin.default_value);
        } else if (current->samples.empty()) {
            std::fill(out + k, out + end, current->value);
        } else {
            const std::vector<float>& samples = current->samples;
            const uint32_t first = block_start + static_cast<uint32_t>(k) - current->at;
            const size_t left = first < samples.size() ? samples.size() - first : 0;
            const int32_t copied = static_cast<int32_t>(std::min<size_t>(left, static_cast<size_t>(end - k)));
            if (copied > 0) std::copy(samples.data() + first, samples.data() + first + copied, out + k);
            std::fill(out + k + copied, out + end, samples.back());
        }
        k = end;
        if (k < n) current = &segments[next++];
    }
}

}  // namespace

Pin* Engine::Impl::DrivablePin(int instance, int32_t pin) {
    Pin* p = GetPin(instance, pin);
    if (p == nullptr || p->source_instance >= 0 || p->description.direction == DR_OUT) return nullptr;
    return p;
}

// A later value at the same clock replaces the earlier one.
void Engine::Impl::AddSegment(Pin* pin, Segment segment) {
    auto it = std::lower_bound(pin->segments.begin(), pin->segments.end(), segment.at,
                               [](const Segment& s, uint32_t c) { return s.at < c; });
    if (it != pin->segments.end() && it->at == segment.at) it = pin->segments.erase(it);
    pin->segments.insert(it, std::move(segment));
}

void Engine::Impl::FillDrivenInputs(Instance* inst, uint32_t block_start, int32_t n) {
    for (Pin& pin : inst->pins) {
        if (pin.description.datatype != DT_FSAMPLE || pin.description.direction == DR_OUT) continue;
        if (pin.source_instance >= 0 || pin.segments.empty()) continue;
        DropPassedSegments(pin, block_start);
        if (!options.fill_driven_by_sample) {
            FillRuns(pin, block_start, n, pin.buffer.data());
            continue;
        }
        for (int32_t k = 0; k < n; ++k)
            pin.buffer[static_cast<size_t>(k)] =
                DrivenValue(pin, block_start + static_cast<uint32_t>(k), pin.default_value);
    }
}

void Engine::SetInput(int instance, int32_t pin, float value, uint32_t at) {
    Impl& e = *m_impl;
    Pin* p = e.DrivablePin(instance, pin);
    if (p == nullptr) return;
    if (p->description.datatype != DT_FSAMPLE) {
        SetInputInt(instance, pin, SaturatingInt(value), at);
        return;
    }
    const bool starting = !e.started && at == 0;
    at = std::max(at, e.clock);
    e.AddSegment(p, Segment{at, value, {}});
    if (starting) {
        p->streamed_from_start = false;
        std::fill(p->buffer.begin(), p->buffer.end(), value);
        return;
    }
    e.QueueStatus(e.Get(instance), pin, ST_CHANGED_ONCE, at);
}

void Engine::SetInputInt(int instance, int32_t pin, int32_t value, uint32_t at) {
    Impl& e = *m_impl;
    Pin* p = e.DrivablePin(instance, pin);
    if (p == nullptr) return;
    if (p->description.datatype == DT_FSAMPLE) {
        SetInput(instance, pin, static_cast<float>(value), at);
        return;
    }
    if (!e.started && at == 0) {
        p->value = value;
        e.WriteVariable(e.Get(instance), pin);
        return;
    }
    at = std::max(at, e.clock);
    e.QueueStatus(e.Get(instance), pin, ST_CHANGED_ONCE, at, EventAction::kWriteIntThenDeliver, value);
}

void Engine::StreamInput(int instance, int32_t pin, const std::vector<float>& samples, uint32_t at, bool announce) {
    Impl& e = *m_impl;
    Pin* p = e.DrivablePin(instance, pin);
    if (p == nullptr || p->description.datatype != DT_FSAMPLE || samples.empty()) return;
    const bool starting = !e.started && at == 0;
    at = std::max(at, e.clock);
    e.AddSegment(p, Segment{at, 0.0f, samples});
    if (starting) {
        p->streamed_from_start = true;
        return;
    }
    if (announce) e.QueueStatus(e.Get(instance), pin, ST_STREAMING, at);
}

bool Engine::DrivenInput(int instance, int32_t pin, uint32_t clock, float* value) const {
    const Pin* p = m_impl->GetPin(instance, pin);
    if (p == nullptr || p->source_instance >= 0 || p->description.direction == DR_OUT ||
        p->description.datatype != DT_FSAMPLE)
        return false;
    *value = DrivenValue(*p, clock, p->default_value);
    return true;
}

void Engine::SendStatus(int instance, int32_t pin, int32_t status, uint32_t at) {
    Impl& e = *m_impl;
    if (e.GetPin(instance, pin) == nullptr) return;
    e.QueueStatus(e.Get(instance), pin, status, std::max(at, e.clock));
}

}  // namespace sephost
