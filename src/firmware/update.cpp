// Firmware update: verify the HEX file, knock the running firmware into its
// boot loader (interrupt and "reset" at 9600), reopen at 19200, wait for the
// loader's ENQ, synchronise (SYN/ACK), identify, then send each record line
// with one CR, stop-and-wait, reading a one-byte status after each. Non-ACK
// answers are resent until an error budget of 10 is spent; 0x17 and 0x18
// abort at once. Every read is bounded by its time-out; the file is closed
// on every path, the port on every path after it was opened.
#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstring>
#include <ctime>

#include "firmware/firmware.h"
#include "serial/serial.h"

namespace {

constexpr int32_t reset_rate = 9600;
constexpr int32_t loader_rate = 19200;
constexpr int error_budget = 10;
constexpr int estimate_minutes = 5;
constexpr int progress_bar_width = 59;
constexpr size_t progress_text_columns = 21;
// A device that never stops talking must not hold the drain forever: at 9600
// baud this is well over a minute of continuous output.
constexpr int max_drain_reads = 64;
// Internal: the reopening at 19200 failed, so the port is already closed.
constexpr int reopen_failed = -1005;
// A read of the file failed during the transfer.
constexpr int transfer_read_error = -15;

constexpr uint8_t etx = 0x03, lf = 0x0A, enq = 0x05, ack = 0x06, syn = 0x16;
constexpr char identifier[] = "bRvNoD1.0";  // product key and protocol version
constexpr char product_key[] = "bRvNoD";
constexpr size_t answer_area = 20;

// The wall-clock second at which the transfer started, for the progress line.
time_t transfer_start = 0;

bool send(const void* bytes, int32_t length) {
    return write_port(port_name, static_cast<const uint8_t*>(bytes), length) >= 0;
}

const char* plural(uint32_t count) { return count == 1 ? "" : "s"; }

void print_read_counts(uint32_t first, uint32_t second) {
    printf("\nRead #1 got %d char%s\n", int(first), plural(first));
    printf("Read #2 got %d char%s:\n", int(second), plural(second));
}

// The 20-byte answer area, printable characters as themselves.
void print_answer_area() {
    for (size_t i = 0; i < answer_area; ++i) {
        uint8_t c = reply_buffer[i];
        if (c >= 0x20 && c <= 0x7E)
            printf("%c ", c);
        else
            printf("[%02x] ", c);
    }
    printf("\n");
}

// Steps 5-8: interrupt, drain, confirmation, reset, reopen at the loader's rate.
int enter_boot_loader() {
    const uint8_t interrupt[] = {etx, lf};
    if (!send(interrupt, sizeof interrupt)) {
        printf("\n\a\aError: wrote interrupt character, got error on port %s\n", port_name);
        return -7;
    }
    int reads = 0;
    while (reads++ < max_drain_reads && read_port(port_name, reply_buffer, 1024, 100) > 0) continue;
    purge_port();
    printf("\n\a\aWARNING! The Brelvanode Firmware is about to be updated!\n"
           "This will take less than %d minutes.\n"
           "Do NOT interrupt the process once started!\n"
           "If power is interrupted during this process you may not be able\n"
           "to communicate with the Brelvanode due to firmware corruption.\n"
           "If this happens correct the power problem and restart this entire process.\n"
           "\nType the Enter key when you are ready to continue...",
           estimate_minutes);
    // The answer is discarded; the end of the input counts as the Enter key.
    char* answer = fgets(reinterpret_cast<char*>(reply_buffer), sizeof reply_buffer, stdin);
    (void)answer;
    memset(reply_buffer, 0, answer_area);
    if (!send("reset\n", 6)) {
        printf("\n\a\aError: wrote reset command, got error on port %s\n", port_name);
        return -7;
    }
    read_port(port_name, reply_buffer, 32, 50);
    close_port();
    if (open_port(port_name, loader_rate) != 0) {
        printf("\a\aError: could not open COM port %s\n", port_name);
        return reopen_failed;
    }
    return 0;
}

// Step 9: the loader announces itself with an ENQ somewhere in its bytes.
int await_prompt() {
    uint32_t first = read_port(port_name, reply_buffer, 1, 20000);
    uint32_t second = read_port(port_name, reply_buffer + 1, 19, 100);
    bool found = (first == 1 && reply_buffer[0] == enq) ||
                 memchr(reply_buffer + 1, enq, second) != nullptr;
    if (found) return 0;
    printf("\n\a\aError: did not receive the Brelvanode Firmware prompt!\n");
    print_read_counts(first, second);
    for (uint32_t i = 0; i < first; ++i) printf("0x%02x ", reply_buffer[i]);
    for (uint32_t i = 0; i < second; ++i) printf("0x%02x ", reply_buffer[1 + i]);
    printf("\n");
    return -6;
}

// Reads an answer into the cleared 20-byte area; true when it holds an ACK.
bool answer_has_ack(int32_t first_ms, int32_t second_ms, uint32_t& first, uint32_t& second) {
    memset(reply_buffer, 0, answer_area);
    first = read_port(port_name, reply_buffer, 1, first_ms);
    second = read_port(port_name, reply_buffer + 1, answer_area - 1, second_ms);
    return memchr(reply_buffer, ack, answer_area) != nullptr;
}

// Steps 10-12: SYN answered by ACK, then the identifier answered by ACK.
int synchronise_and_identify() {
    const uint8_t sync = syn;
    if (!send(&sync, 1)) {
        printf("\n\a\aError: wrote FIRMSYNC sync character, got error on port %s\n", port_name);
        return -7;
    }
    uint32_t first = 0, second = 0;
    if (!answer_has_ack(20000, 30, first, second)) {
        printf("\n\a\aError: did not synchronize with the Brelvanode!\n");
        print_read_counts(first, second);
        print_answer_area();
        return -8;
    }
    printf("\a\nConnected at %ld\n", long(loader_rate));
    if (!send(identifier, int32_t(strlen(identifier)))) {
        printf("\n\a\aError: wrote %s identifier, got error on port %s\n", identifier, port_name);
        return -9;
    }
    if (!answer_has_ack(5000, 200, first, second)) {
        printf("\n\a\aError: did not receive %s identifier acknowledgement!\n", product_key);
        print_read_counts(first, second);
        print_answer_area();
        return -10;
    }
    return 0;
}

// Reports a non-ACK status; 0 to resend, or the abort code.
int report_status(uint8_t status, unsigned long line_no) {
    const char* what = nullptr;
    switch (status) {
        case 0x00: what = "timed out"; break;
        case 0x11: what = "didn't get start character"; break;
        case 0x12: what = "bad record checksum"; break;
        case 0x15: what = "validation"; break;
        case 0x17:
            printf("\n\a\aError: Firmware updating error: buffer full on Line %lu- aborting!\n",
                   line_no);
            return -14;
        case 0x18:
            printf("\n\a\aError: Firmware updating error: fatal on Line %lu- aborting!\n",
                   line_no);
            return -13;
        default:
            printf("\n\a\aError: Firmware updating error: unknown (0x%02x) on Line %lu, "
                   "resending.\n",
                   status, line_no);
            return 0;
    }
    printf("\n\a\aError: Firmware updating error: %s on Line %lu, resending.\n", what, line_no);
    return 0;
}

// Steps 13-15: every record line with one CR, resent until accepted.
int send_records(FILE* fp, uint32_t count) {
    printf("\n\n");
    rewind(fp);
    transfer_start = time(nullptr);
    char line[fw_line_size + 1];  // room for the CR after the longest piece
    uint32_t done = 0;
    int errors = 0;
    unsigned long line_no = 0;
    for (long length; (length = fw_read_line(fp, line)) >= 0;) {
        ++line_no;
        if (line[0] != ':') continue;
        line[length] = '\r';
        for (;;) {
            if (!send(line, int32_t(length + 1))) {
                printf("\a\aError: wrote FIRMSYNC attention character, got error on port %s\n",
                       port_name);
                return -11;
            }
            reply_buffer[0] = 0;
            read_port(port_name, reply_buffer, 1, 100);
            uint8_t status = reply_buffer[0];
            if (status == ack) break;
            if (++errors >= error_budget) {
                printf("\n\a\aError: maximum Firmware updating errors (%d) encountered- "
                       "aborting!\n",
                       error_budget);
                return -12;
            }
            if (int abort = report_status(status, line_no); abort != 0) return abort;
        }
        firmware_progress(++done, count);
    }
    // A file that cannot be read to its end must not end as a success.
    if (ferror(fp)) {
        printf("\n\a\aError: cannot read Firmware file: %s\n", strerror(errno));
        return transfer_read_error;
    }
    printf("\n");
    return 0;
}

// Steps 4-16 with the file open and verified.
int update_device(int com_port, FILE* fp, uint32_t count) {
    snprintf(port_name, sizeof port_name, "COM%d", com_port);
    if (open_port(port_name, reset_rate) != 0) {
        printf("\a\aError: could not open COM port %s\n", port_name);
        return -5;
    }
    int result = enter_boot_loader();
    if (result == reopen_failed) return -5;
    if (result == 0) result = await_prompt();
    if (result == 0) result = synchronise_and_identify();
    if (result == 0) result = send_records(fp, count);
    close_port();
    printf("Disconnected\n");
    return result;
}

// Seconds to complete, kept within the unsigned 32-bit range it is shown in.
uint32_t time_to_complete(int64_t elapsed, double fraction) {
    if (fraction == 0) return 0;
    double ttc = std::trunc(double(elapsed) / fraction) - double(elapsed);
    if (!(ttc > 0)) return 0;
    return ttc >= 4294967295.0 ? UINT32_MAX : uint32_t(ttc);
}

}  // namespace

