// The spectrogram of a written WAV, drawn by sox in a child process.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "Pictures.h"

namespace sephost::render {

bool DrawSpectrogram(const std::string& wav, const std::string& png, const std::string& title, std::string* error) {
    std::vector<std::string> words = {"sox", "-V1", wav, "-n", "spectrogram", "-o", png, "-t", title};
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        *error = std::string("cannot start sox: ") + std::strerror(errno);
        return false;
    }
    if (child == 0) {
        execvp("sox", argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
        *error = "sox was not found: install it (bash scripts/setup.sh) to draw spectrograms";
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        *error = "sox could not draw " + png + " from " + wav;
        return false;
    }
    return true;
}

}  // namespace sephost::render
