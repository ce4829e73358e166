// Reading and writing the files a command names, safely: an input is read
// only when it is a regular file (a FIFO or a device would block or never
// end), and an output is written to a temporary file beside its target and
// renamed over the target only when complete, so that a failed command
// never removes, truncates or half-writes a file that was there before.
// FileAccess.cpp holds the rules; the system calls under them are in
// FileAccessPosix.cpp and FileAccessWin32.cpp (FileAccessPlatform.h).
#pragma once

#include <cstddef>
#include <string>

namespace sephost {

// The largest input file the host reads whole (patches, scores, MIDI files).
constexpr size_t kMaxInputFileBytes = size_t(64) << 20;

// True when `path` names a regular file that can be opened for reading. The
// file is opened without blocking and its open descriptor examined, so a
// FIFO, a device or a folder is refused at once. `error` names the path.
bool CheckInputFile(const std::string& path, std::string* error);

// Reads the whole of a regular file (CheckInputFile's test on the descriptor
// it reads), at most `max_bytes`.
bool ReadInputFile(const std::string& path, std::string* bytes, std::string* error,
                   size_t max_bytes = kMaxInputFileBytes);

// True when `path` may be written as an output: a new name in an existing
// folder, or an existing regular file (through a symbolic link too). A
// device, a folder, a FIFO or "-" is refused with a message naming the path.
bool CheckOutputPath(const std::string& path, std::string* error);

// An output written under a temporary name in the target's folder. The
// writer writes TemporaryPath(); Commit renames it over the target (a
// symbolic link's target, so the link stays a link). Without Commit the
// temporary file is removed and the target is untouched.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Checks the target (CheckOutputPath) and creates the temporary file.
    bool Begin(const std::string& target, std::string* error);
    const std::string& TemporaryPath() const { return m_temporary; }
    const std::string& Target() const { return m_target; }
    bool Commit(std::string* error);
    // Removes the temporary file; the target stays as it was.
    void Abandon();

private:
    std::string m_target;     // as the user named it
    std::string m_final;      // the file the rename replaces
    std::string m_temporary;  // empty when none is held
};

}  // namespace sephost
