// `sep-host render` given hostile paths and inputs: it refuses them with a
// message and exit 1, within seconds, and never removes, truncates or
// half-writes a file that was there before.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "RenderToolFixture.h"

namespace {

// sep-host under `timeout`: a hang ends as status 124 instead of blocking
// the suite.
std::string Timed(const std::string& command) { return "timeout 300 '" SEP_HOST_PATH "' " + command; }

ToolOutput RunShell(const std::string& command) { return RunShellCommand(command + " 2>&1"); }

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// The names in a folder, hidden ones included (a temporary file left behind
// would show here).
std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    const ToolOutput listing = RunShell("ls -A " + Quoted(folder));
    size_t start = 0;
    for (size_t end; (end = listing.out.find('\n', start)) != std::string::npos; start = end + 1)
        names.push_back(listing.out.substr(start, end - start));
    return names;
}

mode_t Mode(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0 ? status.st_mode : 0;
}

// A patch that fails once its modules are placed (a pin name that does not
// exist): the output was opened by then.
const char kWrongPin[] = R"({"modules": [{"name": "env", "sep": "@TESSARN@", "pins": {"NoSuchPin": 1}}],
  "nodes": [{"name": "out", "type": "output"}], "connections": [["env.Signal Out", "out.left"]]})";

TEST(HostileRender, FailedRenderLeavesEveryFileAsItWas) {
    const std::string folder = Folder();
    const std::string patch = PatchFile("wrong.json", kWrongPin);
    WriteFile(folder + "/old.wav", "the previous render");
    WriteFile(folder + "/old.svg", "the previous plot");
    const std::string good = PatchFile("good.json", kGood);
    unlink((folder + "/link.wav").c_str());
    ASSERT_EQ(symlink("old.wav", (folder + "/link.wav").c_str()), 0);
    const std::vector<std::string> before = Names(folder);
    for (const char* target : {"old.wav", "link.wav", "new.wav"}) {
        SCOPED_TRACE(target);
        const ToolOutput run = RunRender(Quoted(patch) + " --seconds 0.1 -o " + Quoted(folder + "/" + target) +
                                         " --waveform " + Quoted(folder + "/old.svg"));
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_NE(run.out.find("no pin \"NoSuchPin\""), std::string::npos) << run.out;
        EXPECT_EQ(ReadFile(folder + "/old.wav"), "the previous render");
        EXPECT_EQ(ReadFile(folder + "/old.svg"), "the previous plot");
        EXPECT_TRUE(S_ISLNK(Mode(folder + "/link.wav")));
        EXPECT_EQ(Names(folder), before) << "a file was added or removed";
    }
    // A good render through the link replaces the file the link names.
    const ToolOutput run = RunRender(Quoted(good) + " --seconds 0.1 -o " + Quoted(folder + "/link.wav"));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(S_ISLNK(Mode(folder + "/link.wav")));
    EXPECT_EQ(ReadFile(folder + "/old.wav").substr(0, 4), "RIFF");
    EXPECT_EQ(Names(folder), before);
}

TEST(HostileRender, OutputThatIsNoFileIsRefusedBeforeAnythingRuns) {
    const std::string folder = Folder();
    const std::string patch = PatchFile("good.json", kGood);
    const std::string fifo = folder + "/fifo";
    unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Target {
        std::string option, path, says;
    } targets[] = {{"-o", "/dev/null", "/dev/null: is a device, not a regular file"},
                   {"-o", fifo, "is a FIFO, not a regular file"},
                   {"-o", folder, "is a folder, not a regular file"},
                   {"-o", folder + "/", "is a folder"},
                   {"-o", "-", "standard output is not supported"},
                   {"-o", folder + "/no/such/folder.wav", "does not exist"},
                   {"--waveform", fifo, "is a FIFO"},
                   {"--spectrogram", "/dev/null", "is a device"}};
    for (const Target& t : targets) {
        SCOPED_TRACE(t.option + " " + t.path);
        const std::string output = t.option == "-o" ? "" : " -o " + Quoted(folder + "/out.wav");
        const ToolOutput run =
            RunShell(Timed("render " + Quoted(patch) + " --seconds 0.1 " + t.option + " " + Quoted(t.path) + output));
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_NE(run.out.find(t.says), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("rendering"), std::string::npos);
    }
    EXPECT_TRUE(S_ISCHR(Mode("/dev/null")));
    EXPECT_TRUE(S_ISFIFO(Mode(fifo)));
    EXPECT_FALSE(S_ISREG(Mode(folder + "/out.wav")));
}

