// sep-host validate: runs a module at its defaults and reports process
// calls, sleep requests, statuses sent, contract breaches and the values of
// its outputs.
#include <iostream>
#include <memory>

#include "Command.h"
#include "CommandLine.h"
#include "Graph.h"
#include "OutputValuesRule.h"
#include "RunOptions.h"
#include "SepHost.h"

namespace septool {

namespace {

// Every sample output of every instance, named after its declaration.
std::vector<OutputValuesRule::Output> SampleOutputs(const sephost::Engine& engine) {
    std::vector<OutputValuesRule::Output> outputs;
    for (int n = 0; n < engine.InstanceCount(); ++n) {
        const std::vector<sephost::PinDescription> pins = engine.Pins(n);
        for (int32_t pin = 0; pin < static_cast<int32_t>(pins.size()); ++pin) {
            if (pins[pin].direction != DR_OUT || pins[pin].datatype != DT_FSAMPLE) continue;
            OutputValuesRule::Output output;
            output.id = {n, pin};
            output.name = pins[pin].name;
            outputs.push_back(output);
        }
    }
    return outputs;
}

// One --set: the pin's name and the value as written.
struct PinSet {
    std::string pin, text;
};

// "PIN=VALUE" split at its first '=' (a value may hold one, a pin name may
// not be empty); false for anything else.
bool ReadSets(const std::vector<std::string>& values, std::vector<PinSet>* sets, std::string* problem) {
    for (const std::string& value : values) {
        const size_t equals = value.find('=');
        if (equals == std::string::npos || equals == 0 || equals + 1 == value.size()) {
            *problem = "--set needs PIN=VALUE (volts on a float-sample pin, a label or value on a list pin), not '" +
                       value + "'";
            return false;
        }
        sets->push_back({value.substr(0, equals), value.substr(equals + 1)});
    }
    return true;
}

// Sets each pin of every clone before open, as a patch's "pins" does: the
// same conversion (volts / 10, a list pin's label or value, a whole number).
bool ApplySets(sephost::Engine& engine, int first, int voices, const std::vector<PinSet>& sets, std::string* error) {
    auto quote = [](const std::string& text) { return "\"" + text + "\""; };
    const std::vector<sephost::PinDescription> pins = engine.Pins(first);
    for (const PinSet& set : sets) {
        const std::string here = "--set: pin " + quote(set.pin);
        int32_t index = -1;
        std::string names;
        for (size_t i = 0; i < pins.size(); ++i) {
            names += (names.empty() ? "" : ", ") + quote(pins[i].name);
            if (pins[i].name == set.pin && index < 0) index = static_cast<int32_t>(i);
        }
        if (index < 0) {
            *error = "--set: no pin " + quote(set.pin) + " (pins: " + names + ")";
            return false;
        }
        const sephost::PinDescription& pin = pins[static_cast<size_t>(index)];
        if (pin.direction == DR_OUT) {
            *error = here + " is an output; it cannot be set";
            return false;
        }
        // A list pin's label first: labels may look like numbers ("1").
        sephost::render::Setting setting;
        setting.pin = set.pin;
        setting.label = set.text;
        for (const sephost::Choice& choice : pin.choices)
            setting.is_label = setting.is_label || choice.label == set.text;
        if (!setting.is_label) setting.is_label = !ReadNumber(set.text.c_str(), -1e300, 1e300, false, &setting.number);
        float value = 0.0f;
        if (!sephost::render::PinSettingValue(pin, setting, here, &value, error)) return false;
        for (int v = 0; v < voices; ++v) engine.SetInput(first + v, index, value, 0);
    }
    return true;
}

void PrintSummary(const std::string& file, const sephost::Engine& engine) {
    const sephost::ContractMonitor& monitor = engine.Monitor();
    std::cout << "module:         " << file << "\n"
              << "instances:      " << engine.InstanceCount() << "\n"
              << "samples:        " << engine.Clock() << "\n"
              << "process calls:  " << monitor.ProcessCallCount() << "\n"
              << "sleep requests: " << monitor.CallbackCount(SE_CB_SLEEP) << "\n"
              << "statuses sent:  " << monitor.CallbackCount(SE_CB_PIN_STATUS) << "\n"
              << "breaches:       " << monitor.Breaches().size() << "\n";
    for (const std::string& breach : monitor.Breaches()) std::cout << "  breach: " << breach << "\n";
    std::vector<std::string> lines;
    for (const auto& rule : monitor.Rules()) rule->Report(&lines);
    std::cout << "outputs:        " << lines.size() << "\n";
    for (const std::string& line : lines) std::cout << "  " << line << "\n";
}

}  // namespace

const char kValidateHelp[] =
    "Places N clones (--voices), sends the sample rate (--rate) and block size (--block), opens them,\n"
    "runs --samples samples with every pin at its default value or at the value --set gives it and\n"
    "closes; prints a summary of process calls, sleep requests, statuses sent and contract breaches,\n"
    "and for each output whether any sample was NaN, infinite or subnormal (NaN or infinity fails).\n"
    "At the first sample clock the host announces each input's starting status once\n"
    "(ST_CHANGED_ONCE, ST_STREAMING for a streamed input), as hosts do, so that modules see their\n"
    "starting values.";

int ValidateCommand(const std::vector<std::string>& args) {
    CommandLine line("validate", kValidateHelp);
    RunOptions run;
    std::string file;
    bool trace = false;
    std::vector<std::string> set_texts;
    line.add_flag("--trace", trace, "print every callback a module makes");
    AddRepeatedOption(line, "--set", &set_texts,
                      "a pin's value, as in a render's patch: volts on a float-sample pin (10 V being 1.0), a "
                      "label or value on a list pin, a whole number on an integer pin",
                      "PIN=VALUE");
    AddRunOptions(line, &run);
    line.add_option("FILE.sep", file, "the module library")->required();
    int status = kExitOk;
    if (!line.Parse(args, &status)) return status;
    std::string problem;
    std::vector<PinSet> sets;
    if (!ReadSets(set_texts, &sets, &problem)) return line.Usage(problem);
    std::string error;
    auto library = sephost::Library::Load(file, &error);
    if (library == nullptr) return Failure(error);

    // Nothing is kept that grows with the run: the trace is printed as it
    // happens, outputs are looked at block by block.
    sephost::EngineOptions options = ToEngineOptions(run);
    options.record_callbacks = false;
    options.record_outputs = false;
    options.record_process_calls = false;
    sephost::Engine engine(options);
    if (trace)
        engine.Monitor().SetTrace(
            [](const sephost::CallbackRecord& record) { std::cout << sephost::FormatCallback(record) << "\n"; });
    const int first = engine.Place(*library, run.voices, &error);
    if (first >= 0 && !ApplySets(engine, first, run.voices, sets, &error)) {
        engine.Close();
        return Failure(error);
    }
    if (first >= 0) engine.Monitor().AddRule(std::make_unique<OutputValuesRule>(SampleOutputs(engine)));
    const bool ok = first >= 0 && engine.Open(&error) && engine.Run(run.samples, &error);
    engine.Close();

    PrintSummary(file, engine);
    bool rules_passed = true;
    for (const auto& rule : engine.Monitor().Rules()) rules_passed = rules_passed && !rule->Failed();
    const bool clean = ok && engine.Monitor().Breaches().empty() && rules_passed;
    if (!ok && (first < 0 || engine.Monitor().Breaches().empty())) Failure(error);
    return clean ? kExitOk : kExitFailed;
}

}  // namespace septool
