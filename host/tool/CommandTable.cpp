// The command table, the usage and help texts built from it, and the
// argument reading every command shares.
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
extern const char kRenderUsage[];
extern const char kRenderHelp[];
int CheckCommand(const std::vector<std::string>& args);
int DiffCommand(const std::vector<std::string>& args);

namespace {

const char kHelpTail[] =
    "\n"
    "exit status: 0 success, 1 error, breach or failed check, 2 usage error\n";

std::string UsageLines() {
    std::string text;
    for (const Command& command : Commands())
        text += std::string(text.empty() ? "usage: " : "       ") + "sep-host " + command.name + " " + command.usage +
                "\n";
    return text + "       sep-host --help\n       sep-host --version\n";
}

}  // namespace

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"info", "[--json] FILE.sep",
         "prints the module description (id, name, about, sdk version; in the\n"
         "          Windows build also the file version of the library's version\n"
         "          resource) and its pin table (index, name, direction, type, default,\n"
         "          choices); --json prints the description and pins as a JSON document.",
         &InfoCommand},
        {"validate", "[--trace] [--set PIN=VALUE]... [--voices N] [--rate HZ] [--block N] [--samples N] FILE.sep",
         "places N clones (--voices, default 1), sends the sample rate (--rate,\n"
         "          default 44100) and block size (--block, default 1024), opens them, runs\n"
         "          --samples samples (default 44100) with every pin at its default value or\n"
         "          at the value --set gives it (repeatable; as in a render's patch: volts on\n"
         "          a float-sample pin, 10 V being 1.0, a label or value on a list pin, a\n"
         "          whole number on an integer pin) and closes; prints a summary of process calls, sleep requests, statuses sent\n"
         "          and contract breaches, and for each output whether any sample was NaN,\n"
         "          infinite or subnormal (NaN or infinity fails); --trace prints every\n"
         "          callback a module makes. At the first sample clock the host announces\n"
         "          each input's starting status once (ST_CHANGED_ONCE, ST_STREAMING for a\n"
         "          streamed input), as hosts do, so that modules see their starting values.",
         &ValidateCommand},
        {"render", kRenderUsage, kRenderHelp, &RenderCommand},
        {"diff", "[--threshold DB] [--json] A.wav B.wav",
#if defined(_WIN32)
         "not in the Windows build: it reads sound files with libsndfile, which\n"
         "          the Windows build lacks. Run diff with the Linux build.",
#else
         "the null test of two renders: says whether A and B hold the same samples\n"
         "          and, if not, how many differ, the first (frame, time, channel, both\n"
         "          values), the largest difference in dBFS and the RMS of the difference.\n"
         "          Any file libsndfile reads (WAV, FLAC, AIFF, OGG); both at one sample\n"
         "          rate and channel count. Exits 0 when equal, or when --threshold DB is\n"
         "          given, the lengths agree and the largest difference is below DB; 1\n"
         "          otherwise. --json prints one JSON document instead.",
#endif
         &DiffCommand},
        {"check",
         "[--seed S] [--level 1..5] [--json] [--time-limit SECONDS] [--call-limit SECONDS]\n"
         "                      [--only NAMES] [--skip NAMES] [--case K] [--in-process] [--junit FILE]\n"
         "                      FILE.sep | --list",
#if defined(_WIN32)
         "not in the Windows build: it runs each check in a child process made with\n"
         "          fork, which Windows lacks. Run check with the Linux build.",
#else
         "runs every check on the module, each in a child process (a crash or a hang\n"
         "          fails that check and the run goes on): boundary, life cycle, hostile\n"
         "          input, hostile host, the module's side of the contract, no allocation\n"
         "          in process or event calls, the same output whatever the split into\n"
         "          calls and beside other instances, and the cost of subnormal inputs\n"
         "          (reported).\n"
         "          One line per check and a summary \"N passed, M failed\"; --json prints\n"
         "          one JSON document instead. --level 1 to 5 (default 1): higher levels\n"
         "          run longer with more random cases; --seed (default 1) fixes the random\n"
         "          cases; --time-limit (default 60) bounds each check in seconds, and\n"
         "          --call-limit (default 3) each call into the module per 1024 samples\n"
         "          of block. --list names every check; --only and --skip choose checks\n"
         "          by name or pattern (GROUP/NAME, shell globs, commas between); --case K\n"
         "          runs only case K. Every failed line ends with the command that runs\n"
         "          just that case again. --in-process runs the checks without a child\n"
         "          process, for a debugger: a crash ends the run. --junit FILE also\n"
         "          writes JUnit XML for CI servers. Fails on any failed check. See\n"
         "          docs/check.md.",
#endif
         &CheckCommand},
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
    std::cerr << UsageLines();
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

bool Arguments::Has(const std::string& flag) const {
    return std::find(flags.begin(), flags.end(), flag) != flags.end();
}

const std::string* Arguments::Value(const std::string& option) const {
    for (auto it = values.rbegin(); it != values.rend(); ++it)
        if (it->first == option) return &it->second;
    return nullptr;
}

bool ReadArguments(const std::string& command, const std::vector<std::string>& args,
                   const std::vector<std::string>& known_flags, RunOptions* run, Arguments* out,
                   std::string* problem, const std::vector<std::string>& known_values) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (run != nullptr) {
            const OptionResult result = ParseRunOption(args, &i, run, problem);
            if (result == OptionResult::kError) return false;
            if (result == OptionResult::kTaken) continue;
        }
        if (std::find(known_values.begin(), known_values.end(), a) != known_values.end()) {
            if (i + 1 >= args.size()) {
                *problem = a + " needs a value";
                return false;
            }
            out->values.emplace_back(a, args[++i]);
        } else if (std::find(known_flags.begin(), known_flags.end(), a) != known_flags.end()) {
            out->flags.push_back(a);
        } else if (!a.empty() && a[0] == '-') {
            *problem = "unknown option " + a;
            return false;
        } else if (out->file.empty()) {
            out->file = a;
        } else {
            *problem = "one file at a time";
            return false;
        }
    }
    if (!out->file.empty()) return true;
    *problem = command + " needs a file";
    return false;
}

int Main(const std::vector<std::string>& args) {
    if (args.empty()) return Usage("");
    const std::string& name = args[0];
    if (name == "--help" || name == "-h" || name == "help") {
        std::cout << UsageLines() << "\n";
        for (const Command& command : Commands()) {
            std::string label = command.name;
            label.resize(std::max<size_t>(label.size() + 1, 10), ' ');
            std::cout << label << command.help << "\n";
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
