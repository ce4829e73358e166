// A built plug-in placed in the test host, set up by the host and then
// driven by calling each instance's current process function, as the host
// does inside a block. The host runs one block first, so that every pin
// buffer is bound and holds the values set before; later calls reprocess
// those buffers. Only what the module itself does is timed.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "../host/SepHost.h"

namespace benchrig {

// Directory of the plug-ins built from the code before the restructured
// synthesis (see scripts/bench.sh), or empty.
inline std::string BaselineDir() {
    const char* dir = std::getenv("SEP_BASELINE_PLUGINS");
    return dir != nullptr ? dir : "";
}

inline std::unique_ptr<sephost::Library> LoadOrDie(const std::string& path) {
    std::string error;
    std::unique_ptr<sephost::Library> library = sephost::Library::Load(path, &error);
    if (library == nullptr) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
        std::exit(1);
    }
    return library;
}

class PluginRig {
public:
    PluginRig(const sephost::Library& library, int voices, float sample_rate, int32_t block)
        : m_engine(Options(sample_rate, block)), m_block(block) {
        std::string error;
        m_first = m_engine.Place(library, voices, &error);
        if (m_first < 0) Die(error);
        m_voices = voices;
    }

    sephost::Engine& Engine() { return m_engine; }
    int First() const { return m_first; }

    // Opens and runs the first block through the host.
    void Start() {
        std::string error;
        if (!m_engine.Open(&error) || !m_engine.Run(static_cast<uint32_t>(m_block), &error)) Die(error);
    }

    // One block of every instance, through its current process function.
    void ProcessBlock() {
        for (int v = m_first; v < m_first + m_voices; ++v) {
            HostRecord* record = m_engine.Record(v);
            record->process_function(record->object, 0, m_block);
        }
    }

    bool AnySleeping() const {
        for (int v = m_first; v < m_first + m_voices; ++v)
            if (m_engine.Sleeping(v)) return true;
        return false;
    }

    // The timed loop: one block per iteration, reported per sample and voice.
    void Time(benchmark::State& state) {
        for (auto _ : state) {
            ProcessBlock();
            benchmark::ClobberMemory();
        }
        // A module that asked to sleep would no longer be called by a host.
        if (AnySleeping()) state.SkipWithError("an instance asked to sleep: a host would not call it");
        // seconds per sample and voice, printed with an SI prefix ("52.1n")
        state.counters["per_sample"] = benchmark::Counter(
            static_cast<double>(state.iterations()) * m_block * m_voices,
            benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    }

private:
    static sephost::EngineOptions Options(float sample_rate, int32_t block) {
        sephost::EngineOptions options;
        options.sample_rate = sample_rate;
        options.block_size = block;
        options.record_outputs = false;
        return options;
    }
    [[noreturn]] static void Die(const std::string& error) {
        std::fprintf(stderr, "bench rig: %s\n", error.c_str());
        std::exit(1);
    }

    sephost::Engine m_engine;
    int32_t m_block;
    int m_first = 0;
    int m_voices = 1;
};

}  // namespace benchrig
