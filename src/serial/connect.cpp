// The device connection: open, wake and identify the device (version 2.2 or
// later), change the link rate of a live connection, and end it. Every
// failure closes the port, so a closed port is never used as if open.
#include "serial/serial.h"
#include "serial/text.h"

#include <cstdio>
#include <string_view>

int32_t connected = 0;
char port_name[16] = "";
uint8_t reply_buffer[1024];

namespace {

constexpr int min_major = 2;
constexpr int min_minor = 2;
constexpr std::string_view product_word = "Brelvanode";
constexpr std::string_view version_word = "Version ";
constexpr std::string_view prompt_word = "Brelva> ";

// A device that never pauses must not hold the connect forever: this many
// 40-byte reads are about 10 s of continuous output at 9600 baud.
constexpr int max_drain_reads = 256;

// Reads and throws away whatever the device is still saying.
void drain_input() {
    uint8_t scratch[40];
    for (int reads = 0; reads < max_drain_reads; ++reads)
        if (read_port(port_name, scratch, sizeof scratch, 100) == 0) break;
    purge_port();
}

// Checks the identification of count bytes in reply_buffer; 0, or 3/4 after
// the message (the caller closes the port).
int32_t check_identification(uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        if (reply_buffer[i] == 0 || reply_buffer[i] > 0x7F) reply_buffer[i] = '#';
    std::string_view text(reinterpret_cast<const char*>(reply_buffer), count);
    size_t product = text.find(product_word);
    if (product == std::string_view::npos) {
        printf("\n\a\aError: did not receive the Brelvanode prompt!\nExpected: Brelvanode\n");
        hexdump(stdout, 1, "Got", reply_buffer, int(count), 10);
        return 3;
    }
    size_t version = text.find(version_word, product);
    size_t dot = version == std::string_view::npos
                     ? version
                     : text.find('.', version + version_word.size());
    // Without a period after the word no minor number can be read: that is
    // no version we can vouch for.
    if (dot == std::string_view::npos) {
        printf("\n\a\aError: did not receive the Brelvanode version (minimum %d.%d)!\n", min_major,
               min_minor);
        return 4;
    }
    int32_t major = parse_decimal(text.substr(version + version_word.size()));
    int32_t minor = parse_decimal(text.substr(dot + 1));
    if (major < min_major || (major == min_major && minor < min_minor)) {
        printf("\n\a\aError: received Brelvanode version %d.%d but minimal is %d.%d!\n", int(major),
               int(minor), min_major, min_minor);
        return 4;
    }
    return 0;
}

int32_t connect_new(int32_t rate) {
    if (connected == 1) {
        printf("\a\aError: already Connected!\n");
        return 1;
    }
    if (open_port(port_name, rate) != 0) {
        printf("\a\aError: could not open COM port %s\n", port_name);
        return 2;
    }
    drain_input();
    static constexpr uint8_t request[] = {0x03, '\n', 'v', 'e', 'r', 's', 'i', 'o', 'n', '\n'};
    if (write_port(port_name, request, sizeof request) < 0) {
        printf("\n\a\aError: wrote interrupt character and version command, got error on port %s\n",
               port_name);
        close_port();
        return 3;
    }
    uint32_t count = read_port(port_name, reply_buffer, 200, 2000);
    int32_t result = check_identification(count);
    if (result != 0) {
        close_port();
        return result;
    }
    printf("\aConnected at %ld\n", long(rate));
    connected = 1;
    return 0;
}

int32_t reconnect(int32_t rate) {
    close_port();
    int32_t result = 0;
    if (open_port(port_name, rate) != 0) {
        printf("\a\aError: could not open COM port %s\n", port_name);
        connected = 0;
        return 2;
    }
    static constexpr uint8_t line_feed[] = {'\n'};
    if (write_port(port_name, line_feed, 1) < 0) {
        printf("\a\aError: wrote CR character, got error on port %s\n", port_name);
        result = 7;
    } else {
        // Only what answers this line feed counts, never an older prompt.
        uint32_t count = read_port(port_name, reply_buffer, sizeof reply_buffer, 2000);
        if (!bytes_contain(reply_buffer, count, prompt_word)) {
            printf("\a\aError: did not receive the Brelvanode prompt!\n");
            result = 8;
        }
    }
    if (result != 0) {
        close_port();
        connected = 0;
        return result;
    }
    printf("\aConnected at %ld\n", long(rate));
    connected = 1;
    return 0;
}

}  // namespace

int32_t connect_device(int32_t rate, int reconnect_flag) {
    printf("Connecting at %ld...\n", long(rate));
    return reconnect_flag != 0 ? reconnect(rate) : connect_new(rate);
}

void disconnect_device() {
    close_port();
    connected = 0;
    printf("Disconnected\n");
}

void change_link_baud(int32_t rate) {
    char command[32];
    int length = snprintf(command, sizeof command, "host %ld\n", long(rate));
    if (write_port(port_name, reinterpret_cast<const uint8_t*>(command), length) < 0) {
        printf("\a\aError: wrote Host Baud command, got error on port %s\n", port_name);
        close_port();
        connected = 0;
        return;
    }
    connect_device(rate, 1);
}
