// FileAccess.h on Windows: CreateFile and GetFileType for inputs (a pipe or
// a device such as NUL or CON is not a disk file), a file created with
// CREATE_NEW beside the target and MoveFileExW for outputs.
#include <windows.h>

#include <string>
#include <vector>

#include "FileAccess.h"

namespace sephost {

namespace {

std::wstring Wide(const std::string& text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    if (length > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string WindowsError(DWORD code) { return "Windows error " + std::to_string(static_cast<unsigned long>(code)); }

// An open handle of a disk file, or INVALID_HANDLE_VALUE with `error`.
HANDLE OpenRegular(const std::string& path, std::string* error) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        *error = path + ": is a folder, not a regular file";
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = path + ": cannot open the file (" + WindowsError(GetLastError()) + ")";
        return INVALID_HANDLE_VALUE;
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        *error = path + ": is a device or a pipe, not a regular file";
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool CheckInputFile(const std::string& path, std::string* error) {
    HANDLE file = OpenRegular(path, error);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

bool ReadInputFile(const std::string& path, std::string* bytes, std::string* error, size_t max_bytes) {
    HANDLE file = OpenRegular(path, error);
    if (file == INVALID_HANDLE_VALUE) return false;
    bytes->clear();
    std::vector<char> chunk(65536);
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &n, nullptr)) {
            *error = path + ": reading failed (" + WindowsError(GetLastError()) + ")";
            CloseHandle(file);
            return false;
        }
        if (n == 0) break;
        if (bytes->size() + n > max_bytes) {
            *error = path + ": the file is larger than " + std::to_string(max_bytes >> 20) + " MiB";
            CloseHandle(file);
            return false;
        }
        bytes->append(chunk.data(), n);
    }
    CloseHandle(file);
    return true;
}

bool CheckOutputPath(const std::string& path, std::string* error) {
    if (path == "-") {
        *error = "-: writing to standard output is not supported (a WAV header is written after its samples); "
                 "give a file name";
        return false;
    }
    if (path.empty() || path.back() == '/' || path.back() == '\\') {
        *error = path + ": is a folder, not a file name";
        return false;
    }
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        *error = path + ": is a folder, not a regular file";
        return false;
    }
    // NUL, CON and pipes open as handles whose type is not a disk file.
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        const bool disk = GetFileType(file) == FILE_TYPE_DISK;
        CloseHandle(file);
        if (!disk) *error = path + ": is a device or a pipe, not a regular file";
        return disk;
    }
    const std::string folder = FolderOf(path);
    const DWORD folder_attributes = GetFileAttributesA(folder.c_str());
    if (folder_attributes == INVALID_FILE_ATTRIBUTES || (folder_attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        *error = path + ": the folder " + folder + " does not exist";
        return false;
    }
    return true;
}

OutputFile::~OutputFile() { Abandon(); }

bool OutputFile::Begin(const std::string& target, std::string* error) {
    Abandon();
    if (!CheckOutputPath(target, error)) return false;
    m_target = target;
    m_final = target;
    const std::string base = BaseOf(target);
    const size_t dot = base.rfind('.');
    const std::string extension = dot == std::string::npos || dot == 0 ? "" : base.substr(dot);
    const std::string stem = FolderOf(target) + "\\." + base + ".part-" +
                             std::to_string(static_cast<unsigned long>(GetCurrentProcessId())) + "-";
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string name = stem + std::to_string(GetTickCount() + attempt) + extension;
        HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS) continue;
            *error = target + ": cannot create a file in " + FolderOf(target) + " (" +
                     WindowsError(GetLastError()) + ")";
            return false;
        }
        CloseHandle(file);
        m_temporary = name;
        return true;
    }
    *error = target + ": cannot find a free temporary name in " + FolderOf(target);
    return false;
}

bool OutputFile::Commit(std::string* error) {
    if (m_temporary.empty()) {
        *error = m_target + ": nothing was written";
        return false;
    }
    if (!MoveFileExW(Wide(m_temporary).c_str(), Wide(m_final).c_str(), MOVEFILE_REPLACE_EXISTING)) {
        *error = m_target + ": cannot replace the file (" + WindowsError(GetLastError()) + ")";
        Abandon();
        return false;
    }
    m_temporary.clear();
    return true;
}

void OutputFile::Abandon() {
    if (m_temporary.empty()) return;
    DeleteFileA(m_temporary.c_str());
    m_temporary.clear();
}

}  // namespace sephost
