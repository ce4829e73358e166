// Loading libraries: every broken library is a clear error, never a crash.
#include <gtest/gtest.h>

#include "SepHost.h"

namespace {

TEST(LibraryLoad, MissingFileNotALibraryAndMissingExportsAreErrors) {
    const struct {
        const char* path;
        const char* says;
    } cases[] = {
        {"/nonexistent/nothing.sep", "cannot open '/nonexistent/nothing.sep'"},
        {NOT_A_LIBRARY_PATH, "is not a loadable module library"},
        {NO_EXPORTS_SEP_PATH, "does not export getModuleProperties and makeModule"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(sephost::Library::Load(c.path, &error), nullptr) << c.path;
        EXPECT_NE(error.find(c.says), std::string::npos) << "error: " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << "one line: " << error;
    }
}

TEST(LibraryLoad, RefusedMakeModuleAndWrongMagicFailPlace) {
    const struct {
        const char* path;
        const char* says;
    } cases[] = {
        {REFUSES_SEP_PATH, "makeModule refused to create an instance (returned null)"},
        {BAD_MAGIC_SEP_PATH, "the instance record has a wrong magic 0x12345678 (expected 0x5345504C)"},
    };
    for (const auto& c : cases) {
        std::string error;
        auto library = sephost::Library::Load(c.path, &error);
        ASSERT_NE(library, nullptr) << error;
        sephost::Engine engine;
        EXPECT_EQ(engine.Place(*library, 2, &error), -1) << c.path;
        EXPECT_EQ(error, c.says);
        EXPECT_EQ(engine.InstanceCount(), 0);
        sephost::ModuleDescription description;
        EXPECT_FALSE(sephost::Describe(*library, &description, &error));
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
}

}  // namespace
