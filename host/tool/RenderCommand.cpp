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
#include "FileAccess.h"
#include "Graph.h"
#include "Patch.h"
#include "Pictures.h"
#include "Render.h"
#include "Score.h"
#include "WavFile.h"

namespace septool {

using namespace sephost::render;

extern const char kRenderUsage[] =
    "PATCH.json [--score F.json | --midi F.mid] -o OUT.wav [--sample-rate HZ] [--block-size N] [--seconds S]\n"
    "                       [--tail S] [--max-length S] [--pcm24] [--spectrogram OUT.png] [--waveform OUT.svg]\n"
    "                       [--title TEXT] [--ceiling DB] [--allow-bad-output] [--input NODE=FILE]\n"
    "                       [--plugins DIR] [--quiet]";

extern const char kRenderHelp[] =
    "plays the notes of a score through a patch of modules and writes a\n"
    "          stereo WAV (32-bit float; --pcm24 for 24-bit PCM). The score is the\n"
    "          patch's own \"score\", a JSON score (--score) or a Standard MIDI File\n"
    "          (--midi). The length is the last note's (or the longest sound\n"
    "          file's) end plus --tail seconds\n"
    "          (default 1, or the patch's \"tail\"), or exactly --seconds. The sample\n"
    "          rate (--sample-rate or --rate, default 44100) and block size\n"
    "          (--block-size or --block, default 256) are the patch's when it names\n"
    "          them and the options are absent. --spectrogram draws the WAV's\n"
    "          spectrogram with sox; --waveform plots both channels as SVG; each is\n"
    "          titled with --title TEXT, by default the patch file's name. A .sep\n"
    "          named without a folder is looked for beside the patch, in each\n"
    "          --plugins DIR, and in the plugins folder next to sep-host's own bin\n"
    "          folder. A render longer than --max-length seconds (default 10800, three\n"
    "          hours) or than a WAV file holds (4 GiB) is refused before it starts.\n"
    "          Every file is written under a temporary name beside it and takes its\n"
    "          name only when complete: a failed render leaves the files as they were.\n"
    "          Prints a progress bar on a terminal (not with --quiet) and a\n"
    "          one-line summary. An output holding NaN, infinity or samples beyond\n"
    "          --ceiling DB (default +24 dBFS) fails the render, naming the module and\n"
    "          pin whose output went non-finite first and when; the WAV is written all\n"
    "          the same (NaN as 0 in PCM), and --allow-bad-output makes it a warning.\n"
    "          --input NODE=FILE (repeatable) makes the patch's file node NODE read\n"
    "          FILE; sound files are read on Linux only.\n"
    "          docs/rendering.md describes the files.";

namespace {

struct RenderArguments {
    std::string patch, score, midi, output, spectrogram, waveform, title;
    double sample_rate = 0.0, seconds = -1.0, tail = -1.0, max_seconds = kDefaultMaxRenderSeconds;
    double ceiling_db = kDefaultCeilingDb;
    int32_t block_size = 0;
    bool pcm24 = false, quiet = false, allow_bad_output = false;
    std::vector<std::string> plugin_folders;
    std::vector<std::pair<std::string, std::string>> inputs;  // --input NODE=FILE
};

// 0 when parsed, otherwise the exit status of a usage error.
int Parse(const std::vector<std::string>& args, RenderArguments* a) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        const char* next = i + 1 < args.size() ? args[i + 1].c_str() : nullptr;
        struct Valued {
            const char* name;
            std::string* text;
        } texts[] = {{"--score", &a->score},           {"--midi", &a->midi},         {"-o", &a->output},
                     {"--spectrogram", &a->spectrogram}, {"--waveform", &a->waveform},
                     {"--title", &a->title}};
        bool matched = false;
        for (const Valued& v : texts) {
            if (word != v.name) continue;
            if (next == nullptr || *next == '\0')
                return Usage(word + (v.text == &a->title ? " needs a text" : " needs a file name"));
            *v.text = next;
            matched = true;
        }
        if (matched) {
            ++i;
        } else if (word == "--sample-rate" || word == "--rate" || word == "--block-size" || word == "--block") {
            // The shared run options, under the names this command gives
            // them too; their messages then name the word the user wrote.
            const bool rate = word == "--sample-rate" || word == "--rate";
            const std::string shared = rate ? "--rate" : "--block";
            std::vector<std::string> pair = {shared};
            if (next != nullptr) pair.push_back(next);
            size_t at = 0;
            RunOptions run;
            std::string problem;
            if (ParseRunOption(pair, &at, &run, &problem) != OptionResult::kTaken)
                return Usage(word + problem.substr(std::min(problem.size(), shared.size())));
            // A WAV file stores a whole number of Hz; the modules run at
            // exactly the rate the file says.
            if (rate && std::floor(run.rate) != run.rate)
                return Usage(word + " needs a whole number of Hz for the WAV file, not " + args[i + 1]);
            if (rate) a->sample_rate = run.rate;
            if (!rate) a->block_size = run.block;
            ++i;
        } else if (word == "--seconds") {
            if (!ReadNumber(next, 0.0, 86400.0, false, &a->seconds))
                return Usage("--seconds needs a length from 0 to 86400");
            ++i;
        } else if (word == "--tail") {
            if (!ReadNumber(next, 0.0, 3600.0, false, &a->tail))
                return Usage("--tail needs a length from 0 to 3600 seconds");
            ++i;
        } else if (word == "--max-length") {
            if (!ReadNumber(next, 1.0, 1.0e6, false, &a->max_seconds))
                return Usage("--max-length needs a length from 1 to 1000000 seconds");
            ++i;
        } else if (word == "--ceiling") {
            // Up to the largest float's level: the ceiling of a float output.
            if (!ReadNumber(next, -200.0, 770.0, false, &a->ceiling_db))
                return Usage("--ceiling needs a level in dBFS from -200 to 770");
            ++i;
        } else if (word == "--plugins") {
            if (next == nullptr || *next == '\0') return Usage("--plugins needs a folder");
            a->plugin_folders.push_back(next);
            ++i;
        } else if (word == "--input") {
            const std::string value = next != nullptr ? next : "";
            const size_t equals = value.find('=');
            if (equals == std::string::npos || equals == 0 || equals + 1 == value.size())
                return Usage("--input needs NODE=FILE, the name of a file node of the patch and a sound file");
            a->inputs.push_back({value.substr(0, equals), value.substr(equals + 1)});
            ++i;
        } else if (word == "--pcm24") {
            a->pcm24 = true;
        } else if (word == "--quiet") {
            a->quiet = true;
        } else if (word == "--allow-bad-output") {
            a->allow_bad_output = true;
        } else if (!word.empty() && word[0] == '-') {
            return Usage("unknown option " + word);
        } else if (a->patch.empty()) {
            a->patch = word;
        } else {
            return Usage("one patch at a time");
        }
    }
    if (a->patch.empty()) return Usage("render needs a patch file");
    if (a->output.empty()) return Usage("render needs -o OUT.wav");
    if (!a->score.empty() && !a->midi.empty()) return Usage("--score and --midi exclude each other");
    return 0;
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

int RunRender(const RenderArguments& a) {
    auto fail = [](const std::string& error) { return Failure(error); };

    // Refused before anything is read or run: an output that is a device,
    // a folder or a FIFO.
    std::string error;
    for (const std::string* path : {&a.output, &a.spectrogram, &a.waveform})
        if (!path->empty() && !sephost::CheckOutputPath(*path, &error)) return fail(error);

    Patch patch;
    if (!ReadPatchFile(a.patch, &patch, &error)) return fail(error);
    for (const auto& [node, file] : a.inputs)
        if (!ReplaceInputFile(&patch, node, file, &error)) return fail(error);
    double input_seconds = 0.0;
    if (!LongestInputSeconds(patch, &input_seconds, &error)) return fail(error);
    std::vector<Note> notes = patch.notes;
    std::vector<Control> controls;
    std::string where = a.patch + ": score";
    if (!a.score.empty() && !ReplaceScore(a.score, &patch, &notes, &error)) return fail(error);
    if (!a.score.empty()) where = a.score;
    if (!a.midi.empty()) {
        std::vector<std::string> warnings;
        if (!ReadMidiFile(a.midi, &notes, &warnings, &error, &controls)) return fail(error);
        DropScoreAutomation(&patch);
        for (const std::string& warning : warnings) std::cerr << "sep-host: warning: " << warning << "\n";
        if (!warnings.empty())
            std::cerr << "sep-host: warning: " << a.midi << " was read with " << warnings.size() << " warning"
                      << (warnings.size() == 1 ? "" : "s") << "\n";
        where = a.midi;
    }
    if (notes.empty() && a.seconds < 0.0 && input_seconds <= 0.0) {
        if (!a.midi.empty()) return fail(a.midi + ": nothing to play: the file holds no note; give --seconds");
        if (!a.score.empty()) return fail(a.score + ": nothing to play: the score holds no note; give --seconds");
        return fail(a.patch + ": nothing to play: the patch has no score; give --score, --midi or --seconds");
    }

    RenderSettings settings;
    settings.sample_rate = a.sample_rate > 0.0 ? a.sample_rate : patch.sample_rate > 0.0 ? patch.sample_rate : 44100.0;
    settings.block_size = a.block_size > 0 ? a.block_size : patch.block_size > 0 ? patch.block_size : 256;
    settings.seconds = a.seconds;
    settings.tail = a.tail >= 0.0 ? a.tail : patch.tail >= 0.0 ? patch.tail : 1.0;
    settings.input_seconds = input_seconds;
    settings.controls = controls;
    settings.max_seconds = a.max_seconds;
    settings.ceiling_db = a.ceiling_db;
    settings.plugin_folders = a.plugin_folders;
    settings.plugin_folders.push_back(BuiltPluginFolder());
    if (!CheckRenderLength(notes, settings, where, &error)) return fail(error);
    const uint64_t total = RenderLength(notes, settings);
    const WavEncoding encoding = a.pcm24 ? WavEncoding::kPcm24 : WavEncoding::kFloat32;
    if (total > MaxWavFrames(encoding))
        return fail(a.output + ": the render's " + DescribeSeconds(static_cast<double>(total) / settings.sample_rate) +
                    " at " + std::to_string(static_cast<long long>(settings.sample_rate)) + " Hz would take " +
                    std::to_string(total * (a.pcm24 ? 6 : 8) >> 20) +
                    " MiB, more than a WAV file holds (4 GiB); use " +
                    (a.pcm24 ? "" : "--pcm24, ") + "a lower rate or a shorter render");
    ProgressBar bar(settings.sample_rate);
    if (!a.quiet && isatty(STDERR_FILENO) && total > static_cast<uint64_t>(settings.sample_rate)) {
        settings.progress = [&bar](uint64_t done, uint64_t all) { bar.Show(done, all); };
        bar.Show(0, total);
    }

    RenderOutputs outputs;
    if (!outputs.Begin(a, &error)) return fail(error);
    WavFile wav;
    if (!wav.Open(outputs.wav.TemporaryPath(), static_cast<int>(std::lround(settings.sample_rate)), encoding, &error))
        return fail(error);
    WaveformPlot plot(total);
    std::vector<StereoConsumer*> consumers = {&wav};
    if (!a.waveform.empty()) consumers.push_back(&plot);

    const auto started = std::chrono::steady_clock::now();
    RenderSummary summary;
    const bool rendered = Render(patch, notes, settings, consumers, &summary, &error);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::string closing;
    const bool closed = wav.Close(&closing);
    // A failure leaves the temporary files to RenderOutputs, which removes
    // them: the targets stay as they were.
    if (!rendered || !closed) return fail(rendered ? closing : error);
    const std::string& title = a.title.empty() ? a.patch : a.title;
    if (!a.waveform.empty() &&
        !plot.Write(outputs.waveform.TemporaryPath(), settings.sample_rate, title, &error))
        return fail(error);
    if (!a.spectrogram.empty() && !DrawSpectrogram(outputs.wav.TemporaryPath(), outputs.spectrogram.TemporaryPath(),
                                                   title, &error))
        return fail(error);
    if (!outputs.Commit(a, &error)) return fail(error);

    const double seconds = static_cast<double>(summary.frames) / settings.sample_rate;
    char line[512];
    std::snprintf(line, sizeof line,
                  "%s: %.3f s at %g Hz, block %d, %zu note%s (%zu stolen, %zu dropped), peak %s, RMS %s, "
                  "%.1fx real time",
                  a.output.c_str(), seconds, settings.sample_rate, static_cast<int>(settings.block_size),
                  summary.notes, summary.notes == 1 ? "" : "s", summary.stolen, summary.dropped, Decibels(summary.peak).c_str(),
                  Decibels(summary.rms).c_str(), wall > 0.0 ? seconds / wall : 0.0);
    std::cout << line << "\n";
    if (!a.spectrogram.empty()) std::cout << "spectrogram: " << a.spectrogram << "\n";
    if (!a.waveform.empty()) std::cout << "waveform: " << a.waveform << "\n";
    // The files are kept: what the modules gave is what an author needs to
    // see. The status still says the render is not sound.
    if (summary.BadOutput()) {
        const std::string bad = a.output + ": " + DescribeBadOutput(summary);
        if (a.allow_bad_output) {
            std::cerr << "sep-host: warning: " << bad << "\n";
            return kExitOk;
        }
        return fail(bad + "; the files were written (" + (a.pcm24 ? "NaN as 0" : "as the modules gave them") +
                    "); --allow-bad-output accepts such a render");
    }
    return kExitOk;
}

}  // namespace

int RenderCommand(const std::vector<std::string>& args) {
    RenderArguments a;
    if (const int usage = Parse(args, &a)) return usage;
    return RunRender(a);
}

}  // namespace septool
