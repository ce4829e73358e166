// sep-host render: plays a patch and a score through the plug-ins into a
// WAV file, with pictures; the options around the render loop of
// host/render/.
#if defined(_WIN32)
#include <windows.h>
#endif
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "Command.h"
#include "CommandLine.h"
#include "FileAccess.h"
#include "Graph.h"
#include "Patch.h"
#include "Pictures.h"
#include "Render.h"
#include "RunOptions.h"
#include "Score.h"
#include "WavFile.h"

namespace septool {

using namespace sephost::render;

namespace {

const char kRenderHelp[] =
    "Plays the notes of a score through a patch of modules and writes a stereo WAV (32-bit float;\n"
    "--pcm24 for 24-bit PCM). The score is the patch's own \"score\", a JSON score (--score) or a\n"
    "Standard MIDI File (--midi). The length is the last note's (or the longest sound file's) end\n"
    "plus --tail seconds (default 1, or the patch's \"tail\"), or exactly --seconds. The sample rate\n"
    "(default 44100) and block size (default 256) are the patch's when it names them and the options\n"
    "are absent. Each picture is titled with --title TEXT, by default the patch file's name. A .sep\n"
    "named without a folder is looked for beside the patch, in each --plugins DIR, and in the plugins\n"
    "folder next to sep-host's own bin folder. A render longer than --max-length seconds or than a\n"
    "WAV file holds (4 GiB) is refused before it starts. Every file is written under a temporary name\n"
    "beside it and takes its name only when complete: a failed render leaves the files as they were.\n"
    "Prints a progress bar on a terminal (not with --quiet) and a one-line summary. An output holding\n"
    "NaN, infinity or samples beyond --ceiling fails the render, naming the module and pin whose\n"
    "output went non-finite first and when; the WAV is written all the same (NaN as 0 in PCM), and\n"
    "--allow-bad-output makes it a warning. Sound files are read on Linux only.\n"
    "docs/rendering.md describes the files.";

// The ranges of render's own lengths and levels.
constexpr sephost::HostRange kSecondsRange = {"seconds", 0.0, 86400.0, false};
constexpr sephost::HostRange kTailRange = {"seconds", 0.0, 3600.0, false};
constexpr sephost::HostRange kMaxLengthRange = {"seconds", 1.0, 1.0e6, false};
// Up to the largest float's level: the ceiling of a float output.
constexpr sephost::HostRange kCeilingRange = {"dBFS", -200.0, 770.0, false};

struct RenderArguments {
    std::string patch, score, midi, output, spectrogram, waveform, title;
    double sample_rate = 0.0, seconds = -1.0, tail = -1.0, max_seconds = kDefaultMaxRenderSeconds;
    double ceiling_db = kDefaultCeilingDb;
    int32_t block_size = 0;
    bool pcm24 = false, quiet = false, allow_bad_output = false;
    std::vector<std::string> plugin_folders;
    std::vector<std::string> input_texts;                     // --input NODE=FILE, as given
    std::vector<std::pair<std::string, std::string>> inputs;  // the same split at '='
};

// A value as written, without trailing zeros.
std::string NumberText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}

// Refuses an empty value: "NAME needs WHAT".
CLI::Validator NotEmpty(const std::string& what) {
    return CLI::Validator([what](std::string& text) { return text.empty() ? "needs " + what : std::string(); }, "");
}

// "NODE=FILE": a file node's name and a sound file, neither empty.
CLI::Validator NodeAndFile() {
    return CLI::Validator(
        [](std::string& text) {
            const size_t equals = text.find('=');
            const bool split = equals != std::string::npos && equals > 0 && equals + 1 < text.size();
            return split ? std::string()
                         : std::string("needs NODE=FILE, the name of a file node of the patch and a sound file");
        },
        "");
}

void AddFileOptions(CommandLine& options, RenderArguments* a) {
    options.add_option("PATCH.json", a->patch, "the patch file")->required()->check(NotEmpty("a patch file"));
    options.add_option("-o", a->output, "the WAV file to write")
        ->type_name("OUT.wav")
        ->required()
        ->check(NotEmpty("a file name"));
    CLI::Option* score = options.add_option("--score", a->score, "play this JSON score")
                             ->type_name("F.json")
                             ->check(NotEmpty("a file name"));
    options.add_option("--midi", a->midi, "play this Standard MIDI File")
        ->type_name("F.mid")
        ->check(NotEmpty("a file name"))
        ->excludes(score);
    options.add_option("--spectrogram", a->spectrogram, "draw the WAV's spectrogram with sox")
        ->type_name("OUT.png")
        ->check(NotEmpty("a file name"));
    options.add_option("--waveform", a->waveform, "plot both channels as SVG")
        ->type_name("OUT.svg")
        ->check(NotEmpty("a file name"));
    options.add_option("--title", a->title, "the pictures' title")->type_name("TEXT")->check(NotEmpty("a text"));
    AddRepeatedOption(options, "--plugins", &a->plugin_folders, "a folder to look for modules in", "DIR")
        ->check(NotEmpty("a folder"));
    AddRepeatedOption(options, "--input", &a->input_texts, "make the patch's file node NODE read FILE", "NODE=FILE")
        ->check(NodeAndFile());
}

void AddRenderOptions(CommandLine& options, RenderArguments* a) {
    AddFileOptions(options, a);
    // The shared run options, under the names this command gives them
    // too. A WAV file stores a whole number of Hz; the modules run at
    // exactly the rate the file says.
    for (const char* name : {"--sample-rate", "--rate"}) {
        const std::string option = name;
        AddRateOption(
            options, option,
            [a, option](double value) {
                if (std::floor(value) != value)
                    throw CLI::ValidationError(option + " needs a whole number of Hz for the WAV file, not " +
                                               NumberText(value));
                a->sample_rate = value;
            },
            "sample rate (default 44100 or the patch's)");
    }
    for (const char* name : {"--block-size", "--block"})
        AddBlockOption(options, name, &a->block_size, "samples per block (default 256 or the patch's)");
    auto into = [](double* target) { return [target](double value) { *target = value; }; };
    AddNumberOption(options, "--seconds", kSecondsRange, into(&a->seconds), "render exactly this long", "S");
    AddNumberOption(options, "--tail", kTailRange, into(&a->tail), "seconds after the last note (default 1)", "S");
    AddNumberOption(options, "--max-length", kMaxLengthRange, into(&a->max_seconds),
                    "refuse a longer render (default 10800, three hours)", "S");
    AddNumberOption(options, "--ceiling", kCeilingRange, into(&a->ceiling_db),
                    "fail on samples beyond this level (default +24)", "DB");
    options.add_flag("--pcm24", a->pcm24, "write 24-bit PCM instead of 32-bit float");
    options.add_flag("--quiet", a->quiet, "no progress bar");
    options.add_flag("--allow-bad-output", a->allow_bad_output, "a bad output is a warning, not a failure");
}

// The folder of plug-ins beside the folder of this program.
std::string BuiltPluginFolder() {
    char path[4096];
#if defined(_WIN32)
    const long n = static_cast<long>(GetModuleFileNameA(nullptr, path, sizeof path));
    if (n <= 0 || n >= static_cast<long>(sizeof path)) return "plugins";
#else
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "plugins";
#endif
    std::string self(path, static_cast<size_t>(n));
    const size_t slash = self.find_last_of("/\\");
    return (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/../plugins";
}

std::string Decibels(double value) {
    if (!(value > 0.0)) return "-inf dBFS";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f dBFS", 20.0 * std::log10(value));
    return text;
}

// A bar on stderr, redrawn when the percentage changes.
class ProgressBar {
public:
    explicit ProgressBar(double sample_rate) : m_rate(sample_rate) {}
    void Show(uint64_t done, uint64_t total) {
        const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
        if (percent == m_percent) return;
        m_percent = percent;
        constexpr int kWidth = 30;
        const int filled = percent * kWidth / 100;
        std::fprintf(stderr, "\rrendering [%s%s] %3d%%  %.1f / %.1f s", std::string(filled, '#').c_str(),
                     std::string(kWidth - filled, '.').c_str(), percent, done / m_rate, total / m_rate);
        if (done >= total) std::fprintf(stderr, "\r%*s\r", 70, "");
        std::fflush(stderr);
    }

private:
    double m_rate;
    int m_percent = -1;
};

// The files a render writes, each under a temporary name until the end.
struct RenderOutputs {
    sephost::OutputFile wav, waveform, spectrogram;
    bool Begin(const RenderArguments& a, std::string* error) {
        return wav.Begin(a.output, error) && (a.waveform.empty() || waveform.Begin(a.waveform, error)) &&
               (a.spectrogram.empty() || spectrogram.Begin(a.spectrogram, error));
    }
    bool Commit(const RenderArguments& a, std::string* error) {
        return wav.Commit(error) && (a.waveform.empty() || waveform.Commit(error)) &&
               (a.spectrogram.empty() || spectrogram.Commit(error));
    }
};

// What a render plays: the patch with its inputs replaced, the notes and
// controls of its score, a MIDI file or a JSON score.
struct Performance {
    Patch patch;
    std::vector<Note> notes;
    std::vector<Control> controls;
    std::string where;           // where the notes come from, for messages
    double input_seconds = 0.0;  // the longest sound file's length
};

bool ReadMidiNotes(const std::string& midi, Performance* p, std::string* error) {
    std::vector<std::string> warnings;
    if (!ReadMidiFile(midi, &p->notes, &warnings, error, &p->controls)) return false;
    DropScoreAutomation(&p->patch);
    for (const std::string& warning : warnings) std::cerr << "sep-host: warning: " << warning << "\n";
    if (!warnings.empty())
        std::cerr << "sep-host: warning: " << midi << " was read with " << warnings.size() << " warning"
                  << (warnings.size() == 1 ? "" : "s") << "\n";
    p->where = midi;
    return true;
}

bool ReadPerformance(const RenderArguments& a, Performance* p, std::string* error) {
    if (!ReadPatchFile(a.patch, &p->patch, error)) return false;
    for (const auto& [node, file] : a.inputs)
        if (!ReplaceInputFile(&p->patch, node, file, error)) return false;
    if (!LongestInputSeconds(p->patch, &p->input_seconds, error)) return false;
    p->notes = p->patch.notes;
    p->where = a.patch + ": score";
    if (!a.score.empty() && !ReplaceScore(a.score, &p->patch, &p->notes, error)) return false;
    if (!a.score.empty()) p->where = a.score;
    if (!a.midi.empty() && !ReadMidiNotes(a.midi, p, error)) return false;
    if (!p->notes.empty() || a.seconds >= 0.0 || p->input_seconds > 0.0) return true;
    if (!a.midi.empty())
        *error = a.midi + ": nothing to play: the file holds no note; give --seconds";
    else if (!a.score.empty())
        *error = a.score + ": nothing to play: the score holds no note; give --seconds";
    else
        *error = a.patch + ": nothing to play: the patch has no score; give --score, --midi or --seconds";
    return false;
}

// The options first, then the patch's values, then the defaults.
RenderSettings Settings(const RenderArguments& a, const Performance& p) {
    RenderSettings settings;
    settings.sample_rate = a.sample_rate > 0.0         ? a.sample_rate
                           : p.patch.sample_rate > 0.0 ? p.patch.sample_rate
                                                       : 44100.0;
    settings.block_size = a.block_size > 0 ? a.block_size : p.patch.block_size > 0 ? p.patch.block_size : 256;
    settings.seconds = a.seconds;
    settings.tail = a.tail >= 0.0 ? a.tail : p.patch.tail >= 0.0 ? p.patch.tail : 1.0;
    settings.input_seconds = p.input_seconds;
    settings.controls = p.controls;
    settings.max_seconds = a.max_seconds;
    settings.ceiling_db = a.ceiling_db;
    settings.plugin_folders = a.plugin_folders;
    settings.plugin_folders.push_back(BuiltPluginFolder());
    return settings;
}

// Refuses a render longer than allowed or than a WAV file holds.
bool CheckLength(const RenderArguments& a, const Performance& p, const RenderSettings& settings, uint64_t* total,
                 std::string* error) {
    if (!CheckRenderLength(p.notes, settings, p.where, error)) return false;
    *total = RenderLength(p.notes, settings);
    if (*total <= MaxWavFrames(a.pcm24 ? WavEncoding::kPcm24 : WavEncoding::kFloat32)) return true;
    *error = a.output + ": the render's " + DescribeSeconds(static_cast<double>(*total) / settings.sample_rate) +
             " at " + std::to_string(static_cast<long long>(settings.sample_rate)) + " Hz would take " +
             std::to_string(*total * (a.pcm24 ? 6 : 8) >> 20) + " MiB, more than a WAV file holds (4 GiB); use " +
             (a.pcm24 ? "" : "--pcm24, ") + "a lower rate or a shorter render";
    return false;
}

// Renders into the WAV file and the pictures, under their temporary names,
// and gives them their names. A failure leaves the temporary files to
// RenderOutputs, which removes them: the targets stay as they were.
bool RenderFiles(const RenderArguments& a, const Performance& p, const RenderSettings& settings, uint64_t total,
                 RenderSummary* summary, double* wall, std::string* error) {
    RenderOutputs outputs;
    if (!outputs.Begin(a, error)) return false;
    WavFile wav;
    const WavEncoding encoding = a.pcm24 ? WavEncoding::kPcm24 : WavEncoding::kFloat32;
    if (!wav.Open(outputs.wav.TemporaryPath(), static_cast<int>(std::lround(settings.sample_rate)), encoding, error))
        return false;
    WaveformPlot plot(total);
    std::vector<StereoConsumer*> consumers = {&wav};
    if (!a.waveform.empty()) consumers.push_back(&plot);
    const auto started = std::chrono::steady_clock::now();
    const bool rendered = Render(p.patch, p.notes, settings, consumers, summary, error);
    *wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::string closing;
    const bool closed = wav.Close(&closing);
    if (!rendered || !closed) {
        if (rendered) *error = closing;
        return false;
    }
    const std::string& title = a.title.empty() ? a.patch : a.title;
    if (!a.waveform.empty() && !plot.Write(outputs.waveform.TemporaryPath(), settings.sample_rate, title, error))
        return false;
    if (!a.spectrogram.empty() &&
        !DrawSpectrogram(outputs.wav.TemporaryPath(), outputs.spectrogram.TemporaryPath(), title, error))
        return false;
    return outputs.Commit(a, error);
}

// The one-line summary and the files written; the status of the outputs.
int Report(const RenderArguments& a, const RenderSettings& settings, const RenderSummary& summary, double wall) {
    const double seconds = static_cast<double>(summary.frames) / settings.sample_rate;
    char line[512];
    std::snprintf(line, sizeof line,
                  "%s: %.3f s at %g Hz, block %d, %zu note%s (%zu stolen, %zu dropped), peak %s, RMS %s, "
                  "%.1fx real time",
                  a.output.c_str(), seconds, settings.sample_rate, static_cast<int>(settings.block_size), summary.notes,
                  summary.notes == 1 ? "" : "s", summary.stolen, summary.dropped, Decibels(summary.peak).c_str(),
                  Decibels(summary.rms).c_str(), wall > 0.0 ? seconds / wall : 0.0);
    std::cout << line << "\n";
    if (!a.spectrogram.empty()) std::cout << "spectrogram: " << a.spectrogram << "\n";
    if (!a.waveform.empty()) std::cout << "waveform: " << a.waveform << "\n";
    // The files are kept: what the modules gave is what an author needs to
    // see. The status still says the render is not sound.
    if (!summary.BadOutput()) return kExitOk;
    const std::string bad = a.output + ": " + DescribeBadOutput(summary);
    if (a.allow_bad_output) {
        std::cerr << "sep-host: warning: " << bad << "\n";
        return kExitOk;
    }
    return Failure(bad + "; the files were written (" + (a.pcm24 ? "NaN as 0" : "as the modules gave them") +
                   "); --allow-bad-output accepts such a render");
}

int RunRender(const RenderArguments& a) {
    // Refused before anything is read or run: an output that is a device,
    // a folder or a FIFO.
    std::string error;
    for (const std::string* path : {&a.output, &a.spectrogram, &a.waveform})
        if (!path->empty() && !sephost::CheckOutputPath(*path, &error)) return Failure(error);
    Performance performance;
    if (!ReadPerformance(a, &performance, &error)) return Failure(error);
    RenderSettings settings = Settings(a, performance);
    uint64_t total = 0;
    if (!CheckLength(a, performance, settings, &total, &error)) return Failure(error);
    ProgressBar bar(settings.sample_rate);
    if (!a.quiet && isatty(STDERR_FILENO) && total > static_cast<uint64_t>(settings.sample_rate)) {
        settings.progress = [&bar](uint64_t done, uint64_t all) { bar.Show(done, all); };
        bar.Show(0, total);
    }
    RenderSummary summary;
    double wall = 0.0;
    if (!RenderFiles(a, performance, settings, total, &summary, &wall, &error)) return Failure(error);
    return Report(a, settings, summary, wall);
}

}  // namespace

int RenderCommand(const std::vector<std::string>& args) {
    CommandLine options("render", kRenderHelp);
    RenderArguments a;
    AddRenderOptions(options, &a);
    int status = kExitOk;
    if (!options.Parse(args, &status)) return status;
    for (const std::string& text : a.input_texts) {
        const size_t equals = text.find('=');
        a.inputs.push_back({text.substr(0, equals), text.substr(equals + 1)});
    }
    return RunRender(a);
}

}  // namespace septool
