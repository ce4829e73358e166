// libFuzzer entry points for the readers of untrusted files: the MIDI file
// reader, the patch reader and the JSON score reader. One source, three
// programs (FUZZ_MIDI, FUZZ_PATCH, FUZZ_SCORE); scripts/fuzz.sh builds and
// runs them. A reader may refuse an input, never crash on it.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "JsonText.h"
#include "Patch.h"
#include "Score.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string error;
#if defined(FUZZ_MIDI)
    std::vector<sephost::render::Note> notes;
    std::vector<std::string> warnings;
    sephost::render::ReadMidiBytes(bytes, "fuzz.mid", &notes, &warnings, &error);
#elif defined(FUZZ_PATCH)
    sephost::render::Patch patch;
    sephost::render::ReadPatchText(bytes, "fuzz.json", &patch, &error);
#elif defined(FUZZ_SCORE)
    nlohmann::json score;
    std::vector<sephost::render::Note> notes;
    if (sephost::render::ParseJson(bytes, "fuzz.json", &score, &error))
        sephost::render::ReadScoreJson(score, "fuzz.json", &notes, &error);
#else
#error "define FUZZ_MIDI, FUZZ_PATCH or FUZZ_SCORE"
#endif
    return 0;
}
