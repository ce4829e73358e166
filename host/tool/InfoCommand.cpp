// sep-host info: the module description and pin table, as text or JSON.
#include <iostream>

#include "Command.h"
#include "SepHost.h"

namespace septool {

int InfoCommand(const std::vector<std::string>& args) {
    Arguments arguments;
    std::string problem;
    if (!ReadArguments("info", args, {"--json"}, nullptr, &arguments, &problem)) return Usage(problem);
    std::string error;
    auto library = sephost::Library::Load(arguments.file, &error);
    sephost::ModuleDescription description;
    if (library == nullptr || !sephost::Describe(*library, &description, &error)) return Failure(error);
    std::cout << (arguments.Has("--json") ? sephost::FormatDescriptionJson(description)
                                          : sephost::FormatDescriptionText(description));
    return kExitOk;
}

}  // namespace septool
