// sep-scenarios: renders the fixed scenarios through the test host into a
// binary dump (every output sample, every process call, every callback in
// order), and compares two dumps. The Linux and the Windows build each
// render; the dumps must agree byte for byte.
//
//   sep-scenarios render ULVO.sep TESSARN.sep OUT.bin
//   sep-scenarios compare A.bin B.bin
//   sep-scenarios list
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CallProcess.h"
#include "Scenarios.h"
#include "SepHost.h"

namespace {

using identity::CallMode;
using identity::Scenario;

// --- dump records ----------------------------------------------------------------
// A dump is "SEPDUMP1", then per render: its name, its section count, and
// per section a label, an element size and the elements. All integers are
// 32-bit little-endian, as the machine stores them.

struct Section {
    std::string label;
    uint32_t element_size = 4;
    std::vector<uint8_t> bytes;
};

struct Render {
    std::string name;
    std::vector<Section> sections;
};

constexpr char kMagic[8] = {'S', 'E', 'P', 'D', 'U', 'M', 'P', '1'};

template <class T>
void Append(std::vector<uint8_t>* bytes, const T& value) {
    const auto* p = reinterpret_cast<const uint8_t*>(&value);
    bytes->insert(bytes->end(), p, p + sizeof value);
}

void WriteWord(std::FILE* file, uint32_t word) { std::fwrite(&word, sizeof word, 1, file); }

void WriteText(std::FILE* file, const std::string& text) {
    WriteWord(file, static_cast<uint32_t>(text.size()));
    std::fwrite(text.data(), 1, text.size(), file);
}

void WriteRender(std::FILE* file, const Render& render) {
    WriteText(file, render.name);
    WriteWord(file, static_cast<uint32_t>(render.sections.size()));
    for (const Section& s : render.sections) {
        WriteText(file, s.label);
        WriteWord(file, s.element_size);
        WriteWord(file, static_cast<uint32_t>(s.bytes.size() / s.element_size));
        std::fwrite(s.bytes.data(), 1, s.bytes.size(), file);
    }
}

class Reader {
public:
    explicit Reader(std::FILE* file) : m_file(file) {}
    bool Word(uint32_t* word) { return std::fread(word, sizeof *word, 1, m_file) == 1; }
    bool Bytes(size_t count, std::vector<uint8_t>* out) {
        out->resize(count);
        return count == 0 || std::fread(out->data(), 1, count, m_file) == count;
    }
    bool Text(std::string* text) {
        uint32_t length = 0;
        std::vector<uint8_t> bytes;
        if (!Word(&length) || length > (1u << 16) || !Bytes(length, &bytes)) return false;
        text->assign(bytes.begin(), bytes.end());
        return true;
    }

private:
    std::FILE* m_file;
};

bool ReadDump(const std::string& path, std::vector<Render>* renders, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = "cannot open " + path;
        return false;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> closer(file, std::fclose);
    char magic[8];
    if (std::fread(magic, 1, sizeof magic, file) != sizeof magic || std::memcmp(magic, kMagic, sizeof magic) != 0) {
        *error = path + " is not a scenario dump";
        return false;
    }
    Reader in(file);
    Render render;
    while (in.Text(&render.name)) {
        uint32_t sections = 0;
        if (!in.Word(&sections)) break;
        render.sections.assign(sections, Section());
        for (Section& s : render.sections) {
            uint32_t count = 0;
            if (!in.Text(&s.label) || !in.Word(&s.element_size) || s.element_size == 0 || !in.Word(&count) ||
                !in.Bytes(static_cast<size_t>(count) * s.element_size, &s.bytes)) {
                *error = path + ": truncated in " + render.name;
                return false;
            }
        }
        renders->push_back(render);
    }
    if (!std::feof(file)) {
        *error = path + ": truncated after " + std::to_string(renders->size()) + " renders";
        return false;
    }
    return true;
}

// --- rendering ---------------------------------------------------------------------

// Addresses differ between runs and platforms; what a callback says is its
// opcode, arguments and clock. Time stamps travel in ptr for the status and
// send opcodes; the pin-buffer answer is an address.
sephost::CallbackRecord Normalised(sephost::CallbackRecord c) {
    if (c.opcode != SE_CB_PIN_STATUS && c.opcode != SE_CB_PIN_SEND) c.ptr = 0;
    if (c.opcode == SE_CB_PIN_BUFFER) c.result = 0;
    return c;
}

bool RenderScenario(const Scenario& scenario, const CallMode& mode, const sephost::Library& library, Render* render,
                    std::string* error) {
    sephost::EngineOptions options;
    options.sample_rate = scenario.sample_rate;
    options.block_size = scenario.block_size;
    options.record_callbacks = true;
    options.record_outputs = true;
    options.process_caller = identity::CallProcess;
    options.process_caller_context = const_cast<CallMode*>(&mode);
    sephost::Engine engine(options);
    if (engine.Place(library, scenario.voices, error) < 0) return false;
    scenario.drive(engine);
    if (!engine.Open(error)) return false;
    engine.Run(scenario.samples, error);  // breaches are part of the dump

    render->name = scenario.name + " [" + mode.name + "]";
    render->sections.clear();
    for (int instance = 0; instance < engine.InstanceCount(); ++instance) {
        const std::string who = "instance " + std::to_string(instance);
        for (const sephost::PinDescription& pin : engine.Declarations(instance)) {
            if (pin.direction != DR_OUT) continue;
            Section samples{who + " \"" + pin.name + "\" samples", 4, {}};
            for (float v : engine.Output(instance, pin.declaration)) Append(&samples.bytes, v);
            render->sections.push_back(std::move(samples));
        }
        Section calls{who + " process calls (clock, start, count)", 12, {}};
        for (const auto& call : engine.ProcessCalls(instance)) {
            Append(&calls.bytes, call.clock);
            Append(&calls.bytes, call.start);
            Append(&calls.bytes, call.count);
        }
        render->sections.push_back(std::move(calls));
    }
    Section callbacks{"callbacks (instance, clock, opcode, index, value, ptr, result)", 28, {}};
    for (const sephost::CallbackRecord& raw : engine.Callbacks()) {
        const sephost::CallbackRecord c = Normalised(raw);
        Append(&callbacks.bytes, static_cast<int32_t>(c.instance));
        Append(&callbacks.bytes, c.clock);
        Append(&callbacks.bytes, c.opcode);
        Append(&callbacks.bytes, c.index);
        Append(&callbacks.bytes, c.value);
        Append(&callbacks.bytes, static_cast<uint32_t>(c.ptr));
        Append(&callbacks.bytes, c.result);
    }
    render->sections.push_back(std::move(callbacks));
    Section breaches{"breaches", 1, {}};
    for (const std::string& b : engine.Breaches()) {
        breaches.bytes.insert(breaches.bytes.end(), b.begin(), b.end());
        breaches.bytes.push_back('\n');
    }
    render->sections.push_back(std::move(breaches));
    engine.Close();
    return true;
}

// The first difference between two sections, or empty.
std::string FirstDifference(const Section& a, const Section& b) {
    if (a.label != b.label || a.element_size != b.element_size)
        return "sections \"" + a.label + "\" and \"" + b.label + "\"";
    const size_t size = a.element_size;
    const size_t count_a = a.bytes.size() / size, count_b = b.bytes.size() / size;
    size_t differing = 0, first = 0;
    for (size_t k = 0; k < std::min(count_a, count_b); ++k) {
        if (std::memcmp(&a.bytes[k * size], &b.bytes[k * size], size) != 0 && differing++ == 0) first = k;
    }
    if (differing == 0 && count_a == count_b) return std::string();
    char text[256];
    if (differing == 0) {
        std::snprintf(text, sizeof text, "%s: %zu against %zu elements", a.label.c_str(), count_a, count_b);
        return text;
    }
    std::string words_a, words_b;
    for (size_t w = 0; w + 4 <= size; w += 4) {
        uint32_t x, y;
        std::memcpy(&x, &a.bytes[first * size + w], 4);
        std::memcpy(&y, &b.bytes[first * size + w], 4);
        char word[16];
        std::snprintf(word, sizeof word, " %08x", static_cast<unsigned>(x));
        words_a += word;
        std::snprintf(word, sizeof word, " %08x", static_cast<unsigned>(y));
        words_b += word;
    }
    std::snprintf(text, sizeof text, "%s: %zu elements differ, first at %zu:%s against%s", a.label.c_str(), differing,
                  first, words_a.c_str(), words_b.c_str());
    return text;
}

// Every difference between two renders, one line each.
std::vector<std::string> Differences(const Render& a, const Render& b) {
    std::vector<std::string> out;
    if (a.sections.size() != b.sections.size()) {
        out.push_back(std::to_string(a.sections.size()) + " against " + std::to_string(b.sections.size()) +
                      " sections");
        return out;
    }
    for (size_t s = 0; s < a.sections.size(); ++s) {
        const std::string d = FirstDifference(a.sections[s], b.sections[s]);
        if (!d.empty()) out.push_back(d);
    }
    return out;
}

int RenderAll(const std::string& ulvo_path, const std::string& tessarn_path, const std::string& out_path) {
    std::string error;
    std::unique_ptr<sephost::Library> ulvo = sephost::Library::Load(ulvo_path, &error);
    std::unique_ptr<sephost::Library> tessarn = ulvo ? sephost::Library::Load(tessarn_path, &error) : nullptr;
    if (ulvo == nullptr || tessarn == nullptr) {
        std::fprintf(stderr, "sep-scenarios: %s\n", error.c_str());
        return 1;
    }
    std::FILE* out = std::fopen(out_path.c_str(), "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "sep-scenarios: cannot write %s\n", out_path.c_str());
        return 1;
    }
    std::fwrite(kMagic, 1, sizeof kMagic, out);
    int failures = 0;
    size_t renders = 0, long_runs = 0;
    for (const Scenario& scenario : identity::AllScenarios()) {
        const sephost::Library& library = scenario.plugin == identity::Plugin::kUlvo ? *ulvo : *tessarn;
        std::vector<const CallMode*> modes;
        if (scenario.long_run)
            modes.push_back(&identity::kCallModes[long_runs++ % 5]);
        else
            for (const CallMode& mode : identity::kCallModes) modes.push_back(&mode);
        Render first;
        for (const CallMode* mode : modes) {
            Render render;
            if (!RenderScenario(scenario, *mode, library, &render, &error)) {
                std::fprintf(stderr, "sep-scenarios: %s: %s\n", scenario.name.c_str(), error.c_str());
                ++failures;
                continue;
            }
            WriteRender(out, render);
            ++renders;
            // How the stack and the x87 unit are left may not change a bit.
            if (mode == modes.front()) {
                first = render;
            } else {
                for (const std::string& d : Differences(first, render)) {
                    std::fprintf(stderr, "sep-scenarios: %s differs from %s: %s\n", render.name.c_str(),
                                 first.name.c_str(), d.c_str());
                    ++failures;
                }
            }
        }
    }
    if (std::fclose(out) != 0) {
        std::fprintf(stderr, "sep-scenarios: writing %s failed\n", out_path.c_str());
        return 1;
    }
    std::printf("%zu renders of %zu scenarios written to %s\n", renders, identity::AllScenarios().size(),
                out_path.c_str());
    return failures == 0 ? 0 : 1;
}

int Compare(const std::string& path_a, const std::string& path_b) {
    std::vector<Render> a, b;
    std::string error;
    if (!ReadDump(path_a, &a, &error) || !ReadDump(path_b, &b, &error)) {
        std::fprintf(stderr, "sep-scenarios: %s\n", error.c_str());
        return 1;
    }
    size_t differing = 0;
    for (size_t k = 0; k < std::max(a.size(), b.size()); ++k) {
        if (k >= a.size() || k >= b.size()) {
            std::printf("render %zu (%s) is only in %s\n", k, (k < a.size() ? a[k] : b[k]).name.c_str(),
                        (k < a.size() ? path_a : path_b).c_str());
            ++differing;
            continue;
        }
        std::vector<std::string> diffs =
            a[k].name == b[k].name ? Differences(a[k], b[k])
                                   : std::vector<std::string>{"names \"" + a[k].name + "\" and \"" + b[k].name + "\""};
        if (diffs.empty()) continue;
        ++differing;
        std::printf("DIFFERS %s\n", a[k].name.c_str());
        for (const std::string& d : diffs) std::printf("    %s\n", d.c_str());
    }
    size_t samples = 0;
    for (const Render& r : a)
        for (const Section& s : r.sections)
            if (s.label.find("samples") != std::string::npos) samples += s.bytes.size() / 4;
    std::printf("%zu of %zu renders differ (%zu output samples compared)\n", differing, std::max(a.size(), b.size()),
                samples);
    return differing == 0 && !a.empty() ? 0 : 1;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: sep-scenarios render ULVO.sep TESSARN.sep OUT.bin\n"
                 "       sep-scenarios compare A.bin B.bin\n"
                 "       sep-scenarios list\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 4 && args[0] == "render") return RenderAll(args[1], args[2], args[3]);
    if (args.size() == 3 && args[0] == "compare") return Compare(args[1], args[2]);
    if (args.size() == 1 && args[0] == "list") {
        for (const Scenario& s : identity::AllScenarios())
            std::printf("%s (%g Hz, block %d, %u samples%s)\n", s.name.c_str(), s.sample_rate,
                        static_cast<int>(s.block_size), static_cast<unsigned>(s.samples),
                        s.long_run ? ", one call mode" : ", every call mode");
        return 0;
    }
    return Usage();
}
