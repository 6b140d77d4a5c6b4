// The command shell. One line at a time from standard input: the first word
// picks a row of the command table by unique prefix (case ignored, every row
// compared, no preference for a whole word), the shell checks the arguments and
// the connection state and calls one operation of another subsystem.
//
// Lines are read in pieces of at most 255 characters, each handled as a line.
#include "shell/shell.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "angles/angles.h"
#include "config/config.h"
#include "download/download.h"
#include "firmware/firmware.h"
#include "rules/rules.h"
#include "serial/serial.h"
#include "shell/version.h"

namespace {

enum command_id : int {
    cmd_download = 0,
    cmd_firmware = 1,
    cmd_baud = 5,
    cmd_exit = 8,
    cmd_help = 22,
    cmd_dconfigure = 23,
    cmd_drules = 24,
    cmd_angles = 26,
    cmd_configure = 28,
    cmd_rules = 29,
    cmd_connect = 30,
    cmd_disconnect = 31,
    cmd_serialtest = 42,
};

constexpr int line_size = 256;        // 255 characters and the terminator
constexpr int firmware_answer_size = 40;
constexpr const char* word_separators = " ,\t";
constexpr const char* file_name_separators = ",\t";

char command_line[line_size];
char previous_line[line_size];

// Cuts the next word at pos with strtok's rules: leading separators skipped,
// the separator that ends the word consumed. nullptr when none is left.
char* cut_word(char*& pos, const char* separators) {
    pos += std::strspn(pos, separators);
    if (*pos == '\0') return nullptr;
    char* word = pos;
    pos += std::strcspn(pos, separators);
    if (*pos != '\0') *pos++ = '\0';
    return word;
}

// Decimal integer as atoi reads it, but clamped instead of overflowing.
int32_t read_decimal(const char* text) {
    long v = std::strtol(text, nullptr, 10);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return int32_t(v);
}

bool word_matches(const char* word, std::string_view name) {
    size_t n = std::strlen(word);
    return n <= name.size() && strncasecmp(word, name.data(), n) == 0;
}

// Index of the one matching row, -1 when none matches, -2 when several do.
int match_command(const char* word) {
    int found = -1;
    for (size_t i = 0; i < command_table.size(); ++i) {
        if (!word_matches(word, command_table[i].name)) continue;
        if (found != -1) return -2;
        found = int(i);
    }
    return found;
}

// "3", "com3", "COM3" and "Com03" all name port 3.
int32_t port_number(const char* word) {
    int32_t n = read_decimal(word);
    if (n == 0 && strncasecmp(word, "com", 3) == 0) n = read_decimal(word + 3);
    return n;
}

bool valid_port(int32_t n) { return n >= 1 && n <= 20; }

bool is_link_rate(int32_t rate) {
    for (int32_t r : link_baud_rates)
        if (r == rate) return true;
    return false;
}

// Reads one answer line; only its first character counts. End of input is "no".
bool confirmed(char* buf, int size) {
    if (std::fgets(buf, size, stdin) == nullptr) {
        std::printf("\n");
        return false;
    }
    return buf[0] == 'y' || buf[0] == 'Y';
}

void print_banner() {
    std::printf("Brelvanode PC Host Q-Span Utility %s - written by the Q-Span team\n",
                program_version);
    std::printf("Brelva Radio Works - host port utility for the Brelvanode APRS digipeater\n");
}

void do_configure(char*& pos) {
    const char* file = cut_word(pos, file_name_separators);
    if (file == nullptr) {
        std::printf("\a\aError: missing argument: file_name\n");
        return;
    }
    if (conf_process(file) != 0) std::printf("\a\aError: Configuration processing failed\n");
}

void do_rules(char*& pos) {
    const char* file = cut_word(pos, file_name_separators);
    if (file == nullptr) {
        std::printf("\a\aError: missing argument: file_name\n");
        return;
    }
    if (rules_process(file) != 0) std::printf("\a\aError: Rule processing failed\n");
}

void do_connect(char*& pos) {
    if (connected == 1) {
        std::printf("\a\aError: already Connected!\n");
        return;
    }
    const char* word = cut_word(pos, word_separators);
    if (word == nullptr) {
        std::printf("\a\aError: missing argument: com_port\n");
        return;
    }
    int32_t port = port_number(word);
    if (!valid_port(port)) {
        std::printf("\a\aError: invalid COM port number (1..20): %s\n", word);
        return;
    }
    const char* rate_word = cut_word(pos, word_separators);
    int32_t rate = rate_word != nullptr ? read_decimal(rate_word) : int32_t(default_link_baud());
    if (!is_link_rate(rate)) {
        std::printf("\a\aError: invalid baud rate: %d\n", rate);
        return;
    }
    std::snprintf(port_name, sizeof port_name, "COM%d", port);
    connect_device(rate, 0);
}

void do_disconnect() {
    if (connected == 1)
        disconnect_device();
    else
        std::printf("\a\aError: not Connected!\n");
}

void do_baud(char*& pos) {
    if (connected != 1) {
        std::printf("\a\aError: must be Connected before changing the Baud!\n");
        return;
    }
    const char* word = cut_word(pos, word_separators);
    if (word == nullptr) {
        std::printf("\a\aError: missing argument: baud\n");
        return;
    }
    int32_t rate = read_decimal(word);
    if (!is_link_rate(rate)) {
        std::printf("\a\aError: invalid baud rate: %d\n", rate);
        return;
    }
    change_link_baud(rate);
}

void do_serialtest(char*& pos) {
    if (connected != 1) {
        std::printf("\a\aError: not Connected!\n");
        return;
    }
    const char* word = cut_word(pos, word_separators);
    if (word == nullptr) {
        std::printf("\a\aError: missing argument: iteration\n");
        return;
    }
    serial_test(cmd_serialtest, word);
}

void do_download() {
    if (connected != 1) {
        std::printf("\a\aError: not Connected!\n");
        return;
    }
    if (conf_processed == 0) {
        std::printf("\a\aWarning: Configuration file has not yet been processed!\n"
                    "Do you want to use the Default Configuration? (yes|no) [no]: ");
        if (!confirmed(command_line, line_size)) {
            std::printf("\a\aDownload Aborted!\n");
            return;
        }
    }
    if (rules_processed == 0) {
        std::printf("\n\a\aWarning: Rules file has not yet been processed!\n"
                    "Do you  want to use the Implicit Rule only without specific rules?\n"
                    "(yes|no) [no]: ");
        if (!confirmed(command_line, line_size)) {
            std::printf("\a\aDownload Aborted!\n");
            return;
        }
    }
    download_command();
}

void do_firmware(char*& pos) {
    if (connected == 1) {
        std::printf("\a\aError: already Connected, Disconnect first!\n");
        return;
    }
    const char* word = cut_word(pos, word_separators);
    if (word == nullptr) {
        std::printf("\a\aError: missing arguments: com_port file_name\n");
        return;
    }
    int32_t port = port_number(word);
    if (!valid_port(port)) {
        std::printf("\a\aError: invalid COM port number (1..20): %s\n", word);
        return;
    }
    const char* file = cut_word(pos, file_name_separators);
    if (file == nullptr) {
        std::printf("\a\aError: missing argument: file_name\n");
        return;
    }
    std::printf("\a\aWARNING! This will alter the Brelvanode firmware!\n"
                "Do you want to continue (n or y)? [n]: ");
    // A short answer buffer: the rest of a long answer stays for the next prompt.
    char answer[firmware_answer_size];
    if (!confirmed(answer, sizeof answer)) {
        std::printf("Brelvanode Firmware will NOT be updated!\n");
        return;
    }
    if (firmware(port, file) == 0)
        std::printf("\a\aFirmware update succeeded!\n\nDon't forget to Configure Operating "
                    "Parameters, Process Rules\nand Download these to the Brelvanode!\n");
    else
        std::printf("Error: Firmware update failed!\n\tTry again!\n");
}

void dispatch(int id, char*& pos) {
    switch (id) {
    case cmd_help: command_summary(); break;
    case cmd_angles: std::printf("%.*s\n", int(angles_help_text.size()), angles_help_text.data()); break;
    case cmd_dconfigure: conf_display(); break;
    case cmd_drules: rules_display(); break;
    case cmd_configure: do_configure(pos); break;
    case cmd_rules: do_rules(pos); break;
    case cmd_connect: do_connect(pos); break;
    case cmd_disconnect: do_disconnect(); break;
    case cmd_baud: do_baud(pos); break;
    case cmd_serialtest: do_serialtest(pos); break;
    case cmd_download: do_download(); break;
    case cmd_firmware: do_firmware(pos); break;
    case cmd_exit: std::exit(0);
    default: std::printf("\a\aInternal Error: command %d is invalid!\n", id); break;
    }
}

// One line without its newline: repeat, split, match, dispatch.
void handle_line(char* line) {
    if (line[0] == '.')
        std::memcpy(line, previous_line, sizeof previous_line);
    else
        std::memcpy(previous_line, line, sizeof previous_line);

    char* pos = line;
    const char* word = cut_word(pos, word_separators);
    if (word == nullptr) return;
    int row = match_command(word);
    if (row == -1)
        std::printf("\a\aError: unknown command: %s\n", word);
    else if (row == -2)
        std::printf("\a\aError: ambiguous command: %s\n", word);
    else
        dispatch(command_table[size_t(row)].id, pos);
}

}  // namespace

