// FileAccess.h on POSIX systems: open(O_NONBLOCK) and fstat for inputs,
// mkstemps and rename for outputs.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FileAccess.h"

namespace sephost {

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

// An open descriptor of a regular file, or -1 with `error`. O_NONBLOCK
// keeps the open of a FIFO without a writer from waiting; it is cleared
// again once the file is known to be regular.
int OpenRegular(const std::string& path, std::string* error) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *error = path + ": cannot open the file (" + std::strerror(errno) + ")";
        return -1;
    }
    struct stat status;
    const bool examined = fstat(fd, &status) == 0;
    if (!examined || !S_ISREG(status.st_mode)) {
        *error = examined ? NotRegular(path, status.st_mode) : path + ": cannot examine the file";
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The mode a new file gets from open(..., 0666): the process's umask applied.
mode_t NewFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

bool CheckInputFile(const std::string& path, std::string* error) {
    const int fd = OpenRegular(path, error);
    if (fd < 0) return false;
    close(fd);
    return true;
}

bool ReadInputFile(const std::string& path, std::string* bytes, std::string* error, size_t max_bytes) {
    const int fd = OpenRegular(path, error);
    if (fd < 0) return false;
    bytes->clear();
    char chunk[65536];
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = path + ": reading failed (" + std::strerror(errno) + ")";
            close(fd);
            return false;
        }
        if (n == 0) break;
        if (bytes->size() + static_cast<size_t>(n) > max_bytes) {
            *error = path + ": the file is larger than " + std::to_string(max_bytes >> 20) + " MiB";
            close(fd);
            return false;
        }
        bytes->append(chunk, static_cast<size_t>(n));
    }
    close(fd);
    return true;
}

bool CheckOutputPath(const std::string& path, std::string* error) {
    if (path == "-") {
        *error = "-: writing to standard output is not supported (a WAV header is written after its samples); "
                 "give a file name";
        return false;
    }
    if (path.empty() || path.back() == '/') {
        *error = path + ": is a folder, not a file name";
        return false;
    }
    struct stat status;
    if (stat(path.c_str(), &status) == 0) {
        if (S_ISREG(status.st_mode)) return true;
        *error = NotRegular(path, status.st_mode);
        return false;
    }
    if (lstat(path.c_str(), &status) == 0) {
        *error = path + ": is a symbolic link to a missing file";
        return false;
    }
    const std::string folder = FolderOf(path);
    if (stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
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
    struct stat status;
    mode_t mode = NewFileMode();
    if (lstat(target.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
        char resolved[PATH_MAX];
        if (realpath(target.c_str(), resolved) == nullptr) {
            *error = target + ": cannot resolve the symbolic link (" + std::strerror(errno) + ")";
            return false;
        }
        m_final = resolved;
    }
    if (stat(m_final.c_str(), &status) == 0) mode = status.st_mode & 07777;
    // The temporary name keeps the target's extension: libsndfile and sox
    // choose a file format by it.
    const std::string base = BaseOf(m_final);
    const size_t dot = base.rfind('.');
    const std::string extension = dot == std::string::npos || dot == 0 ? "" : base.substr(dot);
    std::string pattern = FolderOf(m_final) + "/." + base + ".part-XXXXXX" + extension;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemps(name.data(), static_cast<int>(extension.size()));
    if (fd < 0) {
        *error = target + ": cannot create a file in " + FolderOf(m_final) + " (" + std::strerror(errno) + ")";
        return false;
    }
    fchmod(fd, mode);
    close(fd);
    m_temporary = name.data();
    return true;
}

bool OutputFile::Commit(std::string* error) {
    if (m_temporary.empty()) {
        *error = m_target + ": nothing was written";
        return false;
    }
    if (rename(m_temporary.c_str(), m_final.c_str()) != 0) {
        *error = m_target + ": cannot replace the file (" + std::strerror(errno) + ")";
        Abandon();
        return false;
    }
    m_temporary.clear();
    return true;
}

void OutputFile::Abandon() {
    if (m_temporary.empty()) return;
    unlink(m_temporary.c_str());
    m_temporary.clear();
}

}  // namespace sephost
