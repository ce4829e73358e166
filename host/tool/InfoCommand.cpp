// sep-host info: the module description and pin table, as text or JSON.
#if !defined(_WIN32)
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#endif
#include <iostream>

#include "Command.h"
#include "CommandLine.h"
#include "FileVersion.h"
#include "SepHost.h"

namespace septool {

namespace {

// The description as the command prints it; false with the error.
bool Describe(const std::string& file, bool json, std::string* text, std::string* error) {
    auto library = sephost::Library::Load(file, error);
    sephost::ModuleDescription description;
    if (library == nullptr || !sephost::Describe(*library, &description, error)) return false;
    if (json) {
        *text = sephost::FormatDescriptionJson(description);
        return true;
    }
    // A Windows library's version resource, when it has one, beside the
    // description's own fields.
    *text = sephost::FormatDescriptionText(description);
    const std::string file_version = FileVersion(file);
    const size_t pins_line = text->find("\npins:");
    if (!file_version.empty() && pins_line != std::string::npos)
        text->insert(pins_line + 1, "file version: " + file_version + "\n");
    return true;
}

#if !defined(_WIN32)
constexpr double kDescribeSeconds = 60.0;

// The child's part: describes the module and writes "0" and the text, or
// "1" and the reason, into the pipe.
[[noreturn]] void AnswerAndExit(const std::string& file, bool json, const int said[2]) {
    close(said[0]);
    std::string answer, why;
    answer = Describe(file, json, &answer, &why) ? "0" + answer : "1" + why;
    size_t done = 0;
    while (done < answer.size()) {
        const ssize_t n = write(said[1], answer.data() + done, answer.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    _exit(0);
}

// Reads the child's answer until it ends, killing it after
// kDescribeSeconds; false when it had to be killed.
bool WaitForAnswer(pid_t child, int from, std::string* answer, int* status) {
    const auto started = std::chrono::steady_clock::now();
    bool ended = false;
    while (!ended &&
           std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() < kDescribeSeconds) {
        pollfd fd = {from, POLLIN, 0};
        if (poll(&fd, 1, 20) > 0) {
            char chunk[4096];
            const ssize_t n = read(from, chunk, sizeof chunk);
            if (n > 0) answer->append(chunk, size_t(n));
            if (n == 0) usleep(1000);
        }
        ended = waitpid(child, status, WNOHANG) == child;
    }
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, status, 0);
    }
    for (char chunk[4096];;) {  // the rest of a long answer
        pollfd fd = {from, POLLIN, 0};
        if (poll(&fd, 1, 0) <= 0) break;
        const ssize_t n = read(from, chunk, sizeof chunk);
        if (n <= 0) break;
        answer->append(chunk, size_t(n));
    }
    return ended;
}

// Describe, in a child process: a module that crashes or hangs while it
// describes itself (a library whose imports bind to the wrong functions
// after its symbol table was damaged, say) ends the child, and info says so.
bool DescribeInChild(const std::string& file, bool json, std::string* text, std::string* error) {
    int said[2];
    if (pipe(said) != 0) return Describe(file, json, text, error);
    std::cout.flush();
    std::cerr.flush();
    const pid_t child = fork();
    if (child == 0) AnswerAndExit(file, json, said);
    close(said[1]);
    if (child < 0) {
        close(said[0]);
        return Describe(file, json, text, error);
    }
    std::string answer;
    int status = 0;
    const bool ended = WaitForAnswer(child, said[0], &answer, &status);
    close(said[0]);
    if (!ended) {
        *error = "'" + file + "': the module did not finish describing itself within 60 s";
        return false;
    }
    if (WIFSIGNALED(status)) {
        *error = "'" + file + "': the module crashed while describing itself (" + strsignal(WTERMSIG(status)) +
                 ", signal " + std::to_string(WTERMSIG(status)) + ")";
        return false;
    }
    if (answer.empty() || WEXITSTATUS(status) != 0) {
        *error = "'" + file + "': the module ended the process while describing itself (status " +
                 std::to_string(WEXITSTATUS(status)) + ")";
        return false;
    }
    (answer[0] == '0' ? *text : *error) = answer.substr(1);
    return answer[0] == '0';
}
#endif

}  // namespace

int InfoCommand(const std::vector<std::string>& args) {
    CommandLine options("info",
                        "Prints the module description (id, name, about, sdk version; in the Windows build also the\n"
                        "file version of the library's version resource) and its pin table (index, name, direction,\n"
                        "type, default, choices).");
    std::string file;
    bool json = false;
    options.add_flag("--json", json, "print the description and pins as a JSON document");
    options.add_option("FILE.sep", file, "the module library")->required();
    int status = kExitOk;
    if (!options.Parse(args, &status)) return status;
    std::string text, error;
#if defined(_WIN32)
    const bool described = Describe(file, json, &text, &error);
#else
    const bool described = DescribeInChild(file, json, &text, &error);
#endif
    if (!described) return Failure(error);
    std::cout << text;
    return kExitOk;
}

}  // namespace septool
