// The version: sep-host --version prints the project's, and each Windows
// file of the mingw32 build carries it in a version resource that
// FileVersionIn reads (the .rsrc section is taken out with the MinGW
// objcopy, so no wine is needed). Under wine, `sep-host.exe info` prints it
// (tests/windows).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FileVersion.h"
#include "RunTool.h"
#include "SepVersion.h"

namespace {

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// UTF-16LE, as resource strings are stored.
std::string Wide(const std::string& text) {
    std::string wide;
    for (char c : text) wide += std::string{c, '\0'};
    return wide;
}

TEST(SepHostVersion, PrintsTheProjectVersion) {
    const ToolOutput result = RunTool("--version");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, std::string("sep-host ") + SEP_VERSION + "\n");
    EXPECT_NE(RunTool("--help").out.find("sep-host --version"), std::string::npos);
}

TEST(SepHostVersion, WindowsFilesCarryTheVersionResource) {
    const std::string windows_dir = SEP_WINDOWS_BUILD_DIR;
    const std::string expected = std::string(SEP_VERSION) + ".0";
    const struct {
        const char* file;
        const char* description;
    } files[] = {{"plugins/ulvo.sep", "ulvo: closed-form quadrature oscillator module"},
                 {"plugins/tessarn.sep", "tessarn: envelope generator module with LFO"},
                 {"bin/sep-host.exe", "sep-host: test host for .sep modules"}};
    for (const auto& entry : files) {
        const std::string path = windows_dir + "/" + entry.file;
        if (!std::ifstream(path).good()) GTEST_SKIP() << path << " is missing: build the mingw32 preset first";
        const std::string section = std::string(HOST_TEST_SCRATCH) + "/version-" + std::to_string(&entry - files);
        const std::string command = std::string("mkdir -p '") + HOST_TEST_SCRATCH + "' && '" + SEP_MINGW_OBJCOPY +
                                    "' -O binary --only-section=.rsrc '" + path + "' '" + section + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        const std::vector<uint8_t> bytes = ReadBytes(section);
        EXPECT_EQ(septool::FileVersionIn(bytes.data(), bytes.size()), expected) << path;
        const std::string text(bytes.begin(), bytes.end());
        for (const std::string& value : {std::string(entry.description), std::string("ulvo and tessarn"),
                                         std::string("Copyright (c) "), std::string(SEP_VERSION)})
            EXPECT_NE(text.find(Wide(value)), std::string::npos) << path << " lacks \"" << value << "\"";
    }
    // an ELF library has no such resource
    const std::vector<uint8_t> linux_library = ReadBytes(ULVO_SEP_PATH);
    ASSERT_FALSE(linux_library.empty());
    EXPECT_EQ(septool::FileVersionIn(linux_library.data(), linux_library.size()), "");
    EXPECT_EQ(septool::FileVersion(ULVO_SEP_PATH), "");
}

}  // namespace
