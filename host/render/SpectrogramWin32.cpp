// The spectrogram of a written WAV, drawn by sox: on Windows started with
// _spawnvp, which waits for it.
#include <process.h>

#include <cerrno>
#include <vector>

#include "Pictures.h"

namespace sephost::render {

namespace {

// _spawnvp joins its arguments with spaces: each one goes in quotes.
std::string Quoted(const std::string& word) {
    std::string out = "\"";
    for (char c : word) {
        if (c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

bool DrawSpectrogram(const std::string& wav, const std::string& png, const std::string& title, std::string* error) {
    std::vector<std::string> words = {"sox", "-V1", wav, "-n", "spectrogram", "-o", png, "-t", title};
    for (std::string& w : words) w = Quoted(w);
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    argv.push_back(nullptr);
    const intptr_t status = _spawnvp(_P_WAIT, "sox", argv.data());
    if (status == -1 && errno == ENOENT) {
        *error = "sox was not found: put sox.exe on the PATH to draw spectrograms";
        return false;
    }
    if (status != 0) {
        *error = "sox could not draw " + png + " from " + wav;
        return false;
    }
    return true;
}

}  // namespace sephost::render
