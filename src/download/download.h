// Download of the configuration and the rules in framed, CRC-protected packets.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr uint8_t dwn_ack = 0x06;
inline constexpr uint8_t dwn_nak = 0x15;

extern const std::array<uint16_t, 256> dwn_crc_table;

uint16_t dwn_crc16(uint16_t initial, const uint8_t* bytes, size_t count,
                   const std::array<uint16_t, 256>& table);

// Writes the length in front and the CRC behind into a buffer of len >= 5 bytes.
void dwn_frame_packet(uint8_t* pp, int len);
// Frames the packet in place (length in front, CRC behind), sends it and waits
// for ACK, up to five transmissions. len, or a negative code.
int dwn_write_pkt(uint8_t* pp, int len);
// Sends an image in data packets of up to 60 bytes. len, or a negative code.
int dwn_write_file(const uint8_t* bp, int len);
// The sequence after "download\n": conf, rules, finish. 0 or a negative code.
int dwn_download();
// The whole command once the shell's questions let it through.
void download_command();
