// sep-host validate: runs a module at its defaults and reports process
// calls, sleep requests, statuses sent, contract breaches and the values of
// its outputs.
#include <iostream>
#include <memory>

#include "Command.h"
#include "OutputValuesRule.h"
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

int ValidateCommand(const std::vector<std::string>& args) {
    Arguments arguments;
    RunOptions run;
    std::string problem;
    if (!ReadArguments("validate", args, {"--trace"}, &run, &arguments, &problem)) return Usage(problem);
    std::string error;
    auto library = sephost::Library::Load(arguments.file, &error);
    if (library == nullptr) return Failure(error);

    // Nothing is kept that grows with the run: the trace is printed as it
    // happens, outputs are looked at block by block.
    sephost::EngineOptions options = ToEngineOptions(run);
    options.record_callbacks = false;
    options.record_outputs = false;
    options.record_process_calls = false;
    sephost::Engine engine(options);
    if (arguments.Has("--trace"))
        engine.Monitor().SetTrace(
            [](const sephost::CallbackRecord& record) { std::cout << sephost::FormatCallback(record) << "\n"; });
    const int first = engine.Place(*library, run.voices, &error);
    if (first >= 0) engine.Monitor().AddRule(std::make_unique<OutputValuesRule>(SampleOutputs(engine)));
    const bool ok = first >= 0 && engine.Open(&error) && engine.Run(run.samples, &error);
    engine.Close();

    PrintSummary(arguments.file, engine);
    bool rules_passed = true;
    for (const auto& rule : engine.Monitor().Rules()) rules_passed = rules_passed && !rule->Failed();
    const bool clean = ok && engine.Monitor().Breaches().empty() && rules_passed;
    if (!ok && (first < 0 || engine.Monitor().Breaches().empty())) Failure(error);
    return clean ? kExitOk : kExitFailed;
}

}  // namespace septool
