// Loading on ELF platforms: the image check reads the ELF header and the
// program headers and refuses a file whose segments reach past its end (a
// file cut short would otherwise fault inside dlopen); then the file is
// loaded once in a child process, so that a file whose dynamic section,
// hash, symbol or relocation tables make the system loader crash, stop or
// hang is refused before it is loaded here; then dlopen.
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
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

// How long the system loader may take over a library in the probe.
constexpr double kProbeSeconds = 60.0;

double Now() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + 1e-9 * double(now.tv_nsec);
}

// The first line of `text`, without what the loader puts before its reason.
std::string FirstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    return line.size() > 200 ? line.substr(0, 200) + "..." : line;
}

// Loads the file in a child process, resolves the two exports and unloads it
// there, as the real load will: true when the loader came back (with the library or
// with its own refusal, which the real load then repeats); false with the
// reason when the loader crashed, stopped the process or did not finish.
bool ProbeLoad(const std::string& path, std::string* why) {
    int said[2];
    if (pipe2(said, O_CLOEXEC) != 0) return true;  // no probe: the load itself decides
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = fork();
    if (child == 0) {
        const int nothing = open("/dev/null", O_RDWR);
        if (nothing >= 0) dup2(nothing, STDOUT_FILENO);
        dup2(said[1], STDERR_FILENO);
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle != nullptr) {
            dlsym(handle, "getModuleProperties");
            dlsym(handle, "makeModule");
            dlclose(handle);  // its finalizers run as they will here
        }
        _exit(0);
    }
    close(said[1]);
    if (child < 0) {
        close(said[0]);
        return true;
    }
    // Waits for the child's end, never for its pipe: a module's constructor
    // may have handed it on or closed it.
    std::string text;
    const double deadline = Now() + kProbeSeconds;
    bool finished = false;
    int status = 0;
    while (!finished && Now() < deadline) {
        pollfd fd = {said[0], POLLIN, 0};
        if (poll(&fd, 1, 20) > 0) {
            char chunk[1024];
            const ssize_t n = read(said[0], chunk, sizeof chunk);
            if (n > 0 && text.size() < 4096) text.append(chunk, size_t(n));
            if (n == 0) usleep(1000);
        }
        finished = waitpid(child, &status, WNOHANG) == child;
    }
    close(said[0]);
    if (!finished) {
        kill(child, SIGKILL);
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (!finished) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.0f", kProbeSeconds);
        return Fail(why, std::string("the system loader did not finish loading it within ") + seconds + " s");
    }
    if (WIFSIGNALED(status))
        return Fail(why, std::string("the system loader crashed on it: ") + strsignal(WTERMSIG(status)) + " (signal " +
                             std::to_string(WTERMSIG(status)) + ")");
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
        return Fail(
            why, "the system loader stopped on it" +
                     (text.empty() ? " with status " + std::to_string(WEXITSTATUS(status)) : ": " + FirstLine(text)));
    return true;
}

}  // namespace

std::string ExactPath(const std::string& path) { return path.find('/') == std::string::npos ? "./" + path : path; }

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
    return CheckSegments(file, header, size, why) && ProbeLoad(path, why);
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
