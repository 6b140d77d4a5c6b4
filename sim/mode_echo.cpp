// The serial test's echo: a banner on entry, then every byte sent back once
// until 0x03 returns to the text dialogue. Faults: the K-th echo altered,
// echoing stopped after K bytes, no banner.
#include <string>

#include "sim.h"

namespace {

long alter_at = 0;  // 1-based count of the echo to alter; 0: none
long alter_to = 0;
long stop_after = -1;  // -1: never stops
bool no_banner = false;
long echoed = 0;

bool take_alter(const char* v) {
    std::string text = v;
    size_t colon = text.find(':');
    return colon != std::string::npos &&
           sim_parse_number(text.substr(0, colon).c_str(), 1, 1L << 40, &alter_at) &&
           sim_parse_number(text.substr(colon + 1).c_str(), 0, 255, &alter_to);
}
bool take_stop(const char* v) { return sim_parse_number(v, 0, 1L << 40, &stop_after); }
bool take_no_banner(const char*) { return no_banner = true; }

constexpr sim_option options[] = {
    {"--echo-alter", "K:BYTE", "the K-th echo (from 1) is BYTE instead (e.g. 1:0x41)", take_alter},
    {"--echo-stop", "K", "no echo after the first K bytes", take_stop},
    {"--echo-no-banner", nullptr, "enter echo mode without the banner", take_no_banner},
};

void enter() {
    echoed = 0;
    if (!no_banner) sim_send_text("\r\nBegin serial test: end with <ctrl>-c\r\n");
}

void on_byte(uint8_t byte) {
    if (byte == 0x03) {
        sim_send_text("\r\nBrelva> ");
        return sim_switch(mode_text);
    }
    ++echoed;
    if (stop_after >= 0 && echoed > stop_after) return;
    sim_send_byte(echoed == alter_at ? uint8_t(alter_to) : byte);
}

}  // namespace

const sim_mode echo_mode = {"echo", options, enter, on_byte, nullptr};
