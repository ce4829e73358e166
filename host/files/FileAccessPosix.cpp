// FileAccessPlatform.h on POSIX systems: open(O_NONBLOCK) and fstat for
// inputs, mkstemps and rename for outputs.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FileAccessPlatform.h"

namespace sephost {
namespace platform {

namespace {

std::string KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

std::string NotRegular(const std::string& path, mode_t mode) {
    const std::string kind = KindOf(mode);
    return path + ": " + (kind.rfind("a ", 0) == 0 ? "is " + kind + ", not a regular file" : kind);
}

// The mode a new file gets from open(..., 0666): the process's umask applied.
mode_t NewFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

InputFile::~InputFile() {
    if (m_handle >= 0) close(static_cast<int>(m_handle));
}

// O_NONBLOCK keeps the open of a FIFO without a writer from waiting; it is
// cleared again once the file is known to be regular.
bool InputFile::Open(const std::string& path, std::string* error) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *error = path + ": cannot open the file (" + std::strerror(errno) + ")";
        return false;
    }
    struct stat status;
    const bool examined = fstat(fd, &status) == 0;
    if (!examined || !S_ISREG(status.st_mode)) {
        *error = examined ? NotRegular(path, status.st_mode) : path + ": cannot examine the file";
        close(fd);
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_handle = fd;
    return true;
}

long InputFile::Read(char* buffer, size_t size, std::string* why) {
    for (;;) {
        const ssize_t n = read(static_cast<int>(m_handle), buffer, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) *why = std::strerror(errno);
        return static_cast<long>(n);
    }
}

bool ExamineOutputTarget(const std::string& path, bool* exists, std::string* error) {
    struct stat status;
    *exists = stat(path.c_str(), &status) == 0;
    if (*exists) {
        if (S_ISREG(status.st_mode)) return true;
        *error = NotRegular(path, status.st_mode);
        return false;
    }
    if (lstat(path.c_str(), &status) == 0) {
        *error = path + ": is a symbolic link to a missing file";
        return false;
    }
    return true;
}

bool IsFolder(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool ResolveOutputTarget(const std::string& target, std::string* final_path, std::string* error) {
    *final_path = target;
    struct stat status;
    if (lstat(target.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return true;
    char resolved[PATH_MAX];
    if (realpath(target.c_str(), resolved) == nullptr) {
        *error = target + ": cannot resolve the symbolic link (" + std::strerror(errno) + ")";
        return false;
    }
    *final_path = resolved;
    return true;
}

bool CreateUniqueFile(const std::string& prefix, const std::string& extension, const std::string& final_path,
                      std::string* name, std::string* why) {
    const std::string pattern = prefix + "XXXXXX" + extension;
    std::vector<char> chosen(pattern.begin(), pattern.end());
    chosen.push_back('\0');
    const int fd = mkstemps(chosen.data(), static_cast<int>(extension.size()));
    if (fd < 0) {
        *why = std::strerror(errno);
        return false;
    }
    // The replacement keeps the permissions of the file it replaces.
    struct stat status;
    fchmod(fd, stat(final_path.c_str(), &status) == 0 ? status.st_mode & 07777 : NewFileMode());
    close(fd);
    *name = chosen.data();
    return true;
}

bool RenameOver(const std::string& from, const std::string& to, std::string* why) {
    if (rename(from.c_str(), to.c_str()) == 0) return true;
    *why = std::strerror(errno);
    return false;
}

void RemoveFile(const std::string& path) { unlink(path.c_str()); }

}  // namespace platform
}  // namespace sephost
