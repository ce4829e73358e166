// sep-host info: the module description and pin table, as text or JSON.
#include <iostream>

#include "Command.h"
#include "FileVersion.h"
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
    if (arguments.Has("--json")) {
        std::cout << sephost::FormatDescriptionJson(description);
        return kExitOk;
    }
    // A Windows library's version resource, when it has one, beside the
    // description's own fields.
    std::string text = sephost::FormatDescriptionText(description);
    const std::string file_version = FileVersion(arguments.file);
    const size_t pins_line = text.find("\npins:");
    if (!file_version.empty() && pins_line != std::string::npos)
        text.insert(pins_line + 1, "file version: " + file_version + "\n");
    std::cout << text;
    return kExitOk;
}

}  // namespace septool
