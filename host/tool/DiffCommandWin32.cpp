// sep-host diff in the Windows build: its cross toolchain has no libsndfile
// to read sound files with, so the command says so.
#include "Command.h"

namespace septool {

int DiffCommand(const std::vector<std::string>&) {
    return Failure(
        "diff is not in the Windows build: it reads sound files with libsndfile, which the Windows build "
        "lacks; compare renders with the Linux build (build/linux32/bin/sep-host diff)");
}

}  // namespace septool
