// The running firmware's text dialogue: command lines ended by a line feed
// (carriage returns ignored), the "Brelva> " prompt after each, 0x03 drops
// the line typed so far. Commands: version, host N, serialtest, download,
// reset; anything else is answered as unknown. Typed characters are not
// echoed. Faults: --version, --garbage, --high, --keep-rate.
#include <cstdlib>
#include <cstring>
#include <string>

#include "sim.h"

namespace {

constexpr size_t max_line = 256;
constexpr std::string_view prompt = "Brelva> ";

std::string version_text = "2.2";
bool garbage = false;
bool high = false;
bool keep_rate = false;
std::string line;
uint32_t noise_state = 0x2545F491;

bool take_version(const char* v) { return version_text = v, true; }
bool take_garbage(const char*) { return garbage = true; }
bool take_high(const char*) { return high = true; }
bool take_keep_rate(const char*) { return keep_rate = true; }

constexpr sim_option options[] = {
    {"--version", "TEXT", "the firmware version in the identification (default 2.2)", take_version},
    {"--garbage", nullptr, "every answer is line noise of the same length", take_garbage},
    {"--high", nullptr, "the product word is sent with bit 7 set on every byte", take_high},
    {"--keep-rate", nullptr, "\"host N\" is answered but the rate stays", take_keep_rate},
};

// Sends an answer of the text dialogue, spoilt as the fault switches say.
void answer(std::string text) {
    if (garbage) {
        for (char& c : text) {
            noise_state = noise_state * 1103515245 + 12345;
            c = char(uint8_t(noise_state >> 16) | 0x01);  // never NUL
        }
    }
    sim_send_text(text);
}

std::string identification() {
    std::string product = "Brelvanode";
    if (high)
        for (char& c : product) c = char(uint8_t(c) | 0x80);
    return "\r\n" + product + " APRS Digipeater\r\nVersion " + version_text + "\r\n" +
           std::string(prompt);
}

void host_rate(const std::string& argument) {
    long rate = 0;
    if (!sim_parse_number(argument.c_str(), 50, 4000000, &rate)) {
        answer("\r\nBad rate: " + argument + "\r\n" + std::string(prompt));
        return;
    }
    if (keep_rate)
        sim_note("host %ld ignored (--keep-rate)", rate);
    else
        sim_set_device_rate(int32_t(rate));
    answer("\r\n" + std::string(prompt));
}

void run_line(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    size_t start = text.find_first_not_of(' ');
    text = start == std::string::npos ? "" : text.substr(start);
    sim_note("command line \"%s\"", text.c_str());
    if (text.empty()) return answer("\r\n" + std::string(prompt));
    if (text == "version") return answer(identification());
    if (text.rfind("host ", 0) == 0) return host_rate(text.substr(5));
    if (text == "serialtest") return sim_switch(mode_echo);
    if (text == "download") return sim_switch(mode_download);
    if (text == "reset") return sim_switch(mode_boot);
    answer("\r\nUnknown command: " + text + "\r\n" + std::string(prompt));
}

void enter() { line.clear(); }

void on_byte(uint8_t byte) {
    if (byte == 0x03) return line.clear();
    if (byte == '\r') return;
    if (byte == '\n') {
        std::string text = line;
        line.clear();
        return run_line(text);
    }
    if (line.size() < max_line) line.push_back(char(byte));
}

}  // namespace

const sim_mode text_mode = {"text", options, enter, on_byte, nullptr};
