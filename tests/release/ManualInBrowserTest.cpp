// The Windows release archive as a musician gets it: unpacked into an empty
// folder, its file list and SHA256SUMS hold, and its manual works in a real
// browser (headless Chromium driven over the DevTools protocol on a pipe):
// no console error, every picture loaded with a size, every sound plays to
// its end with the duration of its file, every link between the pages
// resolves, nothing is fetched from outside the folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "SepVersion.h"

using nlohmann::json;

namespace {

const std::string kTop = std::string("ulvo-tessarn-") + SEP_VERSION + "-windows-x86";

int Shell(const std::string& command) {
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

std::string Capture(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
    pclose(pipe);
    return out;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

// Seconds of a FLAC file from its STREAMINFO block (sample rate and total
// samples); negative when the file is no FLAC.
double FlacSeconds(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char head[42] = {};
    if (!in.read(reinterpret_cast<char*>(head), sizeof head) || std::string(head, head + 4) != "fLaC") return -1.0;
    const unsigned char* info = head + 8;  // after the block header
    const uint32_t rate = (info[10] << 12) | (info[11] << 4) | (info[12] >> 4);
    const uint64_t samples = (static_cast<uint64_t>(info[13] & 0x0F) << 32) | (static_cast<uint64_t>(info[14]) << 24) |
                             (info[15] << 16) | (info[16] << 8) | info[17];
    return rate == 0 ? -1.0 : static_cast<double>(samples) / rate;
}

// Headless Chromium with the DevTools protocol on fds 3 (commands in) and 4
// (answers and events out), one JSON message per NUL-terminated record.
class Browser {
public:
    bool Start(const std::string& profile, std::string* why) {
        int to_browser[2], from_browser[2];
        if (pipe(to_browser) != 0 || pipe(from_browser) != 0) return *why = "pipe failed", false;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(to_browser[0], 3);
            dup2(from_browser[1], 4);
            for (int fd = 5; fd < 256; ++fd) close(fd);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            const std::string data_dir = "--user-data-dir=" + profile;
            execlp("chromium", "chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                   "--no-first-run", "--disable-background-networking", "--disable-component-update", "--disable-sync",
                   "--mute-audio", "--autoplay-policy=no-user-gesture-required", "--remote-debugging-pipe",
                   // the test's own reading of the sound files (the page needs no such access)
                   "--allow-file-access-from-files", data_dir.c_str(), "about:blank", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(to_browser[0]);
        close(from_browser[1]);
        m_in = to_browser[1];
        m_out = from_browser[0];
        return m_pid > 0;
    }

    ~Browser() {
        if (m_pid <= 0) return;
        Call("Browser.close", json::object(), "");
        close(m_in);
        close(m_out);
        for (int i = 0; i < 50 && waitpid(m_pid, nullptr, WNOHANG) == 0; ++i) usleep(100000);
        if (waitpid(m_pid, nullptr, WNOHANG) == 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }

    // Sends a command and waits for its answer; events that arrive meanwhile
    // are kept. Null on a broken pipe.
    json Call(const std::string& method, const json& params, const std::string& session) {
        json message = {{"id", ++m_next_id}, {"method", method}, {"params", params}};
        if (!session.empty()) message["sessionId"] = session;
        const std::string text = message.dump() + '\0';
        if (write(m_in, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return nullptr;
        for (;;) {
            json answer = Read();
            if (answer.is_null()) return nullptr;
            if (answer.contains("id") && answer["id"] == m_next_id) return answer;
            events.push_back(answer);
        }
    }

    // Waits for an event of `method`, kept or new.
    bool WaitFor(const std::string& method) {
        for (size_t i = m_seen; i < events.size(); ++i)
            if (events[i].value("method", "") == method) return m_seen = i + 1, true;
        for (;;) {
            json event = Read();
            if (event.is_null()) return false;
            events.push_back(event);
            if (event.value("method", "") == method) return m_seen = events.size(), true;
        }
    }

    std::vector<json> events;

private:
    json Read() {
        for (;;) {
            const size_t end = m_buffer.find('\0');
            if (end != std::string::npos) {
                const std::string text = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 1);
                return json::parse(text, nullptr, false);
            }
            char chunk[65536];
            const ssize_t n = read(m_out, chunk, sizeof chunk);
            if (n <= 0) return nullptr;
            m_buffer.append(chunk, static_cast<size_t>(n));
        }
    }

    pid_t m_pid = -1;
    int m_in = -1, m_out = -1;
    int m_next_id = 0;
    size_t m_seen = 0;
    std::string m_buffer;
};

// What a page reports of itself once loaded: its pictures, its sounds played
// to the end (muted, 16 times as fast) and decoded whole, its links and
// element ids, what it fetched.
const char kInspectPage[] = R"JS(
(async () => {
  // every sample of a file, through Web Audio: its length in seconds, -1 when it does not decode
  const decode = url => new Promise(resolve => {
    const request = new XMLHttpRequest();
    request.open('GET', url);
    request.responseType = 'arraybuffer';
    request.onload = () => new OfflineAudioContext(1, 1, 44100).decodeAudioData(request.response)
      .then(buffer => resolve(buffer.duration), () => resolve(-1));
    request.onerror = () => resolve(-2);
    request.send();
  });
  const images = [...document.images].map(i => ({src: i.getAttribute('src'), complete: i.complete,
    width: i.naturalWidth, height: i.naturalHeight, title: i.getAttribute('title') || ''}));
  const sounds = await Promise.all([...document.querySelectorAll('audio')].map(a => new Promise(resolve => {
    let settled = false;
    const done = (ended, why) => { if (!settled) { settled = true;
      decode(a.src).then(decoded => resolve({src: a.getAttribute('src'), ended, why, duration: a.duration, decoded}));
    } };
    a.addEventListener('ended', () => done(true, ''));
    a.addEventListener('error', () => done(false, 'media error ' + (a.error ? a.error.code : '?')));
    setTimeout(() => done(false, 'no end within 30 s'), 30000);
    a.muted = true;
    a.playbackRate = 16;
    a.play().catch(e => done(false, 'play: ' + e));
  })));
  const links = [...document.querySelectorAll('a[href]')].map(a => a.getAttribute('href'));
  const ids = [...document.querySelectorAll('[id]')].map(e => e.id);
  const resources = performance.getEntriesByType('resource').map(r => r.name);
  return JSON.stringify({images, sounds, links, ids, resources});
})()
)JS";

class ReleaseArchive : public ::testing::Test {
protected:
    void SetUp() override {
        m_zip = std::string(SEP_RELEASE_DIR) + "/" + kTop + ".zip";
        if (!std::ifstream(m_zip).good()) GTEST_SKIP() << m_zip << " is missing: run bash scripts/release.sh first";
        m_work = std::string(SEP_TEST_SCRATCH) + "/unpacked";
        ASSERT_EQ(Shell("rm -rf '" + m_work + "' && mkdir -p '" + m_work + "'"), 0);
        ASSERT_EQ(Shell("unzip -q '" + m_zip + "' -d '" + m_work + "'"), 0) << m_zip;
        m_folder = m_work + "/" + kTop;
    }
    std::string m_zip, m_work, m_folder;
};

TEST_F(ReleaseArchive, HoldsTheProductAndItsChecksums) {
    // one top folder, and in it exactly the product
    EXPECT_EQ(Lines(Capture("ls -A '" + m_work + "'")), std::vector<std::string>{kTop});
    const std::vector<std::string> files =
        Lines(Capture("cd '" + m_folder + "' && find . -type f | sed 's|^./||' | sort"));
    for (const char* required :
         {"ulvo.sep", "tessarn.sep", "sep-host.exe", "LICENSE", "CHANGELOG.md", "SHA256SUMS", "manual/index.html",
          "manual/ulvo.html", "manual/tessarn.html", "examples/demo-patch.json", "examples/demo-score.json"})
        EXPECT_NE(std::find(files.begin(), files.end(), required), files.end()) << "the archive lacks " << required;
    std::set<std::string> summed;
    for (const std::string& line : Lines(Capture("cat '" + m_folder + "/SHA256SUMS'"))) summed.insert(line.substr(66));
    for (const std::string& file : files) {
        const bool known = file.rfind("manual/images/", 0) == 0 || file.rfind("manual/sounds/", 0) == 0 ||
                           file.rfind("examples/", 0) == 0 || file.find('/') == std::string::npos ||
                           file.rfind("manual/", 0) == 0;
        EXPECT_TRUE(known) << "unexpected file " << file;
        if (file != "SHA256SUMS") {
            EXPECT_EQ(summed.count(file), 1u) << file << " is not in SHA256SUMS";
        }
    }
    EXPECT_EQ(summed.size() + 1, files.size()) << "SHA256SUMS names files the archive lacks";
    EXPECT_EQ(Shell("cd '" + m_folder + "' && sha256sum --quiet --strict -c SHA256SUMS"), 0);
}

TEST_F(ReleaseArchive, ManualWorksInABrowser) {
    if (Shell("command -v chromium >/dev/null") != 0) GTEST_SKIP() << "chromium is not installed (scripts/setup.sh)";
    const std::string manual = m_folder + "/manual/";
    Browser browser;
    std::string why;
    ASSERT_TRUE(browser.Start(std::string(SEP_TEST_SCRATCH) + "/chromium-profile", &why)) << why;
    const json target = browser.Call("Target.createTarget", {{"url", "about:blank"}}, "");
    ASSERT_FALSE(target.is_null()) << "no answer from chromium";
    const json attached =
        browser.Call("Target.attachToTarget", {{"targetId", target["result"]["targetId"]}, {"flatten", true}}, "");
    const std::string session = attached["result"]["sessionId"];
    for (const char* domain : {"Page.enable", "Runtime.enable", "Log.enable"})
        ASSERT_FALSE(browser.Call(domain, json::object(), session).contains("error")) << domain;

    std::map<std::string, std::set<std::string>> ids_of;     // page -> its element ids
    std::vector<std::pair<std::string, std::string>> links;  // page, href
    std::vector<std::string> to_visit = {"index.html"};
    int images = 0, sounds = 0;
    while (!to_visit.empty()) {
        const std::string page = to_visit.back();
        to_visit.pop_back();
        if (ids_of.count(page)) continue;
        const size_t events_before = browser.events.size();
        browser.Call("Page.navigate", {{"url", "file://" + manual + page}}, session);
        ASSERT_TRUE(browser.WaitFor("Page.loadEventFired")) << page;
        const json result =
            browser.Call("Runtime.evaluate",
                         {{"expression", kInspectPage}, {"awaitPromise", true}, {"returnByValue", true}}, session);
        ASSERT_TRUE(result["result"]["result"].contains("value")) << page << ": " << result.dump();
        const json report = json::parse(result["result"]["result"]["value"].get<std::string>());
        for (const json& image : report["images"]) {
            ++images;
            EXPECT_TRUE(image["complete"] && image["width"] > 0 && image["height"] > 0)
                << page << ": picture " << image["src"] << " did not load";
            const std::string title = image["title"];
            EXPECT_TRUE(!title.empty() && title.find('/') == std::string::npos &&
                        title.find(".json") == std::string::npos)
                << page << ": picture " << image["src"] << " has no title in words: \"" << title << "\"";
        }
        for (const json& sound : report["sounds"]) {
            ++sounds;
            const std::string src = sound["src"];
            EXPECT_TRUE(sound["ended"].get<bool>()) << page << ": " << src << " did not play: " << sound["why"];
            const double expected = FlacSeconds(manual + src);
            EXPECT_GT(expected, 0.0) << src << " is no FLAC file";
            EXPECT_NEAR(sound["duration"].get<double>(), expected, 0.01) << page << ": " << src;
            // every sample decoded (a damaged stream stops short or fails)
            EXPECT_NEAR(sound["decoded"].get<double>(), expected, 0.01) << page << ": " << src << " decoded";
        }
        for (const json& resource : report["resources"]) {
            const std::string url = resource;
            EXPECT_EQ(url.rfind("file://" + manual, 0), 0u) << page << " fetches " << url << " from outside its folder";
        }
        for (const json& id : report["ids"]) ids_of[page].insert(id.get<std::string>());
        for (const json& href : report["links"]) {
            const std::string link = href;
            EXPECT_EQ(link.find("://"), std::string::npos) << page << " links outside the manual: " << link;
            links.emplace_back(page, link);
            const std::string file = link.substr(0, link.find('#'));
            const bool page_link = file.size() > 5 && file.substr(file.size() - 5) == ".html";
            if (page_link && std::ifstream(manual + file).good()) to_visit.push_back(file);
        }
        // console errors, uncaught exceptions, failed loads of this page
        for (size_t i = events_before; i < browser.events.size(); ++i) {
            const json& event = browser.events[i];
            const std::string method = event.value("method", "");
            if (method == "Runtime.exceptionThrown" ||
                (method == "Runtime.consoleAPICalled" && event["params"]["type"] == "error") ||
                (method == "Log.entryAdded" && event["params"]["entry"]["level"] == "error"))
                ADD_FAILURE() << page << ": " << event["params"].dump();
        }
    }
    for (const auto& [page, link] : links) {
        const size_t hash = link.find('#');
        const std::string file = link.substr(0, hash);
        const std::string target_page = file.empty() ? page : file;
        if (!std::ifstream(manual + target_page).good()) {
            ADD_FAILURE() << page << ": link " << link << " leads to no file";
            continue;
        }
        if (hash != std::string::npos && ids_of.count(target_page)) {
            EXPECT_EQ(ids_of[target_page].count(link.substr(hash + 1)), 1u)
                << page << ": link " << link << " has no target";
        }
    }
    EXPECT_EQ(ids_of.size(), 3u) << "index, ulvo and tessarn reached from the index";
    EXPECT_GE(images, 10);
    EXPECT_GE(sounds, 5);
}

}  // namespace
