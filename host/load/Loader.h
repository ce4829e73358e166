// The platform's side of loading a library: one small interface, one file
// per platform (LoaderPosix.cpp: the ELF image check and dlopen).
#pragma once

#include <string>

namespace sephost {
namespace loader {

// The path to hand to the platform loader so that exactly this file is
// loaded: a bare name becomes a path in the current folder.
std::string ExactPath(const std::string& path);

// Checks, before the loader maps anything, that the file holds a complete
// library image of this platform (header, and every segment inside the
// file) and, on ELF platforms, that the system loader loads it in a child
// process without crashing, stopping or hanging; false with the reason
// otherwise.
bool CheckImage(const std::string& path, std::string* why);

// Null with the loader's reason on failure.
void* Open(const std::string& path, std::string* why);
void* Symbol(void* handle, const char* name);
void Close(void* handle);

}  // namespace loader
}  // namespace sephost
