// Download packet framing: a big-endian total length in front, a CRC-16 behind,
// one ACK/NAK byte back from the device per packet, at most five transmissions.
//
// The CRC is the register form of polynomial 0x1021 (MSB first, preset 0xFFFF):
// each byte is shifted into the low end, and the two zeroed CRC bytes complete
// the division. Packets are limited to what the 16-bit length field can hold.
#include "download/download.h"

#include <cstdio>

#include "serial/serial.h"

namespace {

constexpr uint16_t crc_poly = 0x1021;
constexpr int max_transmissions = 5;
constexpr int ack_timeout_ms = 5000;
constexpr int min_packet_len = 5;
constexpr int max_packet_len = 0xFFFF;

constexpr std::array<uint16_t, 256> make_crc_table() {
    std::array<uint16_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        uint16_t reg = uint16_t(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            reg = uint16_t((reg & 0x8000) ? (reg << 1) ^ crc_poly : reg << 1);
        table[size_t(i)] = reg;
    }
    return table;
}

}  // namespace

// Built by the compiler; the header's extern declaration gives it external linkage.
constexpr std::array<uint16_t, 256> dwn_crc_table = make_crc_table();
static_assert(dwn_crc_table[0] == 0x0000 && dwn_crc_table[1] == 0x1021 &&
              dwn_crc_table[2] == 0x2042 && dwn_crc_table[3] == 0x3063);

uint16_t dwn_crc16(uint16_t initial, const uint8_t* bytes, size_t count,
                   const std::array<uint16_t, 256>& table) {
    uint16_t reg = initial;
    for (size_t i = 0; i < count; ++i)
        reg = uint16_t(table[reg >> 8] ^ uint16_t((reg << 8) | bytes[i]));
    return reg;
}

// Writes the length and the CRC into the caller's buffer, in place.
void dwn_frame_packet(uint8_t* pp, int len) {
    pp[0] = uint8_t(len >> 8);
    pp[1] = uint8_t(len & 0xFF);
    pp[len - 2] = 0;
    pp[len - 1] = 0;
    uint16_t crc = dwn_crc16(0xFFFF, pp, size_t(len), dwn_crc_table);
    pp[len - 2] = uint8_t(crc >> 8);
    pp[len - 1] = uint8_t(crc & 0xFF);
}

int dwn_write_pkt(uint8_t* pp, int len) {
    if (pp == nullptr) {
        std::printf("dwn_write_pkt: argument ptr pp is null\n");
        return -1;
    }
    if (len < min_packet_len) {
        std::printf("dwn_write_pkt: argument len < 5\n");
        return -2;
    }
    // A longer packet would wrap the 16-bit length field and reach the device
    // with a length it cannot match.
    if (len > max_packet_len) {
        std::printf("dwn_write_pkt: argument len > 65535\n");
        return -2;
    }
    dwn_frame_packet(pp, len);
    for (int attempt = 0; attempt < max_transmissions; ++attempt) {
        if (write_port(port_name, pp, len) < 0) {
            std::printf("\a\aError: writing pkt\n");
            return -3;
        }
        uint8_t answer = 0;
        uint32_t got = read_port(port_name, &answer, 1, ack_timeout_ms);
        if (got != 1) {
            std::printf("\a\aError: reading ack or nak: %d\n", int(got));
            return -4;
        }
        if (answer == dwn_ack) return len;
        if (answer != dwn_nak) {
            std::printf("\a\aError: reading ack or nak: got 0x%02x\n", answer);
            return -5;
        }
    }
    return -6;
}
