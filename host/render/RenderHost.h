// The renderer's one seam to the test host engine: place, connect, set
// inputs, run one host block, and read the blocks of the outputs it taps.
// The blocks stream out of the engine through a StreamSink, so memory
// stays one block per output whatever the length of the render. Everything
// else in host/render/ depends on the engine only through this.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "SepHost.h"

namespace sephost::render {

class RenderHost {
public:
    // `fill_driven_by_sample`: EngineOptions' reference fill.
    RenderHost(float sample_rate, int32_t block_size, bool fill_driven_by_sample = false);
    ~RenderHost();
    RenderHost(const RenderHost&) = delete;
    RenderHost& operator=(const RenderHost&) = delete;

    float SampleRate() const { return m_sample_rate; }
    int32_t BlockSize() const { return m_block_size; }

    // The number of the first clone, or -1 with `error`.
    int Place(const Library& library, int voices, std::string* error);

    // The instance's pins, in pin order (declarations that get no pin left
    // out).
    std::vector<PinDescription> Pins(int instance) const;

    bool Connect(int from, int32_t out_pin, int to, int32_t in_pin, std::string* error);

    // Before Open: asks for the blocks of one output; returns the tap number
    // for TapBlock.
    int Tap(int instance, int32_t pin);
    int TapCount() const { return static_cast<int>(m_taps.size()); }

    // The bytes of the modules' pin buffers placed so far.
    size_t PinBufferBytes() const;

    // Makes the taps' blocks (counted beforehand by the graph's memory
    // check) and opens the engine.
    bool Open(std::string* error);

    // The value of an unconnected input from clock `at` on (a list or
    // integer pin takes the rounded value). Clock 0 before the first block:
    // the pin's starting value.
    void SetInput(int instance, int32_t pin, float value, uint32_t at);

    // Before Open: an unconnected float-sample input that Feed drives block
    // by block; returns the feed's number.
    int AddFeed(int instance, int32_t pin);

    // The next block's `samples` samples of feed `feed`, from the current
    // clock on, delivered as a host delivers a module's output: a streamed
    // input from the first sample that moves (ST_STREAMING once), and, when
    // a whole block holds the value the stream ended on, a still input from
    // that block's first clock (ST_CHANGED_ONCE). A held input that steps to
    // a value it keeps to the block's end changes once, still, at the step's
    // sample. A feed that never moves sends nothing: its first value is the
    // input's starting value.
    void Feed(int feed, const float* samples, int32_t count);

    // Runs one host block of `samples` (1 to the block size) samples.
    bool RunBlock(int32_t samples, std::string* error);

    // The samples a tapped output produced in the last block, valid until
    // the next RunBlock.
    const float* TapBlock(int tap) const;

    uint32_t Clock() const;

    // The first sample that was NaN or infinite in a module output that
    // feeds something (another module or a tap): the earliest clock, and at
    // one clock the instance that ran first (the others may only have passed
    // it on).
    struct NonFinite {
        bool found = false;
        int instance = -1;
        int32_t pin = -1;
        uint32_t clock = 0;
    };
    const NonFinite& FirstNonFinite() const { return m_first_non_finite; }

    // The most samples the output stream has held at once.
    size_t StreamHighWaterMark() const { return m_sink != nullptr ? m_sink->HighWaterMark() : 0; }

    void Close();

private:
    struct Tapped {
        int instance;
        int32_t pin;
        std::vector<float> block;        // silence, until the first block
        const float* samples = nullptr;  // the last block's, in the stream
        size_t output = 0;               // index into the stream's outputs
    };
    struct Fed {
        int instance;
        int32_t pin;
        bool started = false;  // a first block was fed
        bool moving = false;   // streamed, not yet at rest
        float held = 0.0f;     // the value the input holds after the last block
    };
    bool Take(const StreamBlock& block, std::string* error);
    void FindNonFinite(const StreamBlock& block);

    float m_sample_rate;
    int32_t m_block_size;
    std::unique_ptr<StreamSink> m_sink;
    std::unique_ptr<Engine> m_engine;
    std::vector<Tapped> m_taps;
    std::vector<Fed> m_feeds;
    bool m_mapped = false;
    NonFinite m_first_non_finite;
    std::vector<int> m_run_rank;               // by instance: its place in the run order
    std::set<std::pair<int, int32_t>> m_used;  // outputs that feed something
};

}  // namespace sephost::render
