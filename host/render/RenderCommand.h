// `sep-host render`: the command line around the render loop.
#pragma once

#include <string>
#include <vector>

namespace sephost::render {

extern const char kRenderUsage[];
extern const char kRenderHelp[];

// Arguments after the word "render"; returns the exit status: 0 done,
// 1 an error in the patch, the score, a module or a file, 2 a usage error.
int RenderCommand(const std::vector<std::string>& args);

}  // namespace sephost::render
