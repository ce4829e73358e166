// The system calls under FileAccess.h, one file per platform
// (FileAccessPosix.cpp, FileAccessWin32.cpp). FileAccess.cpp holds what the
// platforms share: the names, the read loop, the messages, commit and
// abandon. A `why` is the system's own reason, for a message in parentheses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sephost {
namespace platform {

#ifdef _WIN32
constexpr const char* kPathSeparators = "/\\";
constexpr char kPathSeparator = '\\';
#else
constexpr const char* kPathSeparators = "/";
constexpr char kPathSeparator = '/';
#endif

// An input opened for reading, refused at once unless it is a regular file.
class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // False with `error` naming the path when it cannot be opened or is no
    // regular file.
    bool Open(const std::string& path, std::string* error);
    // The bytes read into `buffer`, 0 at the end, or -1 with `why`.
    long Read(char* buffer, size_t size, std::string* why);

private:
    intptr_t m_handle = -1;  // a descriptor or a HANDLE; -1 (INVALID_HANDLE_VALUE) when none
};

// After the name itself has been checked: false with `error` naming the path
// and what it is when `path` exists but cannot be replaced as a regular file
// (a folder, a device, a dangling symbolic link); otherwise true, with
// `exists` telling whether there is a file to replace.
bool ExamineOutputTarget(const std::string& path, bool* exists, std::string* error);

bool IsFolder(const std::string& path);

// The file a rename over `target` must replace (a symbolic link's target, so
// the link stays a link); false with `error`.
bool ResolveOutputTarget(const std::string& target, std::string* final_path, std::string* error);

// Creates a new empty file named `prefix` + something unique + `extension`
// (with the target's permissions where the platform has them); false with `why`.
bool CreateUniqueFile(const std::string& prefix, const std::string& extension, const std::string& final_path,
                      std::string* name, std::string* why);

bool RenameOver(const std::string& from, const std::string& to, std::string* why);
void RemoveFile(const std::string& path);

}  // namespace platform
}  // namespace sephost
