// The names a module library makes visible to a host: the defined, global
// (or weak) symbols of the dynamic symbol table of a 32-bit ELF file, read
// from the file itself, without loading it.
#pragma once

#include <string>
#include <vector>

namespace sepcheck {

// False with `error` when the file cannot be read or is not a 32-bit
// little-endian ELF shared object; otherwise the sorted names.
bool ReadExportedNames(const std::string& path, std::vector<std::string>* names, std::string* error);

}  // namespace sepcheck
