// What reading inputs and writing outputs share on every platform; the
// system calls are in FileAccessPosix.cpp and FileAccessWin32.cpp.
#include "FileAccess.h"

#include "FileAccessPlatform.h"

namespace sephost {

namespace {

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of(platform::kPathSeparators);
    if (slash == std::string::npos) return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
    const size_t slash = path.find_last_of(platform::kPathSeparators);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool CheckInputFile(const std::string& path, std::string* error) {
    platform::InputFile file;
    return file.Open(path, error);
}

bool ReadInputFile(const std::string& path, std::string* bytes, std::string* error, size_t max_bytes) {
    platform::InputFile file;
    if (!file.Open(path, error)) return false;
    bytes->clear();
    char chunk[65536];
    for (;;) {
        std::string why;
        const long n = file.Read(chunk, sizeof chunk, &why);
        if (n < 0) {
            *error = path + ": reading failed (" + why + ")";
            return false;
        }
        if (n == 0) return true;
        if (bytes->size() + static_cast<size_t>(n) > max_bytes) {
            *error = path + ": the file is larger than " + std::to_string(max_bytes >> 20) + " MiB";
            return false;
        }
        bytes->append(chunk, static_cast<size_t>(n));
    }
}

bool CheckOutputPath(const std::string& path, std::string* error) {
    if (path == "-") {
        *error =
            "-: writing to standard output is not supported (a WAV header is written after its samples); "
            "give a file name";
        return false;
    }
    if (path.empty() || std::string(platform::kPathSeparators).find(path.back()) != std::string::npos) {
        *error = path + ": is a folder, not a file name";
        return false;
    }
    bool exists = false;
    if (!platform::ExamineOutputTarget(path, &exists, error)) return false;
    if (exists) return true;
    const std::string folder = FolderOf(path);
    if (!platform::IsFolder(folder)) {
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
    if (!platform::ResolveOutputTarget(target, &m_final, error)) return false;
    // The temporary name keeps the target's extension: libsndfile and sox
    // choose a file format by it.
    const std::string base = BaseOf(m_final);
    const size_t dot = base.rfind('.');
    const std::string extension = dot == std::string::npos || dot == 0 ? "" : base.substr(dot);
    const std::string folder = FolderOf(m_final);
    const std::string prefix = folder + platform::kPathSeparator + "." + base + ".part-";
    std::string why;
    if (!platform::CreateUniqueFile(prefix, extension, m_final, &m_temporary, &why)) {
        *error = target + ": cannot create a file in " + folder + " (" + why + ")";
        return false;
    }
    return true;
}

bool OutputFile::Commit(std::string* error) {
    if (m_temporary.empty()) {
        *error = m_target + ": nothing was written";
        return false;
    }
    std::string why;
    if (!platform::RenameOver(m_temporary, m_final, &why)) {
        *error = m_target + ": cannot replace the file (" + why + ")";
        Abandon();
        return false;
    }
    m_temporary.clear();
    return true;
}

void OutputFile::Abandon() {
    if (m_temporary.empty()) return;
    platform::RemoveFile(m_temporary);
    m_temporary.clear();
}

}  // namespace sephost
