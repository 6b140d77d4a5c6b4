// Download receiver after "download\n": framed packets (big-endian total
// length, payload, CRC-16), each answered with ACK 0x06 or NAK 0x15, in the
// order "conf" + 178 image bytes, "rules" + 28 bytes per rule, "-cestfini-".
//
// A packet whose CRC or length is wrong, or that does not fit the sequence, is
// answered NAK and changes nothing. An impossible length cannot be framed, so
// the device waits for the line to fall quiet before its NAK. The finish
// packet stores conf.bin and rules.bin (and numbered copies per download of
// the session) and returns to the text dialogue; so does 0x03 between packets.
// Faults (packet K counts from 1 = "conf" command; "@D" limits a fault to the
// D-th download of the session): --dl-nak K:M, --dl-silent K,
// --dl-answer K:BYTE, --dl-chatter N.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "download/download.h"
#include "sim.h"

namespace {

constexpr size_t max_packet = 64;
constexpr size_t min_packet = 5;
constexpr size_t command_len = 21;
constexpr size_t conf_size = 178;
constexpr size_t rule_size = 28;
constexpr size_t max_rules_size = 50 * rule_size;
constexpr int quiet_ms = 200;  // a stalled or unframeable packet ends after this
constexpr int tick_ms = 20;
constexpr uint8_t interrupt = 0x03;

// ---- fault switches ---------------------------------------------------------

enum class fault_kind { nak, silent, answer };

struct fault {
    fault_kind kind;
    long packet;    // 1-based position in the sequence
    long value;     // NAK count, or the answer byte
    long download;  // 0: every download of the session
};

constexpr size_t max_faults = 16;
std::array<fault, max_faults> faults;
size_t fault_count = 0;
long chatter_len = 0;

// Splits "K[:V][@D]" into its numbers; V is required exactly when has_value.
bool parse_fault(const char* text, bool has_value, long value_max, fault f) {
    if (fault_count == max_faults) return false;
    std::string s = text;
    size_t at = s.find('@');
    if (at != std::string::npos) {
        if (!sim_parse_number(s.substr(at + 1).c_str(), 1, 1000000, &f.download)) return false;
        s.resize(at);
    }
    size_t colon = s.find(':');
    if (has_value != (colon != std::string::npos)) return false;
    if (has_value) {
        if (!sim_parse_number(s.substr(colon + 1).c_str(), 0, value_max, &f.value)) return false;
        s.resize(colon);
    }
    if (!sim_parse_number(s.c_str(), 1, 1000000, &f.packet)) return false;
    faults[fault_count++] = f;
    return true;
}

bool take_nak(const char* v) { return parse_fault(v, true, 1000000, {fault_kind::nak, 0, 0, 0}); }
bool take_silent(const char* v) { return parse_fault(v, false, 0, {fault_kind::silent, 0, 0, 0}); }
bool take_answer(const char* v) { return parse_fault(v, true, 255, {fault_kind::answer, 0, 0, 0}); }
bool take_chatter(const char* v) { return sim_parse_number(v, 0, 64, &chatter_len); }

constexpr sim_option options[] = {
    {"--dl-nak", "K:M[@D]", "NAK packet K of a download M times before the ACK", take_nak},
    {"--dl-silent", "K[@D]", "no answer at all to packet K of a download", take_silent},
    {"--dl-answer", "K:BYTE[@D]", "answer packet K of a download with BYTE", take_answer},
    {"--dl-chatter", "N", "N bytes (0..64) of text right after \"download\\n\"", take_chatter},
};

// ---- receiver state -----------------------------------------------------------

enum class step { conf_command, conf_data, rules_command, rules_data, finish };

long downloads_started = 0;
step expected = step::conf_command;
long packet_number = 1;  // position of the packet being received in the sequence
long naks_given = 0;     // fault NAKs already given to this packet
std::vector<uint8_t> packet;
bool unframeable = false;
int64_t last_byte_ms = 0;
std::vector<uint8_t> conf_image;
std::vector<uint8_t> rules_image;
size_t rules_expected = 0;

const fault* fault_for_packet(fault_kind kind) {
    for (size_t i = 0; i < fault_count; ++i) {
        const fault& f = faults[i];
        if (f.kind == kind && f.packet == packet_number &&
            (f.download == 0 || f.download == downloads_started))
            return &f;
    }
    return nullptr;
}

void send_chatter() {
    static constexpr std::string_view text =
        "\r\nDownload mode: send framed packets; conf, rules, -cestfini-.\r\n";
    std::string out;
    while (out.size() < size_t(chatter_len)) out += text;
    out.resize(size_t(chatter_len));
    sim_send_text(out);
}

void enter() {
    ++downloads_started;
    expected = step::conf_command;
    packet_number = 1;
    naks_given = 0;
    packet.clear();
    unframeable = false;
    conf_image.clear();
    rules_image.clear();
    rules_expected = 0;
    sim_note("download %ld: receiver ready", downloads_started);
    if (chatter_len > 0) send_chatter();
    sim_set_tick(tick_ms);
}

// The count field: decimal digits then NUL padding; -1 when empty, -2 when
// malformed.
long command_count(const std::vector<uint8_t>& p) {
    const uint8_t* field = p.data() + 14;
    size_t digits = 0;
    while (digits < 5 && field[digits] >= '0' && field[digits] <= '9') ++digits;
    for (size_t i = digits; i < 5; ++i)
        if (field[i] != 0) return -2;
    if (digits == 0) return -1;
    return std::strtol(std::string(field, field + digits).c_str(), nullptr, 10);
}

bool command_is(const std::vector<uint8_t>& p, std::string_view word) {
    std::array<uint8_t, 12> want{};
    std::memcpy(want.data(), word.data(), word.size());
    return std::equal(want.begin(), want.end(), p.begin() + 2);
}

void store_images() {
    std::array<char, 32> name;
    static const uint8_t none = 0;  // an empty image still gets its (empty) file
    for (auto [base, image] : {std::pair{"conf", &conf_image}, std::pair{"rules", &rules_image}}) {
        std::snprintf(name.data(), name.size(), "%s.bin", base);
        const uint8_t* bytes = image->empty() ? &none : image->data();
        sim_store(name.data(), bytes, image->size());
        std::snprintf(name.data(), name.size(), "%s.%ld.bin", base, downloads_started);
        sim_store(name.data(), bytes, image->size());
    }
}

// Takes a sound packet into the sequence; false when it does not fit there.
bool accept_packet(const std::vector<uint8_t>& p) {
    const size_t n = p.size() - 4;
    const uint8_t* data = p.data() + 2;
    switch (expected) {
        case step::conf_command:
            if (p.size() != command_len || !command_is(p, "conf") || command_count(p) != long(conf_size))
                return false;
            expected = step::conf_data;
            return true;
        case step::conf_data:
            if (conf_image.size() + n > conf_size) return false;
            conf_image.insert(conf_image.end(), data, data + n);
            if (conf_image.size() == conf_size) expected = step::rules_command;
            return true;
        case step::rules_command: {
            long count = p.size() == command_len && command_is(p, "rules") ? command_count(p) : -2;
            if (count < 0 || count % long(rule_size) != 0 || count > long(max_rules_size)) return false;
            rules_expected = size_t(count);
            expected = rules_expected == 0 ? step::finish : step::rules_data;
            return true;
        }
        case step::rules_data:
            if (rules_image.size() + n > rules_expected) return false;
            rules_image.insert(rules_image.end(), data, data + n);
            if (rules_image.size() == rules_expected) expected = step::finish;
            return true;
        case step::finish:
            if (p.size() != command_len || !command_is(p, "-cestfini-") || command_count(p) != -1)
                return false;
            store_images();
            return true;
    }
    return false;
}

void answer(uint8_t byte) {
    sim_send_byte(byte);
}

// A complete packet: faults first, then CRC, then its place in the sequence.
void on_packet() {
    if (const fault* f = fault_for_packet(fault_kind::nak); f && naks_given < f->value) {
        ++naks_given;
        sim_note("packet %ld: NAK %ld of %ld (--dl-nak)", packet_number, naks_given, f->value);
        return answer(dwn_nak);
    }
    if (fault_for_packet(fault_kind::silent)) {
        sim_note("packet %ld: no answer (--dl-silent)", packet_number);
        return;
    }
    if (dwn_crc16(0xFFFF, packet.data(), packet.size(), dwn_crc_table) != 0) {
        sim_note("packet %ld: CRC wrong, NAK", packet_number);
        return answer(dwn_nak);
    }
    const bool finished = expected == step::finish;
    if (!accept_packet(packet)) {
        sim_note("packet %ld: %zu bytes out of sequence, NAK", packet_number, packet.size());
        return answer(dwn_nak);
    }
    if (const fault* f = fault_for_packet(fault_kind::answer)) {
        sim_note("packet %ld: answered 0x%02lx (--dl-answer)", packet_number, f->value);
        answer(uint8_t(f->value));
    } else {
        answer(dwn_ack);
    }
    ++packet_number;
    naks_given = 0;
    if (finished) {
        sim_note("download %ld: finished, %zu rule bytes", downloads_started, rules_image.size());
        sim_switch(mode_text);
    }
}

void on_byte(uint8_t byte) {
    last_byte_ms = sim_now_ms();
    if (packet.empty() && byte == interrupt) {
        sim_note("download %ld: interrupted", downloads_started);
        return sim_switch(mode_text);
    }
    if (unframeable) return;
    packet.push_back(byte);
    if (packet.size() < 2) return;
    const size_t len = size_t(packet[0] << 8 | packet[1]);
    if (len < min_packet || len > max_packet) {
        unframeable = true;
        return;
    }
    if (packet.size() == len) {
        on_packet();
        packet.clear();
    }
}

// A packet that cannot be framed, or that stops half way, is given up once
// the line is quiet; the NAK asks for it again from its first byte.
void on_tick() {
    if ((packet.empty() && !unframeable) || sim_now_ms() - last_byte_ms < quiet_ms) return;
    sim_note("packet %ld: %zu bytes then quiet%s, NAK", packet_number, packet.size(),
             unframeable ? " (impossible length)" : "");
    packet.clear();
    unframeable = false;
    answer(dwn_nak);
}

}  // namespace

const sim_mode download_mode = {"download", options, enter, on_byte, on_tick};
