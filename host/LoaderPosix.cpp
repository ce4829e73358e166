// Loading on ELF platforms: the image check reads the ELF header and the
// program headers and refuses a file whose segments reach past its end (a
// file cut short would otherwise fault inside dlopen); then dlopen.
#include <dlfcn.h>
#include <elf.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <fstream>

#include "Loader.h"

namespace sephost {
namespace loader {

namespace {

#if UINTPTR_MAX == 0xFFFFFFFFu
using ElfHeader = Elf32_Ehdr;
using ProgramHeader = Elf32_Phdr;
constexpr unsigned char kElfClass = ELFCLASS32;
#else
using ElfHeader = Elf64_Ehdr;
using ProgramHeader = Elf64_Phdr;
constexpr unsigned char kElfClass = ELFCLASS64;
#endif

bool Fail(std::string* why, const std::string& text) {
    *why = text;
    return false;
}

bool CheckSegments(std::ifstream& file, const ElfHeader& header, unsigned long long size, std::string* why) {
    if (header.e_phentsize != sizeof(ProgramHeader))
        return Fail(why, "program header entries of " + std::to_string(header.e_phentsize) + " bytes");
    const unsigned long long table_end =
        static_cast<unsigned long long>(header.e_phoff) + 1ull * header.e_phnum * header.e_phentsize;
    if (table_end > size)
        return Fail(why, "cut short: its program headers end at byte " + std::to_string(table_end) +
                             " but the file has " + std::to_string(size) + " bytes");
    for (unsigned k = 0; k < header.e_phnum; ++k) {
        ProgramHeader segment;
        file.seekg(static_cast<std::streamoff>(header.e_phoff + k * sizeof segment));
        if (!file.read(reinterpret_cast<char*>(&segment), sizeof segment)) return Fail(why, "unreadable");
        const unsigned long long end = static_cast<unsigned long long>(segment.p_offset) + segment.p_filesz;
        if (segment.p_type == PT_LOAD && end > size)
            return Fail(why, "cut short: segment " + std::to_string(k) + " ends at byte " + std::to_string(end) +
                                 " but the file has " + std::to_string(size) + " bytes");
    }
    return true;
}

}  // namespace

std::string ExactPath(const std::string& path) {
    return path.find('/') == std::string::npos ? "./" + path : path;
}

bool CheckImage(const std::string& path, std::string* why) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return Fail(why, "not a regular file");
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) return Fail(why, "unreadable");
    const unsigned long long size = static_cast<unsigned long long>(file.tellg());
    ElfHeader header;
    std::memset(&header, 0, sizeof header);
    file.seekg(0);
    if (size < sizeof header || !file.read(reinterpret_cast<char*>(&header), sizeof header))
        return Fail(why, "not an ELF library: " + std::to_string(size) + " bytes, shorter than an ELF header");
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) return Fail(why, "not an ELF file");
    if (header.e_ident[EI_CLASS] != kElfClass)
        return Fail(why, std::string("an ELF file of the wrong class (") +
                             (header.e_ident[EI_CLASS] == ELFCLASS64 ? "64" : "32") + "-bit)");
    if (header.e_type != ET_DYN) return Fail(why, "an ELF file that is not a shared library");
    return CheckSegments(file, header, size, why);
}

void* Open(const std::string& path, std::string* why) {
    // RTLD_LOCAL: two libraries loaded into one process never see each
    // other's symbols.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* text = dlerror();
        *why = text != nullptr ? text : "unknown loader error";
    }
    return handle;
}

void* Symbol(void* handle, const char* name) { return dlsym(handle, name); }

void Close(void* handle) { dlclose(handle); }

}  // namespace loader
}  // namespace sephost
