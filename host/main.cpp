// sep-host: describes and exercises module libraries (.sep).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "CheckCommand.h"
#include "SepHost.h"

namespace {

const char kUsage[] =
    "usage: sep-host info [--json] FILE.sep\n"
    "       sep-host validate [--trace] [--voices N] [--rate HZ] [--block N] [--samples N] FILE.sep\n"
    "       sep-host check [--seed S] [--level 1..5] [--json] [--time-limit SECONDS] FILE.sep\n"
    "       sep-host --help\n";

const char kHelp[] =
    "\n"
    "info      prints the module description (id, name, about, sdk version) and its\n"
    "          pin table (index, name, direction, type, default, choices); --json\n"
    "          prints the same as a JSON document.\n"
    "validate  places N clones (--voices, default 1), sends the sample rate (--rate,\n"
    "          default 44100) and block size (--block, default 1024), opens them, runs\n"
    "          --samples samples (default 44100) with every pin at its default value and\n"
    "          closes; prints a summary of process calls, sleep requests, statuses sent\n"
    "          and contract breaches; --trace prints every callback a module makes.\n"
    "          At the first sample clock the host announces each input's starting\n"
    "          status once (ST_CHANGED_ONCE, ST_STREAMING for a streamed input), as\n"
    "          hosts do, so that modules see their starting values.\n"
    "check     runs every check on the module, each in a child process (a crash or\n"
    "          a hang fails that check and the run goes on): boundary, life cycle,\n"
    "          hostile input, hostile host, the module's side of the contract, no\n"
    "          allocation in process or event calls, subnormal cost. One line per\n"
    "          check and a summary \"N passed, M failed\"; --json prints one JSON\n"
    "          document instead. --level 1 to 5 (default 1): higher levels run longer\n"
    "          with more random cases; --seed (default 1) fixes the random cases;\n"
    "          --time-limit (default 60) bounds each check in seconds. See\n"
    "          docs/check.md.\n"
    "\n"
    "exit status: 0 success, 1 error, breach or failed check, 2 usage error\n";

int Usage(const std::string& problem) {
    if (!problem.empty()) std::cerr << "sep-host: " << problem << "\n";
    std::cerr << kUsage;
    return 2;
}

// Whole-text positive integer; false otherwise.
bool ParseCount(const char* text, long max, long* value) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (*end != '\0' || parsed < 1 || parsed > max) return false;
    *value = parsed;
    return true;
}

int Info(const std::vector<std::string>& args) {
    bool json = false;
    std::string file;
    for (const std::string& a : args) {
        if (a == "--json") {
            json = true;
        } else if (!a.empty() && a[0] == '-') {
            return Usage("unknown option " + a);
        } else if (file.empty()) {
            file = a;
        } else {
            return Usage("one file at a time");
        }
    }
    if (file.empty()) return Usage("info needs a file");
    std::string error;
    auto library = sephost::Library::Load(file, &error);
    sephost::ModuleDescription description;
    if (library == nullptr || !sephost::Describe(*library, &description, &error)) {
        std::cerr << "sep-host: " << error << "\n";
        return 1;
    }
    std::cout << (json ? sephost::FormatDescriptionJson(description) : sephost::FormatDescriptionText(description));
    return 0;
}

int Validate(const std::vector<std::string>& args) {
    bool trace = false;
    long voices = 1, block = 1024, samples = 44100;
    double rate = 44100.0;
    std::string file;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const char* next = i + 1 < args.size() ? args[i + 1].c_str() : nullptr;
        if (a == "--trace") {
            trace = true;
        } else if (a == "--voices" || a == "--block" || a == "--samples") {
            long* target = a == "--voices" ? &voices : a == "--block" ? &block : &samples;
            const long max = a == "--voices" ? 256 : a == "--block" ? 1 << 20 : 1L << 30;
            if (!ParseCount(next, max, target)) return Usage(a + " needs a positive number");
            ++i;
        } else if (a == "--rate") {
            char* end = nullptr;
            rate = next != nullptr ? std::strtod(next, &end) : 0.0;
            if (next == nullptr || *end != '\0' || !(rate >= 1.0 && rate <= 1.0e7))
                return Usage("--rate needs a sample rate in Hz");
            ++i;
        } else if (!a.empty() && a[0] == '-') {
            return Usage("unknown option " + a);
        } else if (file.empty()) {
            file = a;
        } else {
            return Usage("one file at a time");
        }
    }
    if (file.empty()) return Usage("validate needs a file");

    std::string error;
    auto library = sephost::Library::Load(file, &error);
    if (library == nullptr) {
        std::cerr << "sep-host: " << error << "\n";
        return 1;
    }
    sephost::EngineOptions options;
    options.sample_rate = static_cast<float>(rate);
    options.block_size = static_cast<int32_t>(block);
    options.record_callbacks = true;
    options.record_outputs = false;
    sephost::Engine engine(options);
    const int first = engine.Place(*library, static_cast<int>(voices), &error);
    bool ok = first >= 0 && engine.Open(&error) && engine.Run(static_cast<uint32_t>(samples), &error);
    const std::vector<sephost::CallbackRecord> opened = engine.Callbacks();
    engine.ClearCallbacks();
    engine.Close();
    std::vector<sephost::CallbackRecord> all = opened;
    all.insert(all.end(), engine.Callbacks().begin(), engine.Callbacks().end());

    if (trace)
        for (const auto& record : all) std::cout << sephost::FormatCallback(record) << "\n";
    size_t process_calls = 0, sleeps = 0, statuses = 0;
    for (int n = 0; n < engine.InstanceCount(); ++n) process_calls += engine.ProcessCalls(n).size();
    for (const auto& record : all) {
        sleeps += record.opcode == SE_CB_SLEEP ? 1 : 0;
        statuses += record.opcode == SE_CB_PIN_STATUS ? 1 : 0;
    }
    std::cout << "module:         " << file << "\n"
              << "instances:      " << engine.InstanceCount() << "\n"
              << "samples:        " << engine.Clock() << "\n"
              << "process calls:  " << process_calls << "\n"
              << "sleep requests: " << sleeps << "\n"
              << "statuses sent:  " << statuses << "\n"
              << "breaches:       " << engine.Breaches().size() << "\n";
    for (const std::string& breach : engine.Breaches()) std::cout << "  breach: " << breach << "\n";
    if (!ok && first < 0) std::cerr << "sep-host: " << error << "\n";
    if (!ok && first >= 0 && engine.Breaches().empty()) std::cerr << "sep-host: " << error << "\n";
    return ok && engine.Breaches().empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return Usage("");
    const std::string command = args[0];
    args.erase(args.begin());
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage << kHelp;
        return 0;
    }
    if (command == "info") return Info(args);
    if (command == "validate") return Validate(args);
    if (command == "check") {
        std::string problem;
        const int status = sepcheck::CheckCommand(args, &problem);
        return status == sepcheck::kCheckUsage ? Usage(problem) : status;
    }
    return Usage("unknown command " + command);
}
