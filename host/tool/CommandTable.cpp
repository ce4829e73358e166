// The command table, sep-host's own usage and help, and the dispatch to a
// command. Each command parses its own options (CommandLine.h).
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <new>
#include <stdexcept>

#include "Command.h"
#include "SepVersion.h"

namespace septool {

int InfoCommand(const std::vector<std::string>& args);
int ValidateCommand(const std::vector<std::string>& args);
int RenderCommand(const std::vector<std::string>& args);
int CheckCommand(const std::vector<std::string>& args);
int DiffCommand(const std::vector<std::string>& args);

namespace {

const char kUsageLines[] =
    "usage: sep-host COMMAND [OPTIONS] FILE...\n"
    "       sep-host COMMAND --help\n"
    "       sep-host --help\n"
    "       sep-host --version\n";

const char kHelpTail[] =
    "\n"
    "'sep-host COMMAND --help' prints the command's usage, its options and their ranges.\n"
    "exit status: 0 success, 1 error, breach or failed check, 2 usage error\n";

}  // namespace

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"info", "prints a module's description and pin table, as text or JSON", &InfoCommand},
        {"validate", "runs a module at its defaults and reports calls, statuses, breaches and outputs",
         &ValidateCommand},
        {"render", "plays a score through a patch of modules into a WAV file, with pictures", &RenderCommand},
        {"diff", "the null test of two renders: whether and how much they differ", &DiffCommand},
        {"check", "runs every check on a module, each in a child process", &CheckCommand},
    };
    return commands;
}

const Command* FindCommand(const std::string& name) {
    for (const Command& command : Commands())
        if (name == command.name) return &command;
    return nullptr;
}

int Usage(const std::string& problem) {
    if (!problem.empty()) std::cerr << "sep-host: " << problem << "\n";
    std::cerr << kUsageLines;
    return kExitUsage;
}

int Failure(const std::string& message) {
    std::cerr << "sep-host: " << message << "\n";
    return kExitFailed;
}

bool ReadNumber(const char* text, double low, double high, bool whole, double* value) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    const double parsed = std::strtod(text, &end);
    if (*end != '\0' || !(parsed >= low && parsed <= high)) return false;
    if (whole && std::floor(parsed) != parsed) return false;
    *value = parsed;
    return true;
}

int Main(const std::vector<std::string>& args) {
    if (args.empty()) return Usage("");
    const std::string& name = args[0];
    if (name == "--help" || name == "-h" || name == "help") {
        std::cout << kUsageLines << "\ncommands:\n";
        for (const Command& command : Commands()) {
            std::string label = command.name;
            label.resize(std::max<size_t>(label.size() + 1, 10), ' ');
            std::cout << "  " << label << command.summary << "\n";
        }
        std::cout << kHelpTail;
        return kExitOk;
    }
    if (name == "--version") {
        std::cout << "sep-host " << SEP_VERSION << "\n";
        return kExitOk;
    }
    const Command* command = FindCommand(name);
    if (command == nullptr) return Usage("unknown command " + name);
    // A command reports its own faults; what escapes it still ends as a
    // failure with a message, never as an abort.
    try {
        return command->run(std::vector<std::string>(args.begin() + 1, args.end()));
    } catch (const std::bad_alloc&) {
        return Failure(name + ": out of memory (the input asks for more than this machine can give)");
    } catch (const std::exception& e) {
        return Failure(name + ": internal error: " + e.what());
    }
}

}  // namespace septool
