// The file version of a library's version resource (the numbers Windows
// shows in the file's properties).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace septool {

// "1.0.0.0" from the library's version resource; empty when it has none or
// the platform keeps no such resources (ELF). FileVersionWin32.cpp reads it
// on Windows.
std::string FileVersion(const std::string& path);

// The file version of the first VS_FIXEDFILEINFO (found by its signature,
// 32-bit aligned) in `size` bytes of resource data: a VS_VERSIONINFO block
// or a whole .rsrc section. Empty when there is none.
std::string FileVersionIn(const uint8_t* data, size_t size);

}  // namespace septool
