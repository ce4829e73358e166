// The version resource read with KERNEL32's resource functions only: the
// library is mapped as data (no code runs), and its RT_VERSION resource
// handed to FileVersionIn. version.dll's GetFileVersionInfo would add an
// import to sep-host.exe.
#include <windows.h>

#include "FileVersion.h"

namespace septool {

namespace {
constexpr WORD kVersionResourceType = 16;  // RT_VERSION
}

std::string FileVersion(const std::string& path) {
    HMODULE image = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (image == nullptr) return std::string();
    std::string version;
    HRSRC found = FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(kVersionResourceType));
    HGLOBAL loaded = found != nullptr ? LoadResource(image, found) : nullptr;
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data != nullptr) version = FileVersionIn(static_cast<const uint8_t*>(data), SizeofResource(image, found));
    FreeLibrary(image);
    return version;
}

}  // namespace septool
