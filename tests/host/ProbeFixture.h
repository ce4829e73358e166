// The fixture of the engine tests that run the probe module: a fresh script,
// the probe as a library of this process, blocks of 64 samples and no initial
// announcement unless a test asks for one.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "ProbeModule.h"
#include "SepHost.h"

class ProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        probe::Reset();
        library = sephost::Library::FromFunctions(&probe::GetModuleProperties, &probe::MakeModule, "probe");
        options.block_size = 64;
        options.announce_initial_status = false;
    }

    std::unique_ptr<sephost::Library> library;
    sephost::EngineOptions options;
};