TEST(HostileRender, InputThatIsAFifoIsRefusedWithoutWaiting) {
    const std::string folder = Folder();
    const std::string patch = PatchFile("good.json", kGood);
    const std::string fifo = folder + "/fifo";
    unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string out = " -o " + Quoted(folder + "/out.wav");
    const std::string uses_fifo =
        PatchFile("fifo-module.json",
                  R"({"modules": [{"name": "m", "sep": "./fifo"}], "nodes": [{"name": "o", "type": "output"}]})");
    for (const std::string& command :
         {"info " + Quoted(fifo), "validate " + Quoted(fifo), "render " + Quoted(fifo) + out,
          "render " + Quoted(patch) + " --score " + Quoted(fifo) + out,
          "render " + Quoted(patch) + " --midi " + Quoted(fifo) + out,
          "render " + Quoted(uses_fifo) + " --seconds 1" + out}) {
        SCOPED_TRACE(command);
        const ToolOutput run = RunShell(Timed(command));
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_NE(run.out.find("is a FIFO, not a regular file"), std::string::npos) << run.out;
    }
}

// Patches and scores that crashed the host: each is an error naming what is
// wrong, in a message of a few lines at most.
TEST(HostileRender, MalformedPatchesAreErrorsNamingTheirPlace) {
    const std::string deep = std::string(100000, '[') + "1" + std::string(100000, ']');
    std::string chain = R"({"modules": [{"name": "env", "sep": "@TESSARN@"}], "nodes": [)";
    std::string links = R"([["env.Signal Out", "n0.in"])";
    // A chain long enough to overflow the small stack it is run with below
    // if any walk of the graph recursed per node.
    const int kChain = 10000;
    for (int k = 0; k < kChain; ++k) {
        chain += R"({"name": "n)" + std::to_string(k) + R"(", "type": "mix"},)";
        if (k > 0) links += R"(, ["n)" + std::to_string(k - 1) + R"(.out", "n)" + std::to_string(k) + R"(.in"])";
    }
    chain += R"({"name": "out", "type": "output"}], "connections": )" + links + R"(, ["n)" +
             std::to_string(kChain - 1) + R"(.out", "out.left"]]})";
    struct Case {
        const char* name;
        std::string patch;
        std::string options;
        int status;
        std::string says;
    } cases[] = {
        {"tail", R"({"tail": 1e400, "modules": []})", "", 1, "tail.json:1:10: \"tail\": 1e400 is beyond the range"},
        {"pins", R"({"modules": [{"name": "env", "sep": "@TESSARN@", "pins": {"Attack": -2e999}}]})", "", 1,
         "\"Attack\": -2e999 is beyond the range"},
        {"score", R"({"modules": [], "score": [{"start": 0, "length": 1e309, "hz": 440}]})", "", 1,
         "\"length\": 1e309 is beyond"},
        {"voices", R"({"modules": [{"name": "m", "sep": "x.sep", "voices": )" + deep + "}]}", "", 1,
         "voices.json:1:115: the values nest deeper than 64 levels"},
        {"chain", chain, " --seconds 0.01", 0, "0.010 s at 44100 Hz"},
        {"cycle", chain.substr(0, chain.size() - 2) + R"(, ["n9999.out", "n0.in"]]})", " --seconds 0.01", 1,
         "the connections form a cycle: n0 -> n1 -> n2 -> n3 -> n4 -> n5 -> ... -> n9995 -> n9996 -> n9997 -> n9998 -> "
         "n9999 -> n0 (10000 in all)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string patch = PatchFile(std::string(c.name) + ".json", c.patch);
        // The stack of 512 KiB, natively or under qemu-i386.
        const ToolOutput run =
            RunShell("ulimit -s 512 && QEMU_STACK_SIZE=524288 " +
                     Timed("render " + Quoted(patch) + c.options + " -o " + Quoted(Folder() + "/out.wav")));
        EXPECT_EQ(run.status, c.status) << run.out.substr(0, 2000);
        EXPECT_NE(run.out.find(c.says), std::string::npos) << run.out.substr(0, 2000);
        EXPECT_LT(run.out.size(), 1000u) << "a message quotes at most an excerpt";
    }
}

