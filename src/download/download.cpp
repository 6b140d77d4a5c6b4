// The download command: "download\n", then a "conf" command packet and the
// 178-byte configuration image, a "rules" command packet and 28 bytes per rule,
// and the "-cestfini-" finish packet, each packet acknowledged by the device.
//
// Images go out in data packets of at most 60 bytes with no sequence number:
// order alone tells the device where a piece belongs. A failure stops the
// sequence at once; each level adds its own message on the way up.
#include "download/download.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "config/config.h"
#include "rules/rules.h"
#include "serial/serial.h"

namespace {

constexpr int packet_buffer_size = 64;
constexpr int data_piece_max = packet_buffer_size - 4;
constexpr int command_packet_len = 21;
constexpr int command_word_offset = 2;
constexpr int command_word_width = 12;
constexpr int command_count_offset = 14;
constexpr int command_count_width = 5;
constexpr int drain_timeout_ms = 10;

// A command packet: the word and, unless count is negative, its decimal text.
int send_command_packet(std::string_view word, int count) {
    std::array<uint8_t, command_packet_len> pkt{};
    std::memcpy(pkt.data() + command_word_offset, word.data(),
                std::min<size_t>(word.size(), command_word_width - 1));
    if (count >= 0) {
        char digits[16];
        int n = std::snprintf(digits, sizeof digits, "%d", count);
        std::memcpy(pkt.data() + command_count_offset, digits,
                    size_t(std::clamp(n, 0, command_count_width)));
    }
    return dwn_write_pkt(pkt.data(), command_packet_len);
}

// Whatever the device says right after "download\n" is not part of the
// packet dialogue; a short read takes it away before the first ACK is awaited.
void drain_download_answer() {
    std::array<uint8_t, packet_buffer_size> scratch;
    read_port(port_name, scratch.data(), uint32_t(scratch.size()), drain_timeout_ms);
}

}  // namespace

int dwn_write_file(const uint8_t* bp, int len) {
    if (bp == nullptr) {
        std::printf("dwn_write_file: argument ptr bp is null\n");
        return -1;
    }
    if (len < 1) {
        std::printf("dwn_write_file: argument len < 1\n");
        return -2;
    }
    int sent = 0;
    while (sent < len) {
        int n = std::min(data_piece_max, len - sent);
        std::array<uint8_t, packet_buffer_size> pkt{};
        std::memcpy(pkt.data() + 2, bp + sent, size_t(n));
        int r = dwn_write_pkt(pkt.data(), n + 4);
        if (r != n + 4) {
            std::printf("\a\aError: writing data pkt: %d\n", r);
            return -3;
        }
        sent += n;
    }
    return sent;
}

int dwn_download() {
    // The table holds rule_table_capacity rules; a larger count would send
    // memory beyond it, so nothing is sent at all.
    const int rule_count = conf_record.rule_count;
    if (rule_count > rule_table_capacity) {
        std::printf("\a\aInternal Error: rule count %d exceeds the table's %d\n", rule_count,
                    rule_table_capacity);
        return -3;
    }
    drain_download_answer();

    int r = send_command_packet("conf", conf_image_size);
    if (r != command_packet_len) {
        std::printf("\a\aError: writing Configuration command failed: %d\n", r);
        return -1;
    }
    const auto conf_image = conf_pack(conf_record);
    r = dwn_write_file(conf_image.data(), conf_image_size);
    if (r != conf_image_size) {
        std::printf("\a\aError: writing Configuration file failed: %d\n", r);
        return -2;
    }
    std::printf("Downloading Configuration succeeded\n");

    const int rules_size = rule_count * rule_record_size;
    r = send_command_packet("rules", rules_size);
    if (r != command_packet_len) {
        std::printf("\a\aError: writing Rules command failed: %d\n", r);
        return -3;
    }
    if (rules_size > 0) {
        r = dwn_write_file(rules_image(), rules_size);
        if (r != rules_size) {
            std::printf("\a\aError: writing Rules file failed: %d\n", r);
            return -4;
        }
    }
    std::printf("Downloading Rules succeeded\n");

    r = send_command_packet("-cestfini-", -1);
    if (r != command_packet_len) {
        std::printf("\a\aError: error writing finish pkt: %d\n", r);
        return -5;
    }
    return 0;
}

void download_command() {
    static constexpr std::string_view command = "download\n";
    if (write_port(port_name, reinterpret_cast<const uint8_t*>(command.data()),
                   int32_t(command.size())) < 0) {
        std::printf("\a\aError: wrote Download command, got error on port %s\n", port_name);
        return;
    }
    int r = dwn_download();
    if (r != 0) std::printf("\a\aError: Download failed: %d\n", r);
    disconnect_device();
}