const std::array<command_entry, 17> command_table = {{
    {1, cmd_help, "help", "", "Displays this summary (alias ?)"},
    {0, cmd_help, "?", "", "Displays this summary"},
    {1, 33, ".", "", "Repeats the previous command"},
    {1, cmd_angles, "angles", "", "Displays the Angles format used for Lat and Lon"},
    {1, cmd_baud, "baud", "baud",
     "Changes the baud rates on host and Brelvanode\n\t\t\t\tonce connected. Default [ ]"},
    {1, cmd_configure, "configure", "file_name", "Reads a Configuration file"},
    {1, cmd_dconfigure, "dconfigure", "", "Displays the Configuration"},
    {1, cmd_rules, "rules", "file_name", "Reads a Rules file"},
    {1, cmd_drules, "drules", "", "Displays the Rules"},
    {1, cmd_connect, "connect", "com_port [baud]",
     "Connect to Brelvanode at optional baud\n\t\t\t\t(8 bits No Parity 1 Stop)"},
    {1, cmd_disconnect, "disconnect", "", "Disconnect from the Brelvanode"},
    {1, cmd_download, "download", "", "Download Configuration and Rules to Brelvanode"},
    {1, cmd_firmware, "firmware", "com_port file_name", "Update Brelvanode firmware from firmware file"},
    {1, cmd_serialtest, "serialtest", "iterations", "Serial data test for the specified iterations"},
    {1, cmd_exit, "exit", "", "Exits this program (aliases quit, x)"},
    {0, cmd_exit, "quit", "", "Same as exit"},
    {0, cmd_exit, "x", "", "Same as exit"},
}};

