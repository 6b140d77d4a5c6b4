// Boot loader after "reset\n": the device's host port moves to 19200 and an
// ENQ goes out every 50 ms until a SYN is heard (the host purges the port when
// it reopens it, so one ENQ would be lost); SYN is answered ACK, the 9-byte
// identifier "bRvNoD1.0" ACK, then each record line ended by CR gets one
// status byte: 0x11 without ':', 0x15 when it is not whole hex pairs of the
// length its length field gives, 0x12 for a bad checksum, 0x06 when taken.
// Accepted records form the image; with --store it is written as firmware.hex
// (accepted lines, LF ends) after every accepted record, so any end of the
// session leaves it complete. The end-of-file record starts the new firmware:
// the text dialogue at the rate the device had before the reset.
// Faults (record K is the K-th distinct record from 1; its resends stay K):
// --boot-status K:BYTE[:M], --boot-silent STEP, --boot-ack-at N.
#include <array>
#include <cstring>
#include <string>
#include <string_view>

#include "sim.h"

namespace {

constexpr int32_t loader_rate = 19200;
constexpr int enq_interval_ms = 50;
constexpr std::string_view identifier = "bRvNoD1.0";
constexpr size_t max_record_line = 600;  // longer lines are read to their CR and refused
constexpr uint8_t enq = 0x05, ack = 0x06, syn = 0x16, cr = 0x0D;
constexpr uint8_t no_start = 0x11, bad_checksum = 0x12, invalid = 0x15;
constexpr uint8_t filler = '.';

// ---- fault switches ---------------------------------------------------------

constexpr long answer_none = -1;  // BYTE "none": no status at all

struct status_fault {
    long record;  // 1-based
    long byte;    // 0..255, or answer_none
    long times;
};

constexpr size_t max_faults = 16;
std::array<status_fault, max_faults> faults;
size_t fault_count = 0;

enum class step { none, prompt, sync, ident };
step silent_step = step::none;
long ack_position = 1;  // the ACK to SYN and identifier is this byte of the answer

// "K:BYTE[:M]"; BYTE is a number or "none".
bool take_status(const char* v) {
    if (fault_count == max_faults) return false;
    std::string s = v;
    size_t c1 = s.find(':');
    if (c1 == std::string::npos) return false;
    size_t c2 = s.find(':', c1 + 1);
    std::string byte = s.substr(c1 + 1, c2 == std::string::npos ? std::string::npos : c2 - c1 - 1);
    status_fault f{0, 0, 1};
    if (!sim_parse_number(s.substr(0, c1).c_str(), 1, 1L << 40, &f.record)) return false;
    if (byte == "none")
        f.byte = answer_none;
    else if (!sim_parse_number(byte.c_str(), 0, 255, &f.byte))
        return false;
    if (c2 != std::string::npos && !sim_parse_number(s.substr(c2 + 1).c_str(), 1, 1000000, &f.times))
        return false;
    faults[fault_count++] = f;
    return true;
}

bool take_silent(const char* v) {
    std::string_view s = v;
    silent_step = s == "prompt" ? step::prompt : s == "sync" ? step::sync : s == "ident" ? step::ident
                                                                                          : step::none;
    return silent_step != step::none;
}

bool take_ack_at(const char* v) { return sim_parse_number(v, 1, 20, &ack_position); }

constexpr sim_option options[] = {
    {"--boot-status", "K:BYTE[:M]",
     "record K (from 1) is answered BYTE (or none) M times (default 1) before ACK", take_status},
    {"--boot-silent", "STEP", "no answer at STEP: prompt (no ENQ), sync or ident", take_silent},
    {"--boot-ack-at", "N", "the ACK to SYN and identifier is the N-th byte of the answer",
     take_ack_at},
};

// ---- the loader -----------------------------------------------------------------

enum class phase { prompting, identifying, loading };
phase now_in = phase::prompting;
int32_t rate_before = 9600;
std::string heard;  // identifier or record line so far
std::string image;  // accepted record lines, LF ends
long accepted = 0;
std::array<long, max_faults> faults_used{};

void send_ack_answer() {
    for (long i = 1; i < ack_position; ++i) sim_send_byte(filler);
    sim_send_byte(ack);
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Status of one record line (without its CR).
uint8_t check_record(std::string_view line) {
    if (line.empty() || line[0] != ':') return no_start;
    size_t digits = line.size() - 1;
    if (digits < 10 || digits % 2 != 0 || line.size() > max_record_line) return invalid;
    unsigned sum = 0;
    for (size_t i = 1; i < line.size(); i += 2) {
        int high = hex_digit(line[i]), low = hex_digit(line[i + 1]);
        if (high < 0 || low < 0) return invalid;
        sum += unsigned(high * 16 + low);
    }
    size_t length = size_t(hex_digit(line[1]) * 16 + hex_digit(line[2]));
    if (digits != 10 + 2 * length) return invalid;
    return (sum & 0xFF) == 0 ? ack : bad_checksum;
}

// The fault planned for the record now expected, if one is still pending.
status_fault* pending_fault() {
    for (size_t i = 0; i < fault_count; ++i)
        if (faults[i].record == accepted + 1 && faults_used[i] < faults[i].times) {
            ++faults_used[i];
            return &faults[i];
        }
    return nullptr;
}

void take_record(const std::string& line) {
    if (status_fault* f = pending_fault()) {
        sim_note("record %ld: planned status %ld", accepted + 1, f->byte);
        if (f->byte != answer_none) sim_send_byte(uint8_t(f->byte));
        return;
    }
    uint8_t status = check_record(line);
    sim_send_byte(status);
    if (status != ack) {
        sim_note("record %ld refused: 0x%02x", accepted + 1, status);
        return;
    }
    ++accepted;
    image += line;
    image += '\n';
    sim_store("firmware.hex", reinterpret_cast<const uint8_t*>(image.data()), image.size());
    if (line.compare(7, 2, "01") == 0) {
        sim_note("end-of-file record: %ld records, starting the new firmware", accepted);
        sim_set_device_rate(rate_before);
        sim_switch(mode_text);
    }
}

void on_record_byte(uint8_t byte) {
    if (byte != cr) {
        if (heard.size() <= max_record_line) heard.push_back(char(byte));
        return;
    }
    std::string line;
    line.swap(heard);
    take_record(line);
}

void on_identifier_byte(uint8_t byte) {
    heard.push_back(char(byte));
    if (heard.size() < identifier.size()) return;
    bool match = heard == identifier;
    sim_note("identifier \"%s\" %s", heard.c_str(), match ? "accepted" : "refused");
    heard.clear();
    if (!match) return sim_send_byte(invalid);
    if (silent_step != step::ident) send_ack_answer();
    now_in = phase::loading;
}

void on_byte(uint8_t byte) {
    switch (now_in) {
        case phase::prompting:
            if (byte != syn) return;
            sim_set_tick(0);
            if (silent_step != step::sync) send_ack_answer();
            now_in = phase::identifying;
            return;
        case phase::identifying: return on_identifier_byte(byte);
        case phase::loading: return on_record_byte(byte);
    }
}

void on_tick() {
    if (now_in == phase::prompting) sim_send_byte(enq);
}

void enter() {
    rate_before = sim_device_rate();
    sim_set_device_rate(loader_rate);
    now_in = phase::prompting;
    heard.clear();
    image.clear();
    accepted = 0;
    faults_used.fill(0);
    if (silent_step != step::prompt) sim_set_tick(enq_interval_ms);
}

}  // namespace

const sim_mode boot_mode = {"boot", options, enter, on_byte, on_tick};
