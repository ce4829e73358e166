// Loading exactly the file named, and refusing a library file cut short
// before the system loader maps it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "SepHost.h"

namespace {

std::string Scratch(const std::string& name) {
    const std::string dir = std::string(HOST_TEST_SCRATCH) + "/" + name;
    EXPECT_EQ(std::system(("mkdir -p '" + dir + "'").c_str()), 0);
    return dir;
}

void CopyPrefix(const std::string& from, const std::string& to, size_t bytes) {
    std::ifstream in(from, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(data.size(), bytes);
    std::ofstream(to, std::ios::binary).write(data.data(), static_cast<std::streamsize>(bytes ? bytes : data.size()));
}

TEST(LibraryLoad, AFileCutShortIsRefusedBeforeLoading) {
    const std::string dir = Scratch("cut");
    for (size_t bytes : {size_t(20), size_t(1000), size_t(10000), size_t(100000)}) {
        const std::string path = dir + "/ulvo-" + std::to_string(bytes) + ".sep";
        CopyPrefix(ULVO_SEP_PATH, path, bytes);
        std::string error;
        EXPECT_EQ(sephost::Library::Load(path, &error), nullptr) << bytes << " bytes";
        EXPECT_NE(error.find("is not a loadable module library ("), std::string::npos) << error;
        const std::string says = bytes < 64 ? std::to_string(bytes) + " bytes, shorter than an ELF header"
                                            : "but the file has " + std::to_string(bytes) + " bytes";
        EXPECT_NE(error.find(says), std::string::npos) << error;
    }
    std::string error;
    EXPECT_EQ(sephost::Library::Load(dir, &error), nullptr) << "a folder";
    EXPECT_NE(error.find("is a folder, not a regular file"), std::string::npos) << error;
}

// A bare name is the file of that name in the current folder: never a
// system library of the same name, never one found on a search path.
TEST(LibraryLoad, ABareNameIsTheFileInTheCurrentFolder) {
    const std::string dir = Scratch("bare");
    CopyPrefix(TESSARN_SEP_PATH, dir + "/libm.so.6", 0);
    CopyPrefix(ULVO_SEP_PATH, dir + "/ulvo.sep", 0);
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    const struct {
        const char* name;
        const char* id;
    } cases[] = {{"libm.so.6", "tessarn"}, {"ulvo.sep", "ulvo"}};
    for (const auto& c : cases) {
        std::string error;
        auto library = sephost::Library::Load(c.name, &error);
        ASSERT_NE(library, nullptr) << c.name << ": " << error;
        sephost::ModuleDescription description;
        EXPECT_TRUE(sephost::Describe(*library, &description, &error)) << error;
        EXPECT_EQ(description.id, c.id);
        EXPECT_EQ(library->Path(), c.name);
    }
    ASSERT_EQ(chdir(here), 0);
}

}  // namespace