size_t firmware_progress_text(char* out, size_t size, int64_t elapsed, uint32_t done,
                              uint32_t total) {
    if (out == nullptr || size == 0) return 0;
    double fraction = total == 0 ? 0.0 : double(done) / double(total);
    char text[96];
    snprintf(text, sizeof text, "\r%3" PRId64 "s TTC %3lus %4.1f%% ", elapsed,
             static_cast<unsigned long>(time_to_complete(elapsed, fraction)), fraction * 100);
    double bar_length = std::trunc(progress_bar_width * fraction);
    size_t bar = bar_length < 0 ? 0 : bar_length > progress_bar_width ? progress_bar_width
                                                                       : size_t(bar_length);
    size_t length = std::min(strlen(text), progress_text_columns);
    length = std::min(length, size - 1);
    memcpy(out, text, length);
    for (; bar > 0 && length < size - 1; --bar) out[length++] = '=';
    out[length] = '\0';
    return length;
}

void firmware_progress(uint32_t done, uint32_t total) {
    char line[128];
    size_t length = firmware_progress_text(line, sizeof line, int64_t(time(nullptr) - transfer_start),
                                           done, total);
    fwrite(line, 1, length, stdout);
}

int firmware(int com_port, const char* filename) {
    if (filename == nullptr) {
        printf("firmware: Error: param filename is invalid\n");
        return -1;
    }
    FILE* fp = fopen(filename, "r");
    if (fp == nullptr) {
        printf("\a\aError: cannot open %s\n", filename);
        return -2;
    }
    int count = inhexverify(fp);
    int result = -4;
    if (count < 1)
        printf("\a\aError: Firmware file has some kind of error!\n");
    else
        result = update_device(com_port, fp, uint32_t(count));
    fclose(fp);
    return result;
}
