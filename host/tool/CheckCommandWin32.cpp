// sep-host check in the Windows build: each check runs in a child process
// made with fork, which Windows lacks, so the command says so.
#include "Command.h"

namespace septool {

int CheckCommand(const std::vector<std::string>&) {
    return Failure(
        "check is not in the Windows build: it runs each check in a child process made with fork, "
        "which Windows lacks; run check with the Linux build (build/linux32/bin/sep-host)");
}

}  // namespace septool
