#include "ElfExports.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace sepcheck {

namespace {

// The parts of the ELF32 layout read here (System V ABI).
constexpr unsigned char kElfClass32 = 1;
constexpr unsigned char kElfDataLittle = 1;
constexpr uint16_t kTypeShared = 3;
constexpr uint32_t kSectionDynamicSymbols = 11;  // SHT_DYNSYM
constexpr uint16_t kUndefinedSection = 0;        // SHN_UNDEF
constexpr unsigned kBindGlobal = 1, kBindWeak = 2;
constexpr unsigned kVisibilityDefault = 0, kVisibilityProtected = 3;
constexpr size_t kHeaderSize = 52, kSectionHeaderSize = 40, kSymbolSize = 16;

uint16_t Read16(const std::vector<unsigned char>& b, size_t at) { return uint16_t(b[at] | (b[at + 1] << 8)); }
uint32_t Read32(const std::vector<unsigned char>& b, size_t at) {
    return uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8) | (uint32_t(b[at + 2]) << 16) | (uint32_t(b[at + 3]) << 24);
}

}  // namespace

bool ReadExportedNames(const std::string& path, std::vector<std::string>* names, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = "cannot read " + path;
        return false;
    }
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    auto fail = [&](const std::string& why) {
        *error = path + ": " + why;
        return false;
    };
    if (bytes.size() < kHeaderSize || std::memcmp(bytes.data(),
                                                  "\x7f"
                                                  "ELF",
                                                  4) != 0)
        return fail("not an ELF file");
    if (bytes[4] != kElfClass32 || bytes[5] != kElfDataLittle) return fail("not a 32-bit little-endian ELF file");
    if (Read16(bytes, 16) != kTypeShared) return fail("not a shared library");
    const uint32_t section_table = Read32(bytes, 32);
    const uint16_t entry_size = Read16(bytes, 46);
    const uint16_t section_count = Read16(bytes, 48);
    if (entry_size != kSectionHeaderSize ||
        uint64_t(section_table) + uint64_t(section_count) * entry_size > bytes.size())
        return fail("section table outside the file");

    names->clear();
    bool found = false;
    for (uint16_t s = 0; s < section_count; ++s) {
        const size_t header = section_table + size_t(s) * entry_size;
        if (Read32(bytes, header + 4) != kSectionDynamicSymbols) continue;
        found = true;
        const uint32_t offset = Read32(bytes, header + 16);
        const uint32_t size = Read32(bytes, header + 20);
        const uint32_t link = Read32(bytes, header + 24);  // the string table's section
        if (link >= section_count || uint64_t(offset) + size > bytes.size())
            return fail("symbol table outside the file");
        const size_t strings_header = section_table + size_t(link) * entry_size;
        const uint32_t strings = Read32(bytes, strings_header + 16);
        const uint32_t strings_size = Read32(bytes, strings_header + 20);
        if (uint64_t(strings) + strings_size > bytes.size()) return fail("string table outside the file");
        for (uint32_t at = offset; at + kSymbolSize <= offset + size; at += kSymbolSize) {
            const uint32_t name = Read32(bytes, at);
            const unsigned char info = bytes[at + 12];
            const unsigned char other = bytes[at + 13];
            const uint16_t section = Read16(bytes, at + 14);
            const unsigned bind = info >> 4;
            const unsigned visibility = other & 3u;
            if (section == kUndefinedSection || (bind != kBindGlobal && bind != kBindWeak)) continue;
            if (visibility != kVisibilityDefault && visibility != kVisibilityProtected) continue;
            if (name >= strings_size) return fail("symbol name outside the string table");
            const char* text = reinterpret_cast<const char*>(bytes.data()) + strings + name;
            const size_t length = strnlen(text, strings_size - name);
            if (length > 0) names->emplace_back(text, length);
        }
    }
    if (!found) return fail("no dynamic symbol table");
    std::sort(names->begin(), names->end());
    return true;
}

}  // namespace sepcheck
