// Loading on Windows: the image check reads the PE headers and refuses a
// file that is no 32-bit DLL or whose sections reach past its end; then
// LoadLibraryExW, with failures put as plainly as on Linux ("not a 32-bit
// Windows DLL", "a DLL it needs was not found") and never a system dialog.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "Loader.h"

namespace sephost {
namespace loader {

namespace {

std::wstring Widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string Narrow(const wchar_t* text) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) return std::string();
    std::string narrow(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &narrow[0], length, nullptr, nullptr);
    narrow.resize(static_cast<size_t>(length - 1));
    return narrow;
}

// The system's own text for an error code, without its line break and with
// its "%1" placeholder (the file) left out.
std::string SystemText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = length > 0 && buffer != nullptr ? Narrow(buffer) : std::string();
    if (buffer != nullptr) LocalFree(buffer);
    const size_t placeholder = text.find("%1");
    if (placeholder != std::string::npos) text.replace(placeholder, 2, "the file");
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

// What the codes a module library typically fails with mean for its user.
const char* Meaning(DWORD code) {
    switch (code) {
    case ERROR_BAD_EXE_FORMAT:
        return "not a 32-bit Windows DLL";
    case ERROR_MOD_NOT_FOUND:
        return "the file or a DLL it needs was not found";
    case ERROR_PROC_NOT_FOUND:
        return "a DLL it needs lacks a function it imports";
    case ERROR_DLL_INIT_FAILED:
        return "its start-up code failed";
    case ERROR_ACCESS_DENIED:
        return "access denied";
    default:
        return nullptr;
    }
}

bool Fail(std::string* why, const std::string& text) {
    *why = text;
    return false;
}

template <typename T>
bool ReadAt(std::ifstream& file, unsigned long long offset, T* value) {
    file.seekg(static_cast<std::streamoff>(offset));
    return static_cast<bool>(file.read(reinterpret_cast<char*>(value), sizeof *value));
}

std::string Hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

}  // namespace

std::string ExactPath(const std::string& path) {
    // Separators as Windows wants them; a bare name is the file in the
    // current folder (LoadLibrary would otherwise search the system folders).
    std::string native = path;
    for (char& c : native)
        if (c == '/') c = '\\';
    if (native.find('\\') == std::string::npos && native.find(':') == std::string::npos) native = ".\\" + native;
    return native;
}

bool CheckImage(const std::string& path, std::string* why) {
    const DWORD attributes = GetFileAttributesW(Widen(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return Fail(why, "not a regular file");
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) return Fail(why, "unreadable");
    const unsigned long long size = static_cast<unsigned long long>(file.tellg());
    IMAGE_DOS_HEADER dos;
    if (!ReadAt(file, 0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE)
        return Fail(why, "not a 32-bit Windows DLL: no DOS header");
    const unsigned long long nt_offset = static_cast<uint32_t>(dos.e_lfanew);
    DWORD signature = 0;
    IMAGE_FILE_HEADER header;
    if (!ReadAt(file, nt_offset, &signature) || signature != IMAGE_NT_SIGNATURE ||
        !ReadAt(file, nt_offset + sizeof signature, &header))
        return Fail(why, "not a 32-bit Windows DLL: no PE header");
    if (header.Machine != IMAGE_FILE_MACHINE_I386)
        return Fail(why, "not a 32-bit Windows DLL: built for machine " + Hex(header.Machine));
    if ((header.Characteristics & IMAGE_FILE_DLL) == 0) return Fail(why, "not a 32-bit Windows DLL: a program");
    const unsigned long long sections = nt_offset + sizeof signature + sizeof header + header.SizeOfOptionalHeader;
    for (unsigned k = 0; k < header.NumberOfSections; ++k) {
        IMAGE_SECTION_HEADER section;
        if (!ReadAt(file, sections + k * sizeof section, &section))
            return Fail(why, "cut short: its section table ends past the file's " + std::to_string(size) + " bytes");
        const unsigned long long end =
            static_cast<unsigned long long>(section.PointerToRawData) + section.SizeOfRawData;
        if (end > size)
            return Fail(why, "cut short: section " + std::to_string(k) + " ends at byte " + std::to_string(end) +
                                 " but the file has " + std::to_string(size) + " bytes");
    }
    return true;
}

void* Open(const std::string& path, std::string* why) {
    const std::wstring relative = Widen(path);
    std::vector<wchar_t> full(MAX_PATH * 4);
    const DWORD length = GetFullPathNameW(relative.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    const std::wstring absolute = length > 0 && length < full.size() ? std::wstring(full.data()) : relative;

    // A missing dependency or a damaged file fails the call; it must not
    // open a dialog box on a desktop nobody watches.
    DWORD previous_mode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous_mode);
    // The library's own folder comes first when its dependencies are looked up.
    HMODULE handle = LoadLibraryExW(absolute.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const DWORD code = handle == nullptr ? GetLastError() : 0;
    SetThreadErrorMode(previous_mode, nullptr);

    if (handle == nullptr) {
        const char* meaning = Meaning(code);
        const std::string system = SystemText(code);
        std::string text = meaning != nullptr ? meaning : "LoadLibrary failed";
        if (!system.empty()) text += ": " + system;
        *why = text + " (Windows error " + std::to_string(static_cast<unsigned long>(code)) + ")";
    }
    return reinterpret_cast<void*>(handle);
}

void* Symbol(void* handle, const char* name) {
    FARPROC address = GetProcAddress(static_cast<HMODULE>(handle), name);
    void* pointer = nullptr;
    static_assert(sizeof pointer == sizeof address, "code and data pointers have one size");
    std::memcpy(&pointer, &address, sizeof pointer);
    return pointer;
}

void Close(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }

}  // namespace loader
}  // namespace sephost
