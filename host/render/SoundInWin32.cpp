// The Windows build reads no sound files: the cross toolchain has no
// libsndfile, so a file node is refused with what to do instead.
#include "SoundIn.h"

namespace sephost::render {

std::unique_ptr<SoundIn> OpenSoundIn(const std::string& path, std::string* error) {
    *error = path +
             ": the Windows sep-host cannot read sound files (it is built without libsndfile); render a "
             "patch with \"file\" nodes with the Linux sep-host";
    return nullptr;
}

}  // namespace sephost::render
