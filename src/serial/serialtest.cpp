// The echo test of a live connection: the device is put into its echo mode
// and each of the 63 characters 0x40..0x7E goes out only after the echo of
// the one before came back unchanged. A failure ends the connection without
// the closing interrupt; the next connect sends one anyway.
#include "serial/serial.h"
#include "serial/text.h"

#include <cstdio>
#include <string_view>

namespace {

constexpr int serialtest_id = 42;
constexpr uint8_t first_char = 0x40;
constexpr uint8_t last_char = 0x7E;
constexpr long chars_per_iteration = last_char - first_char + 1;
constexpr std::string_view banner = "Begin serial test: end with <ctrl>-c";

void end_connection() {
    close_port();
    connected = 0;
}

// Sends "serialtest\n" and looks for the banner in what that read delivered.
bool start_echo_mode(uint8_t* buf, uint32_t size) {
    static constexpr std::string_view command = "serialtest\n";
    if (write_port(port_name, reinterpret_cast<const uint8_t*>(command.data()),
                   int32_t(command.size())) < 0) {
        printf("\n\a\aError: wrote serialtest command, got error on port %s\n", port_name);
        return false;
    }
    uint32_t count = read_port(port_name, buf, size, 1000);
    if (!bytes_contain(buf, count, banner)) {
        printf("\n\a\aError: did not receive the serialtest response!\n");
        hexdump(stdout, 1, "Got", buf, int(count), 10);
        return false;
    }
    return true;
}

// One character out and its echo back; false after the message.
bool echo_one(long iteration, uint8_t value, uint8_t* buf) {
    if (write_port(port_name, &value, 1) < 0) {
        printf("\n\a\aError: wrote serialtest count %ld value 0x%02x, got error on port %s\n",
               iteration, value, port_name);
        return false;
    }
    if (read_port(port_name, buf, 1, 1000) != 1) {
        printf("\n\a\aError: did not receive the serialtest response on port %s!\n", port_name);
        return false;
    }
    if (buf[0] != value) {
        printf("\n\a\aError: serialtest mismatch character 0x%02x, got 0x%02x\n", value, buf[0]);
        return false;
    }
    return true;
}

}  // namespace

void serial_test(int command_id, const char* count_text) {
    if (command_id != serialtest_id) {
        printf("\a\aError: Invalid command %d\n", command_id);
        return;
    }
    long count = parse_decimal(count_text != nullptr ? count_text : "");
    if (count < 1) {
        printf("\a\aError: Invalid iteration count: %ld\n", count);
        return;
    }
    uint8_t buf[1024];
    if (!start_echo_mode(buf, sizeof buf)) return end_connection();
    for (long iteration = 1; iteration <= count; ++iteration) {
        for (int value = first_char; value <= last_char; ++value)
            if (!echo_one(iteration, uint8_t(value), buf)) return end_connection();
        printf(".");
    }
    printf("\nSerial test passed: wrote %ld characters\n", chars_per_iteration * count);
    static constexpr uint8_t interrupt[] = {0x03};
    if (write_port(port_name, interrupt, 1) < 0) {
        printf("\n\a\aError: wrote serialtest termination command, got error on port %s\n",
               port_name);
        end_connection();
    }
}
