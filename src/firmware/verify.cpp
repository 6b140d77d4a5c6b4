// Intel HEX verification: every record line of a firmware file is checked
// (checksum, type, length, size limit, data alignment) before any of it goes
// to the device. The file is read in 511-character pieces with fgets, the way
// the update sends it, and pairs of plain hex digits are converted through a
// table so that a file of a million records verifies in tens of milliseconds.
// Not checked: address continuity, the place of the end-of-file record.
#include "firmware/firmware.h"

#include <array>
#include <cerrno>
#include <cstring>

namespace {

constexpr int max_record_length = 128;

// Value of each character as a hexadecimal digit, -1 for any other.
constexpr std::array<int8_t, 256> hex_digits = [] {
    std::array<int8_t, 256> t{};
    for (auto& v : t) v = -1;
    for (int c = '0'; c <= '9'; ++c) t[size_t(c)] = int8_t(c - '0');
    for (int c = 'a'; c <= 'f'; ++c) t[size_t(c)] = int8_t(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c) t[size_t(c)] = int8_t(c - 'A' + 10);
    return t;
}();

int hex_digit(char c) { return hex_digits[static_cast<unsigned char>(c)]; }

// A position past the end of a short line has no character; it is shown as a
// blank rather than whatever an earlier, longer line left in the buffer.
char char_at(const char* line, long length, long pos) { return pos < length ? line[pos] : ' '; }

bool is_record_type(const char* line, long length) {
    return length > 8 && line[7] == '0' && line[8] >= '0' && line[8] <= '5';
}

bool is_aligned_offset(char last_digit) { return last_digit && strchr("048Cc", last_digit); }

// Applies the checks of one record line in their order; 0 or the fault's code.
int check_record(const char* line, long length, unsigned long line_no) {
    uint8_t residue = inhexsum(line + 1);
    if (residue != 0) {
        printf("\a\aError: checksum mismatch (0x%02x) for line %lu in Firmware file!\n",
               unsigned(residue), line_no);
        return -2;
    }
    if (!is_record_type(line, length)) {
        printf("\a\aError: invalid type (%c%c) for line %lu in Firmware file!\n",
               char_at(line, length, 7), char_at(line, length, 8), line_no);
        return -3;
    }
    unsigned n = uint16_t(hexval(line + 1, 2));
    if (size_t(length) != 11 + 2 * size_t(n)) {
        printf("\a\aError: invalid record length (%u) for line %lu in Firmware file!\n", n,
               line_no);
        return -4;
    }
    if (n > max_record_length) {
        printf("\a\aError: record length > 128 (%u) for line %lu in Firmware file!\n", n,
               line_no);
        return -5;
    }
    if (line[8] == '0' && !is_aligned_offset(line[6])) {
        printf("\a\aError: data record offset boundary error for line %lu in Firmware file!\n",
               line_no);
        return -6;
    }
    return 0;
}

}  // namespace

long fw_read_line(FILE* fp, char* buf) {
    if (fgets(buf, fw_line_size, fp) == nullptr) return -1;
    long length = long(strlen(buf));
    if (length > 0 && buf[length - 1] == '\n') {
        buf[--length] = '\0';
        if (length > 0 && buf[length - 1] == '\r') buf[--length] = '\0';
    }
    return length;
}

int hexval(const char* text, int count) {
    if (text == nullptr || count < 1) return 0;
    int i = 0;
    while (i < count && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < count && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // Unsigned accumulation: an over-long count wraps instead of overflowing.
    uint32_t value = 0;
    for (int d; i < count && (d = hex_digit(text[i])) >= 0; ++i) value = value * 16 + uint32_t(d);
    return int(negative ? 0u - value : value);
}

uint8_t inhexsum(const char* text) {
    if (text == nullptr) return 0;
    uint8_t sum = 0;
    for (const char* p = text; *p != '\0'; p += 2) {
        int high = hex_digit(p[0]);
        int low = high >= 0 ? hex_digit(p[1]) : -1;
        if (low >= 0)
            sum = uint8_t(sum + high * 16 + low);
        else
            sum = uint8_t(sum + uint8_t(hexval(p, p[1] != '\0' ? 2 : 1)));
        if (p[1] == '\0') break;
    }
    return sum;
}

int inhexverify(FILE* fp) {
    if (fp == nullptr) {
        printf("inhexverify: Error: param fp is invalid\n");
        return -1;
    }
    rewind(fp);
    char line[fw_line_size];
    unsigned long line_no = 0;
    int records = 0;
    for (long length; (length = fw_read_line(fp, line)) >= 0;) {
        ++line_no;
        if (line[0] != ':') continue;
        ++records;
        if (int fault = check_record(line, length, line_no); fault != 0) return fault;
    }
    // A read that fails part-way must not pass a truncated file as good.
    if (ferror(fp)) {
        printf("\a\aError: cannot read Firmware file: %s\n", strerror(errno));
        return fw_read_error;
    }
    if (records == 0) {
        printf("\a\aError: Firmware file is empty!\n");
        return -7;
    }
    return records;
}
