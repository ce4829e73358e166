// FileAccessPlatform.h on Windows: CreateFile and GetFileType for inputs (a
// pipe or a device such as NUL or CON is not a disk file), a file created
// with CREATE_NEW beside the target and MoveFileExW for outputs.
#include <windows.h>

#include <string>

#include "FileAccessPlatform.h"

namespace sephost {
namespace platform {

namespace {

std::wstring Wide(const std::string& text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    if (length > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string WindowsError(DWORD code) { return "Windows error " + std::to_string(static_cast<unsigned long>(code)); }

HANDLE Handle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

bool IsFolderAttributes(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

InputFile::~InputFile() {
    if (Handle(m_handle) != INVALID_HANDLE_VALUE) CloseHandle(Handle(m_handle));
}

bool InputFile::Open(const std::string& path, std::string* error) {
    if (IsFolderAttributes(GetFileAttributesA(path.c_str()))) {
        *error = path + ": is a folder, not a regular file";
        return false;
    }
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = path + ": cannot open the file (" + WindowsError(GetLastError()) + ")";
        return false;
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        *error = path + ": is a device or a pipe, not a regular file";
        CloseHandle(file);
        return false;
    }
    m_handle = reinterpret_cast<intptr_t>(file);
    return true;
}

long InputFile::Read(char* buffer, size_t size, std::string* why) {
    DWORD n = 0;
    if (!ReadFile(Handle(m_handle), buffer, static_cast<DWORD>(size), &n, nullptr)) {
        *why = WindowsError(GetLastError());
        return -1;
    }
    return static_cast<long>(n);
}

bool ExamineOutputTarget(const std::string& path, bool* exists, std::string* error) {
    *exists = false;
    if (IsFolderAttributes(GetFileAttributesA(path.c_str()))) {
        *error = path + ": is a folder, not a regular file";
        return false;
    }
    // NUL, CON and pipes open as handles whose type is not a disk file.
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return true;
    *exists = true;
    const bool disk = GetFileType(file) == FILE_TYPE_DISK;
    CloseHandle(file);
    if (!disk) *error = path + ": is a device or a pipe, not a regular file";
    return disk;
}

bool IsFolder(const std::string& path) { return IsFolderAttributes(GetFileAttributesA(path.c_str())); }

bool ResolveOutputTarget(const std::string& target, std::string* final_path, std::string*) {
    *final_path = target;
    return true;
}

bool CreateUniqueFile(const std::string& prefix, const std::string& extension, const std::string&, std::string* name,
                      std::string* why) {
    const std::string stem = prefix + std::to_string(static_cast<unsigned long>(GetCurrentProcessId())) + "-";
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = stem + std::to_string(GetTickCount() + attempt) + extension;
        HANDLE file =
            CreateFileA(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS) continue;
            *why = WindowsError(GetLastError());
            return false;
        }
        CloseHandle(file);
        *name = candidate;
        return true;
    }
    *why = "no free temporary name";
    return false;
}

bool RenameOver(const std::string& from, const std::string& to, std::string* why) {
    if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    *why = WindowsError(GetLastError());
    return false;
}

void RemoveFile(const std::string& path) { DeleteFileA(path.c_str()); }

}  // namespace platform
}  // namespace sephost
