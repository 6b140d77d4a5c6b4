// Packet framing and CRC of the download, checked against hand-framed bytes
// and a bitwise CRC written here independently of the table-driven one.
// Also the argument checks that must fail before the port is touched.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/config.h"
#include "download/download.h"

namespace {

using bytes = std::vector<uint8_t>;

// Catalogued CRC-16/AUG-CCITT (= SPI-FUJITSU): poly 0x1021, init 0x1D0F, MSB first.
uint16_t crc_aug_ccitt_bitwise(const uint8_t* p, size_t n) {
    uint16_t crc = 0x1D0F;
    for (size_t i = 0; i < n; ++i) {
        crc ^= uint16_t(p[i] << 8);
        for (int b = 0; b < 8; ++b) crc = uint16_t(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

bytes framed(bytes pkt) {
    dwn_frame_packet(pkt.data(), int(pkt.size()));
    return pkt;
}

TEST(DownloadCrc, TableStartsWithThePolynomialMultiples) {
    EXPECT_EQ(dwn_crc_table[0], 0x0000);
    EXPECT_EQ(dwn_crc_table[1], 0x1021);
    EXPECT_EQ(dwn_crc_table[2], 0x2042);
    EXPECT_EQ(dwn_crc_table[3], 0x3063);
    EXPECT_EQ(dwn_crc_table[255], 0x1EF0);
}

TEST(DownloadCrc, RegisterFormWithTwoZeroBytesEqualsCataloguedCheckValue) {
    const std::string check = "123456789";
    ASSERT_EQ(crc_aug_ccitt_bitwise(reinterpret_cast<const uint8_t*>(check.data()), 9), 0xE5CC);
    bytes msg(check.begin(), check.end());
    msg.push_back(0);
    msg.push_back(0);
    EXPECT_EQ(dwn_crc16(0xFFFF, msg.data(), msg.size(), dwn_crc_table), 0xE5CC);
}

TEST(DownloadCrc, CountZeroGivesTheInitialValue) {
    uint8_t dummy = 0x55;
    EXPECT_EQ(dwn_crc16(0xFFFF, &dummy, 0, dwn_crc_table), 0xFFFF);
    EXPECT_EQ(dwn_crc16(0x1234, &dummy, 0, dwn_crc_table), 0x1234);
}

TEST(DownloadFrame, WorkedExamples) {
    struct { const char* name; bytes payload_room; bytes expected; } cases[] = {
        {"one byte 0x41", {0, 0, 0x41, 0, 0}, {0x00, 0x05, 0x41, 0xb6, 0x1c}},
        {"conf command",
         {0, 0, 'c', 'o', 'n', 'f', 0, 0, 0, 0, 0, 0, 0, 0, '1', '7', '8', 0, 0, 0, 0},
         {0x00, 0x15, 0x63, 0x6f, 0x6e, 0x66, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
          0x31, 0x37, 0x38, 0x00, 0x00, 0x4f, 0xed}},
        {"finish command",
         {0, 0, '-', 'c', 'e', 's', 't', 'f', 'i', 'n', 'i', '-', 0, 0, 0, 0, 0, 0, 0, 0, 0},
         {0x00, 0x15, 0x2d, 0x63, 0x65, 0x73, 0x74, 0x66, 0x69, 0x6e, 0x69, 0x2d, 0x00, 0x00,
          0x00, 0x00, 0x00, 0x00, 0x00, 0x5d, 0xcf}},
    };
    for (const auto& c : cases) EXPECT_EQ(framed(c.payload_room), c.expected) << c.name;
}

TEST(DownloadFrame, OverwritesLengthAndCrcWhateverTheCallerLeftThere) {
    EXPECT_EQ(framed({0xAA, 0xBB, 0x41, 0xCC, 0xDD}), (bytes{0x00, 0x05, 0x41, 0xb6, 0x1c}));
}

TEST(DownloadFrame, CrcMatchesCatalogueAndWholePacketChecksToZero) {
    // Lengths around the data packet sizes and one past a byte of length field.
    for (int len : {5, 21, 32, 62, 64, 300}) {
        bytes pkt(static_cast<size_t>(len));
        for (int i = 2; i < len - 2; ++i) pkt[size_t(i)] = uint8_t(i * 37 + len);
        pkt = framed(pkt);
        EXPECT_EQ(pkt[0], len >> 8) << len;
        EXPECT_EQ(pkt[1], len & 0xFF) << len;
        uint16_t want = crc_aug_ccitt_bitwise(pkt.data(), size_t(len - 2));
        EXPECT_EQ(pkt[size_t(len - 2)], want >> 8) << len;
        EXPECT_EQ(pkt[size_t(len - 1)], want & 0xFF) << len;
        EXPECT_EQ(dwn_crc16(0xFFFF, pkt.data(), pkt.size(), dwn_crc_table), 0) << len;
    }
}

// Argument checks print their message and return before any port operation,
// so they run here without a port.
TEST(DownloadArguments, RefusedBeforeAnythingIsSent) {
    uint8_t buf[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    struct { const char* name; int (*call)(uint8_t*); int result; const char* message; } cases[] = {
        {"null packet", [](uint8_t*) { return dwn_write_pkt(nullptr, 5); }, -1,
         "dwn_write_pkt: argument ptr pp is null\n"},
        {"len 4", [](uint8_t* b) { return dwn_write_pkt(b, 4); }, -2,
         "dwn_write_pkt: argument len < 5\n"},
        {"negative len", [](uint8_t* b) { return dwn_write_pkt(b, -1); }, -2,
         "dwn_write_pkt: argument len < 5\n"},
        {"len beyond the length field", [](uint8_t* b) { return dwn_write_pkt(b, 65536); }, -2,
         "dwn_write_pkt: argument len > 65535\n"},
        {"null image", [](uint8_t*) { return dwn_write_file(nullptr, 10); }, -1,
         "dwn_write_file: argument ptr bp is null\n"},
        {"empty image", [](uint8_t* b) { return dwn_write_file(b, 0); }, -2,
         "dwn_write_file: argument len < 1\n"},
        {"negative image length", [](uint8_t* b) { return dwn_write_file(b, -5); }, -2,
         "dwn_write_file: argument len < 1\n"},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStdout();
        int r = c.call(buf);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message) << c.name;
        EXPECT_EQ(r, c.result) << c.name;
        EXPECT_EQ(bytes(buf, buf + 8), (bytes{1, 2, 3, 4, 5, 6, 7, 8})) << c.name;
    }
}

TEST(DownloadArguments, RuleCountBeyondTheTableSendsNothing) {
    conf_reset();
    conf_record.rule_count = 51;
    testing::internal::CaptureStdout();
    int r = dwn_download();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\a\aInternal Error: rule count 51 exceeds the table's 50\n");
    EXPECT_EQ(r, -3);
    conf_reset();
}

}  // namespace
