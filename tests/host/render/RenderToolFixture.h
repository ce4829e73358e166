// What the tests of `sep-host render` run as a process share: a scratch
// folder per test, files written into it, the good patch.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>

#include "../RunTool.h"
#include "JsonText.h"

namespace {

// A folder of the running test's own: CTest runs the tests in parallel.
inline std::string Folder() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("sep_render_") + test->test_suite_name() + "_" + test->name();
    for (char& c : name)
        if (c == '/') c = '_';
    const std::string folder = ::testing::TempDir() + name;
    std::system(("mkdir -p '" + folder + "'").c_str());
    return folder;
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// The whole file, or nothing when it cannot be read.
inline std::string ReadFile(const std::string& path) {
    std::string text, error;
    sephost::render::ReadTextFile(path, &text, &error);
    return text;
}

// `sep-host render` with `args`; stdout and stderr together in `out`.
inline ToolOutput RunRender(const std::string& args) { return RunTool("render " + args, true); }

// A patch with the built plug-ins put in for @ULVO@ and @TESSARN@.
inline std::string PatchFile(const std::string& name, std::string text) {
    for (const auto& [mark, path] : {std::make_pair(std::string("@ULVO@"), std::string(ULVO_SEP_PATH)),
                                     std::make_pair(std::string("@TESSARN@"), std::string(TESSARN_SEP_PATH))})
        for (size_t at; (at = text.find(mark)) != std::string::npos;) text.replace(at, mark.size(), path);
    const std::string path = Folder() + "/" + name;
    WriteFile(path, text);
    return path;
}

const char kGood[] = R"({"modules": [
    {"name": "osc", "sep": "@ULVO@", "voices": 3, "pins": {"N": 30, "cpmode": "static", "combphase": 2},
     "play": {"pitch": "fc", "sync": "sync"}},
    {"name": "env", "sep": "@TESSARN@", "voices": 3, "pins": {"Attack": 80, "Release": 20},
     "play": {"gate": "Gate"}}],
  "nodes": [{"name": "vca", "type": "multiply"}, {"name": "out", "type": "output", "gain": 0.3}],
  "connections": [["env.Signal Out", "osc.gate"], ["osc.outputl", "vca.in"], ["env.Signal Out", "vca.in"],
                  ["vca.out", "out.left"]],
  "score": [{"start": 0, "length": 0.2, "pitch": [57, 61, 64, 69]}, {"start": 0.3, "length": 0.1, "hz": 330}]})";

}  // namespace