const std::array<int32_t, 5> link_baud_rates = {4800, 9600, 19200, 38400, 57600};

void command_summary() {
    std::printf("\n\t\tCommand Summary:\n%-10s %-20s %s\n", "Command", "Arguments", "Comments");
    const uint32_t default_rate = default_link_baud();
    for (const command_entry& c : command_table) {
        if (c.shown == 0) continue;
        std::printf("%-10.*s %-20.*s %.*s\n", int(c.name.size()), c.name.data(),
                    int(c.args.size()), c.args.data(), int(c.comment.size()), c.comment.data());
        if (c.id != cmd_baud) continue;
        std::printf("%-10s Valid Baud Rates:\t", "");
        for (int32_t r : link_baud_rates)
            std::printf(uint32_t(r) == default_rate ? "[%ld] " : "%ld ", long(r));
        std::printf("\n\n");
    }
}

int run_shell() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    print_banner();
    conf_reset();
    command_summary();
    std::printf("\n");

    for (;;) {
        std::printf("Command> ");
        if (std::fgets(command_line, line_size, stdin) == nullptr) {
            std::printf("\n");
            return 1;
        }
        if (command_line[0] == '\n') continue;
        command_line[std::strcspn(command_line, "\n")] = '\0';
        handle_line(command_line);
    }
}
