// The fixed scenarios rendered by every build of the plug-ins, whose dumps
// must agree byte for byte.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "SepHost.h"

namespace identity {

enum class Plugin { kUlvo, kTessarn };

struct Scenario {
    std::string name;
    Plugin plugin;
    float sample_rate;
    int32_t block_size;
    int voices;
    uint32_t samples;
    // Long runs are rendered in one call mode (they rotate through the
    // modes); the others in every mode.
    bool long_run;
    // Inputs and events, set before open; instances 0 .. voices - 1.
    std::function<void(sephost::Engine&)> drive;
};

std::vector<Scenario> AllScenarios();

}  // namespace identity
