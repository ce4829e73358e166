#include "VerdictChannel.h"

#include <cstdio>
#include <cstdlib>
#include <random>

namespace sepcheck {

namespace {

const char kMagic[] = "SEPV ";
constexpr size_t kMagicSize = sizeof kMagic - 1;
constexpr size_t kExcerptBytes = 40;

// The first bytes of `text` from `at`, printable ASCII as it is and every
// other byte as \xNN, for a message.
std::string Excerpt(const std::string& text, size_t at) {
    std::string out;
    const size_t end = at + kExcerptBytes < text.size() ? at + kExcerptBytes : text.size();
    for (size_t k = at; k < end; ++k) {
        const unsigned char c = static_cast<unsigned char>(text[k]);
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02x", c);
            out += code;
        }
    }
    return "\"" + out + (end < text.size() ? "\"..." : "\"");
}

// The next space- or newline-ended word of `text` from `*at`, past its end.
bool Word(const std::string& text, size_t* at, char end, std::string* word) {
    const size_t stop = text.find(end, *at);
    if (stop == std::string::npos || stop == *at || stop - *at > 40) return false;
    *word = text.substr(*at, stop - *at);
    *at = stop + 1;
    return true;
}

bool WholeNumber(const std::string& text, unsigned long long* value) {
    if (text.empty() || text.size() > 19) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    *value = std::strtoull(text.c_str(), nullptr, 10);
    return true;
}

ChannelReading Corrupted(const std::string& problem) {
    ChannelReading reading;
    reading.state = ChannelReading::kCorrupted;
    reading.problem = problem;
    return reading;
}

std::string Bytes(size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

}  // namespace

std::string NewChannelToken() {
    std::random_device source;
    std::string token;
    for (int k = 0; k < 4; ++k) {
        char word[9];
        std::snprintf(word, sizeof word, "%08x", static_cast<unsigned>(source()));
        token += word;
    }
    return token;
}

std::string FrameVerdict(const std::string& token, long sender, const Verdict& verdict) {
    const char kind = verdict.report ? 'R' : verdict.skipped ? 'S' : verdict.passed ? 'P' : 'F';
    // The inputs follow the detail, each name and value ended by a NUL (a
    // pin's name is a C string and holds none).
    std::string payload = verdict.detail;
    for (const auto& input : verdict.inputs) {
        char value[32];
        std::snprintf(value, sizeof value, "%.9g", static_cast<double>(input.second));
        payload += '\0' + input.first + '\0' + value;
    }
    return kMagic + token + " " + std::to_string(sender) + " " + kind + " " + std::to_string(payload.size()) + "\n" +
           payload;
}

ChannelReading ReadVerdictChannel(const std::string& bytes, const std::string& token, long sender) {
    if (bytes.empty()) return ChannelReading();
    const std::string not_a_verdict = Bytes(bytes.size()) + " that are not a verdict of this run: ";
    if (bytes.compare(0, kMagicSize, kMagic) != 0) return Corrupted(not_a_verdict + Excerpt(bytes, 0));
    size_t at = kMagicSize;
    std::string their_token, their_sender, kind, length_text;
    unsigned long long from = 0, length = 0;
    if (!Word(bytes, &at, ' ', &their_token) || !Word(bytes, &at, ' ', &their_sender) ||
        !Word(bytes, &at, ' ', &kind) || !Word(bytes, &at, '\n', &length_text) || !WholeNumber(their_sender, &from) ||
        !WholeNumber(length_text, &length) || kind.size() != 1 ||
        std::string("PFSR").find(kind[0]) == std::string::npos)
        return Corrupted(not_a_verdict + Excerpt(bytes, 0));
    if (their_token != token) return Corrupted("a verdict that does not hold this run's token");
    if (from != static_cast<unsigned long long>(sender))
        return Corrupted("a verdict from process " + their_sender + ", not from the check's own (" +
                         std::to_string(sender) + "): the module's code ran on in another process");
    if (length > bytes.size() - at)
        return Corrupted("a verdict cut short: " + Bytes(bytes.size() - at) + " of its " + Bytes(length));
    const size_t end = at + static_cast<size_t>(length);
    if (end < bytes.size()) return Corrupted(Bytes(bytes.size() - end) + " after the verdict: " + Excerpt(bytes, end));
    ChannelReading reading;
    reading.state = ChannelReading::kVerdict;
    reading.verdict.passed = kind[0] == 'P';
    reading.verdict.skipped = kind[0] == 'S';
    reading.verdict.report = kind[0] == 'R';
    const std::string payload = bytes.substr(at, static_cast<size_t>(length));
    size_t field = payload.find('\0');
    reading.verdict.detail = payload.substr(0, field);
    while (field != std::string::npos) {
        const size_t name_end = payload.find('\0', field + 1);
        if (name_end == std::string::npos) return Corrupted("a verdict whose inputs are cut short");
        const size_t value_end = payload.find('\0', name_end + 1);
        const std::string value =
            payload.substr(name_end + 1, value_end == std::string::npos ? std::string::npos : value_end - name_end - 1);
        reading.verdict.inputs.push_back(
            {payload.substr(field + 1, name_end - field - 1), std::strtof(value.c_str(), nullptr)});
        field = value_end;
    }
    return reading;
}

}  // namespace sepcheck
