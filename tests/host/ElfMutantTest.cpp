// Corrupt copies of a real plug-in: one 32-bit word of the ELF header, the
// program headers, the dynamic section, the hash, symbol or relocation
// tables changed, or the file cut at a whole number of KiB. `sep-host info`
// on each must end with exit 0 and a description, or exit 1 with a message
// that says why; never by a signal, never hang. The test runs a fixed,
// evenly spread part of the set; SEP_ELF_MUTANTS=all runs all of it and
// prints the counts.
#include <elf.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "Command.h"

namespace {

constexpr size_t kWordsPerTable = 128;  // at most, spread over a long table
constexpr size_t kTestedMutants = 80;   // in the test's own run
constexpr double kBoundSeconds = 30.0;  // one run; a few seconds on an idle machine

struct Mutant {
    std::string what;
    size_t offset = 0;   // of the changed word
    uint32_t value = 0;  // its new value
    size_t cut = 0;      // when non-zero: the file cut to this many bytes instead
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

template <typename T>
T At(const std::string& image, size_t offset) {
    T value;
    std::memset(&value, 0, sizeof value);
    if (offset + sizeof value <= image.size()) std::memcpy(&value, image.data() + offset, sizeof value);
    return value;
}

// Every mutant of a 32-bit ELF shared library.
std::vector<Mutant> Mutants(const std::string& image) {
    std::vector<Mutant> mutants;
    const auto header = At<Elf32_Ehdr>(image, 0);
    struct Table {
        std::string name;
        size_t offset, size;
    };
    std::vector<Table> tables = {{"ELF header", 0, sizeof(Elf32_Ehdr)},
                                 {"program headers", header.e_phoff, size_t(header.e_phnum) * header.e_phentsize}};
    for (unsigned k = 0; k < header.e_phnum; ++k) {
        const auto segment = At<Elf32_Phdr>(image, header.e_phoff + k * sizeof(Elf32_Phdr));
        if (segment.p_type == PT_DYNAMIC) tables.push_back({"dynamic section", segment.p_offset, segment.p_filesz});
    }
    for (unsigned k = 0; k < header.e_shnum; ++k) {
        const auto section = At<Elf32_Shdr>(image, header.e_shoff + k * sizeof(Elf32_Shdr));
        const char* name = section.sh_type == SHT_HASH       ? "hash table"
                           : section.sh_type == SHT_GNU_HASH ? "GNU hash table"
                           : section.sh_type == SHT_DYNSYM   ? "dynamic symbol table"
                           : section.sh_type == SHT_REL      ? "relocation table"
                                                             : nullptr;
        if (name != nullptr)
            tables.push_back(
                {name + std::string(" at ") + std::to_string(section.sh_offset), section.sh_offset, section.sh_size});
    }
    for (const Table& table : tables) {
        const size_t words = table.size / 4;
        const size_t step = words > kWordsPerTable ? words / kWordsPerTable : 1;
        for (size_t w = 0; w < words; w += step) {
            const size_t offset = table.offset + 4 * w;
            if (offset + 4 > image.size()) break;
            const uint32_t old = At<uint32_t>(image, offset);
            for (uint32_t value : {0u, 0xFFFFFFFFu, old ^ 0x80000000u, old + 0x10000u}) {
                if (value == old) continue;
                mutants.push_back(
                    {table.name + " word " + std::to_string(w) + " = " + std::to_string(value), offset, value, 0});
            }
        }
    }
    for (size_t cut = 1024; cut < image.size(); cut += 1024)
        mutants.push_back({"cut to " + std::to_string(cut) + " bytes", 0, 0, cut});
    return mutants;
}

std::string Apply(const std::string& image, const Mutant& m) {
    if (m.cut != 0) return image.substr(0, m.cut);
    std::string bytes = image;
    std::memcpy(&bytes[m.offset], &m.value, 4);
    return bytes;
}

struct Ending {
    bool finished = false;
    int status = -1;  // exit status, or -signal
    std::string out;  // stdout and stderr
    double seconds = 0.0;
};

// `sep-host info FILE` in a child process of the test, as the tool runs it.
Ending Info(const std::string& path) {
    Ending ending;
    int out[2];
    if (pipe(out) != 0) return ending;
    std::cout.flush();
    const auto started = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        close(out[0]);
        close(out[1]);
        const int status = septool::Main({"info", path});
        std::cout.flush();
        std::cerr.flush();
        _exit(status);
    }
    close(out[1]);
    fcntl(out[0], F_SETFL, O_NONBLOCK);
    int status = 0;
    for (;;) {
        pollfd fd = {out[0], POLLIN, 0};
        if (poll(&fd, 1, 20) > 0) {
            char chunk[4096];
            const ssize_t n = read(out[0], chunk, sizeof chunk);
            if (n > 0) ending.out.append(chunk, size_t(n));
        }
        if (waitpid(child, &status, WNOHANG) == child) {
            ending.finished = true;
            break;
        }
        if (std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() > kBoundSeconds) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            break;
        }
    }
    char chunk[4096];
    for (ssize_t n; (n = read(out[0], chunk, sizeof chunk)) > 0;) ending.out.append(chunk, size_t(n));
    close(out[0]);
    ending.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ending.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return ending;
}

TEST(ElfMutants, InfoEndsWithADescriptionOrAMessageNeverASignal) {
    const std::string image = ReadFile(ULVO_SEP_PATH);
    ASSERT_GT(image.size(), 100000u);
    const std::vector<Mutant> all = Mutants(image);
    ASSERT_GT(all.size(), 1000u);
    const char* wanted = std::getenv("SEP_ELF_MUTANTS");
    const bool everything = wanted != nullptr && std::string(wanted) == "all";
    const size_t step = everything ? 1 : all.size() / kTestedMutants;

    const std::string dir = std::string(HOST_TEST_SCRATCH) + "/elf-mutants";
    ASSERT_EQ(std::system(("mkdir -p '" + dir + "'").c_str()), 0);
    const std::string path = dir + "/mutant.sep";
    std::map<std::string, int> counts;
    for (size_t k = 0; k < all.size(); k += step) {
        const Mutant& m = all[k];
        std::ofstream(path, std::ios::binary | std::ios::trunc) << Apply(image, m);
        const Ending e = Info(path);
        ASSERT_TRUE(e.finished) << m.what << ": no end within " << kBoundSeconds << " s\n" << e.out;
        EXPECT_GE(e.status, 0) << m.what << ": ended by signal " << -e.status << "\n" << e.out;
        EXPECT_TRUE(e.status == 0 || e.status == 1) << m.what << ": status " << e.status << "\n" << e.out;
        if (e.status == 0) {
            EXPECT_EQ(e.out.rfind("id:", 0), 0u) << m.what << "\n" << e.out;
            EXPECT_NE(e.out.find("\npins:"), std::string::npos) << m.what << "\n" << e.out;
        } else if (e.status == 1) {
            EXPECT_TRUE(e.out.rfind("sep-host: ", 0) == 0 || e.out.find("\nsep-host: ") != std::string::npos)
                << m.what << "\n"
                << e.out;
        }
        ++counts[e.status == 0 ? "described"
                 : e.status == 1
                     ? (e.out.find("system loader") != std::string::npos ? "refused: the loader failed" : "refused")
                     : "other"];
    }
    std::string summary;
    for (const auto& entry : counts) summary += " " + entry.first + ": " + std::to_string(entry.second) + ";";
    std::cout << all.size() << " mutants, " << (everything ? "all" : "every " + std::to_string(step) + "th") << " run;"
              << summary << "\n";
}

}  // namespace