// More memory than the host's bound, a render beyond the sample clock or
// the length limit, a WAV beyond 4 GiB: refused before the render starts.
TEST(HostileRender, RendersBeyondTheBoundsAreRefusedUpFront) {
    const std::string folder = Folder();
    std::string many = R"({"modules": [{"name": "env", "sep": "@TESSARN@"}], "nodes": [)";
    std::string links;
    for (int k = 0; k < 300; ++k) {
        many += R"({"name": "n)" + std::to_string(k) + R"(", "type": "multiply"},)";
        links += R"(["env.Signal Out", "n)" + std::to_string(k) + R"(.in"],)";
    }
    many += R"({"name": "out", "type": "output"}], "connections": [)" + links + R"(["n0.out", "out.left"]]})";
    const std::string nodes = PatchFile("nodes.json", many);
    const std::string good = PatchFile("good.json", kGood);
    const std::string late_score = folder + "/late.json";
    WriteFile(late_score, R"({"tempo": 1, "notes": [{"start": 1000000, "length": 1, "pitch": 60}]})");
    // Division 1 tick a quarter, the slowest tempo, the longest delta time.
    const std::string late_midi = folder + "/late.mid";
    WriteFile(late_midi, std::string("MThd\0\0\0\6\0\0\0\1\0\1MTrk\0\0\0\25\0\xFF\x51\3\xFF\xFF\xFF\0\x90\x3C\x40"
                                     "\xFF\xFF\xFF\x7F\x3C\0\0\xFF\x2F\0",
                                     43));
    WriteFile(folder + "/old.wav", "the previous render");
    struct Case {
        const char* name;
        std::string args;
        std::string says;
    } cases[] = {
        {"node buffers", Quoted(nodes) + " --seconds 1 --block-size 1048576", "the render's buffers would take 1"},
        {"score beyond the clock", Quoted(good) + " --score " + Quoted(late_score),
         "late.json: the note at 60000000.000 s (ending at 60000060.000 s) lies beyond the host's 32-bit sample clock"},
        {"MIDI beyond the clock", Quoted(good) + " --midi " + Quoted(late_midi),
         "late.mid: the note at 0.000 s (ending at 4503599"},
        {"seconds beyond the clock", Quoted(good) + " --seconds 500 --rate 10000000",
         "--seconds 500 at 1e+07 Hz lies beyond the host's 32-bit sample clock (at most 429.5 s"},
        {"length limit", Quoted(good) + " --seconds 20000",
         "the render would last 5 h 33 min, longer than the limit of 3 h"},
        {"WAV beyond 4 GiB", Quoted(good) + " --seconds 60 --rate 10000000", "more than a WAV file holds (4 GiB)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ToolOutput run = RunShell(Timed("render " + c.args + " -o " + Quoted(folder + "/old.wav")));
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_NE(run.out.find(c.says), std::string::npos) << run.out;
        EXPECT_EQ(ReadFile(folder + "/old.wav"), "the previous render");
    }
}

// MIDI files that lost notes without a word, or stopped the host.
TEST(HostileRender, MidiFaultsAreNamedAndLegalChunksRead) {
    const std::string folder = Folder();
    const std::string good = PatchFile("good.json", kGood);
    const std::string header("MThd\0\0\0\6\0\0\0\1\0\x60", 14);
    const std::string notes("\0\x90\x3C\x64\x60\x80\x3C\0\0\x90\x40\x64\x60\x80\x40\0", 16);
    const std::string end("\0\xFF\x2F\0", 4);
    auto track = [](const std::string& events) {
        const size_t n = events.size();
        return "MTrk" + std::string{'\0', '\0', static_cast<char>(n >> 8), static_cast<char>(n & 0xFF)} + events;
    };
    struct Case {
        const char* name;
        std::string file;
        int status;
        std::string says;
    } cases[] = {
        {"stray F4", header + track(std::string("\0\xF4", 2) + notes + end), 1, "stray status byte F4"},
        {"unknown chunk first", header + "XTRA" + std::string("\0\0\0\2ab", 6) + track(notes + end), 0, "2 notes"},
        {"no end of track", header + track(notes), 0, "was read with 1 warning"},
        {"SysEx ending in F7", header + track(std::string("\0\xF0\3\x7E\x7F\xF7", 6) + notes + end), 0, "2 notes"},
        {"running status after SysEx", header + track(std::string("\0\x90\x3C\x64\0\xF0\1\xF7\x60\x3C\0", 11) + end), 0,
         "running status continued after a meta or SysEx event"},
        {"track beyond the file", header + "MTrk" + std::string("\x7F\xFF\xFF\xFF", 4) + notes, 1,
         "at byte 18: a chunk of 2147483647 bytes, but only 16 follow"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string midi = folder + "/song.mid";
        WriteFile(midi, c.file);
        const ToolOutput run = RunShell(Timed("render " + Quoted(good) + " --tail 0 --midi " + Quoted(midi) + " -o " +
                                              Quoted(folder + "/out.wav")));
        EXPECT_EQ(run.status, c.status) << run.out;
        EXPECT_NE(run.out.find(c.says), std::string::npos) << run.out;
    }
}

}  // namespace
