// The configuration record's device image and its display.
#include <gtest/gtest.h>

#include <cstring>

#include "config/config.h"
#include "e2e.h"

namespace {

// The default image, written out byte by byte from the device's layout.
std::array<uint8_t, conf_image_size> expected_default_image() {
    std::array<uint8_t, conf_image_size> b{};
    auto u16 = [&](int at, uint16_t v) { b[at] = uint8_t(v); b[at + 1] = uint8_t(v >> 8); };
    auto u32 = [&](int at, uint32_t v) { u16(at, uint16_t(v)); u16(at + 2, uint16_t(v >> 16)); };
    auto f32 = [&](int at, float v) { uint32_t u; std::memcpy(&u, &v, 4); u32(at, u); };
    u32(0, 19200);
    u32(4, 9600);
    u32(8, 19200);
    u32(12, 0);
    f32(16, conf_default.lat);
    f32(20, conf_default.lon);
    std::memcpy(&b[24], "NOTSET\0\0", 8);
    u16(34, 3);
    u16(36, 6);
    u16(44, 1);
    u16(46, 28);
    u16(48, 600);
    b[50] = '#';
    b[51] = '/';
    u16(52, 1);
    u16(56, 1);
    u16(58, 1);
    u16(64, 'p');
    return b;
}

TEST(ConfRecord, DefaultImageMatchesTheDeviceLayout) {
    conf_reset();
    EXPECT_EQ(conf_pack(conf_record), expected_default_image());
    EXPECT_EQ(digipath_count, 0);
}

TEST(ConfRecord, DefaultPositionIsAValidPosition) {
    EXPECT_GE(conf_default.lat, -90.0f);
    EXPECT_LE(conf_default.lat, 90.0f);
    EXPECT_GE(conf_default.lon, -180.0f);
    EXPECT_LE(conf_default.lon, 180.0f);
}

TEST(ConfRecord, EveryFieldLandsAtItsOffsetLittleEndian) {
    conf_record_t r{};
    r.host_baud = 0x04030201;
    r.altitude = -2;
    r.lat = -5.25f;
    r.ssid = 0x0f0e;
    r.icon = '\\' * 256 + '>';
    r.implicit_action = 'd';
    r.rule_count = 0x0132;
    r.word_68 = 0xbeef;
    std::memcpy(r.digipath[7], "ABCDEFGH", 8);
    std::memcpy(r.bcomment, "hi", 2);
    auto img = conf_pack(r);
    EXPECT_EQ((std::vector<uint8_t>{img[0], img[1], img[2], img[3]}), (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ((std::vector<uint8_t>{img[12], img[13], img[14], img[15]}),
              (std::vector<uint8_t>{0xfe, 0xff, 0xff, 0xff}));
    // -5.25f is 0xC0A80000
    EXPECT_EQ((std::vector<uint8_t>{img[16], img[17], img[18], img[19]}),
              (std::vector<uint8_t>{0x00, 0x00, 0xa8, 0xc0}));
    EXPECT_EQ(img[32], 0x0e);
    EXPECT_EQ(img[33], 0x0f);
    EXPECT_EQ(img[50], '>');
    EXPECT_EQ(img[51], '\\');
    EXPECT_EQ(img[64], 'd');
    EXPECT_EQ(img[66], 0x32);
    EXPECT_EQ(img[67], 0x01);
    EXPECT_EQ(img[68], 0xef);
    EXPECT_EQ(img[69], 0xbe);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&img[70 + 56]), 8), "ABCDEFGH");
    EXPECT_EQ(img[134], 'h');
    EXPECT_EQ(img[177], 0);
    EXPECT_EQ(conf_pack(conf_unpack(img)), img);
}

std::string display_text() {
    testing::internal::CaptureStdout();
    conf_display();
    return testing::internal::GetCapturedStdout();
}

std::string line_of(const std::string& text, const std::string& start) {
    size_t at = text.find(start);
    if (at == std::string::npos) return "<missing " + start + ">";
    return text.substr(at, text.find('\n', at) - at);
}

TEST(ConfDisplay, DefaultsInTheFixedLayout) {
    conf_reset();
    EXPECT_EQ(display_text(), default_configuration_text());
}

TEST(ConfDisplay, PathElementsCommaSeparatedAndFullSlotsBounded) {
    conf_reset();
    std::memcpy(conf_record.digipath[0], "WIDE1-1", 7);
    std::memcpy(conf_record.digipath[1], "ABCDEFGH", 8);  // full slot, no terminator
    std::memcpy(conf_record.digipath[2], "RELAY", 5);
    digipath_count = 3;
    EXPECT_EQ(line_of(display_text(), "Digi Path"), "Digi Path[3]: WIDE1-1,ABCDEFGH,RELAY");
}

TEST(ConfDisplay, FieldFormats) {
    conf_reset();
    std::memcpy(conf_record.call, "AB1C\0T\0", 8);
    conf_record.lat = -5.25f;
    conf_record.lon = -103.5f;
    conf_record.altitude = -15;
    conf_record.nsr = 2;  // any non-zero value is on
    conf_record.icon = '\\' * 256 + ('>' | 0x80);
    conf_record.implicit_action = 'x';
    conf_record.rule_count = 7;
    std::string text = display_text();
    EXPECT_EQ(line_of(text, "Station"), "Station Call\t  AB1C\tSSID 0");
    EXPECT_EQ(line_of(text, "Base"), "Base Lat  -5.250000\tLon  -103.50000    Altitude -15 meters");
    EXPECT_EQ(line_of(text, "NSR"), "NSR: Enabled");
    EXPECT_EQ(line_of(text, "Beacon 600"), "Beacon 600 sec.\tIcon \\>");
    EXPECT_EQ(line_of(text, "Rule"), "Rule count 7\tImplicit Rule Action: ?");
}

TEST(ConfDefaultLinkBaud, FollowsTheSwitch) {
    conf_reset();
    EXPECT_EQ(default_link_baud(), 9600u);
    conf_record.dstar_baud = 38400;
    EXPECT_EQ(default_link_baud(), 38400u);
    conf_record.use_dstar_baud = 0;
    EXPECT_EQ(default_link_baud(), 19200u);
}

}  // namespace
