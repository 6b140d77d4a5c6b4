// conf_process in process: one table of files with the code, the exact text
// printed and the device image expected afterwards (the default image with
// the listed bytes changed), then the state after failures and bad paths.
#include "angles/angles.h"
#include "config/config.h"
#include "e2e.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

using image_t = std::array<uint8_t, conf_image_size>;

struct patch {
    int offset;
    std::string bytes;
};

struct file_case {
    std::string file;
    int rc;
    std::string out;
    std::vector<patch> stored;  // changes from the default image
    int path_count = 0;
};

std::string le16(uint16_t v) { return {char(v & 0xFF), char(v >> 8)}; }
std::string le32(uint32_t v) { return le16(uint16_t(v)) + le16(uint16_t(v >> 16)); }
std::string f32(float v) { return le32(std::bit_cast<uint32_t>(v)); }
std::string bytes(const char* s, size_t n) { return std::string(s, n); }

constexpr int off_host = 0, off_dstar = 4, off_tnc = 8, off_altitude = 12, off_lat = 16,
              off_lon = 20, off_call = 24, off_ssid = 32, off_nsr = 42, off_dupewin = 46,
              off_beacon = 48, off_icon = 50, off_log = 52, off_haltonerr = 54,
              off_dropmangld = 56, off_fixvalid = 58, off_ratelimcall = 62, off_implicit = 64,
              off_rule_count = 66, off_digipath = 70, off_bcomment = 134;

std::string ok(int items) { return "Configuration items processed " + std::to_string(items) + "\n"; }

// Parses content from a fresh file starting from the default record; returns
// what was printed.
std::string parse(const std::string& content, int& rc) {
    conf_reset();
    const std::string path = write_temp_file("station.cfg", content);
    testing::internal::CaptureStdout();
    rc = conf_process(path.c_str());
    return testing::internal::GetCapturedStdout();
}

image_t expected_image(const std::vector<patch>& stored) {
    image_t image = conf_pack(conf_default);
    for (const patch& p : stored) std::memcpy(image.data() + p.offset, p.bytes.data(), p.bytes.size());
    return image;
}

// Reports the first differing offset, which names the field at once.
void expect_image(const image_t& expected) {
    const image_t actual = conf_pack(conf_record);
    for (int i = 0; i < conf_image_size; ++i)
        ASSERT_EQ(int(actual[i]), int(expected[i])) << "first difference at offset " << i;
}

void run_cases(const std::vector<file_case>& cases) {
    for (const file_case& c : cases) {
        SCOPED_TRACE("file \"" + c.file + "\"");
        int rc = 0;
        EXPECT_EQ(parse(c.file, rc), c.out);
        EXPECT_EQ(rc, c.rc);
        expect_image(expected_image(c.stored));
        EXPECT_EQ(digipath_count, c.path_count);
    }
}

const std::string call_ab1c = bytes("AB1C\0T\0\0", 8);

TEST(ConfProcess, KeywordsMatchByUniquePrefix) {
    run_cases({
        {"CALL ab1c\n", 0, ok(1), {{off_call, call_ab1c}}},
        {"Ca ab1c\n", 0, ok(1), {{off_call, call_ab1c}}},
        {"c ab1c\n", 0, ok(1), {{off_call, call_ab1c}}},
        {"call ab1c", 0, ok(1), {{off_call, call_ab1c}}},  // no final newline
        {"callsign ab1c\n", -7, "\a\aError: line 1: command callsign invalid: callsign ab1c\n", {}},
        {"d 5\n", -7, "\a\aError: line 1: Ambiguous command: d: d 5\n", {}},
        {"l\n", -7, "\a\aError: line 1: Ambiguous command: l: l\n", {}},
        {"lo y\n", -7, "\a\aError: line 1: Ambiguous command: lo: lo y\n", {}},
        {"b 10\n", -7, "\a\aError: line 1: Ambiguous command: b: b 10\n", {}},
        {"h 9600\n", -7, "\a\aError: line 1: Ambiguous command: h: h 9600\n", {}},
        {"ba 10:30:00 -103:15:00\nbe 10\nho 9600\ndr n\nds 4800\ndu 30\ndi WIDE1-1\n", 0, ok(7),
         {{off_lat, f32(10.5f)}, {off_lon, f32(-103.25f)}, {off_beacon, le16(10)},
          {off_host, le32(9600)}, {off_dropmangld, le16(0)}, {off_dstar, le32(4800)},
          {off_dupewin, le16(30)}, {off_digipath, "WIDE1-1"}},
         1},
        {"ssid\t,7, trailing words ignored\n", 0, ok(1), {{off_ssid, le16(7)}}},
    });
}

TEST(ConfProcess, BlankAndCommentLinesCountInLineNumbers) {
    run_cases({
        {"\n   \n\t\n# note\n/ note\n;note\n, ,\nssid 16\n", -11,
         "\a\aError: line 8: invalid SSID argument range [0..15]: 16: ssid 16\n", {}},
        {"#call ab1c\n", 0, ok(0), {}},
        {"", 0, ok(0), {}},
        // CR LF is one line end; a lone CR stays in the text.
        {"call ab1c\r\nssid 16\r\n", -11,
         "\a\aError: line 2: invalid SSID argument range [0..15]: 16: ssid 16\n",
         {{off_call, call_ab1c}}},
    });
}

TEST(ConfProcess, NumbersAndRanges) {
    run_cases({
        {"ssid 0x0F\n", 0, ok(1), {{off_ssid, le16(15)}}},
        {"ssid 017\n", 0, ok(1), {{off_ssid, le16(15)}}},
        {"ssid x\n", 0, ok(1), {}},
        {"ssid 16\n", -11, "\a\aError: line 1: invalid SSID argument range [0..15]: 16: ssid 16\n", {}},
        {"ssid -1\n", -11, "\a\aError: line 1: invalid SSID argument range [0..15]: -1: ssid -1\n", {}},
        // Huge numbers saturate at the 32-bit bounds instead of wrapping.
        {"ssid 99999999999999999999\n", -11,
         "\a\aError: line 1: invalid SSID argument range [0..15]: 2147483647: "
         "ssid 99999999999999999999\n", {}},
        {"ssid 4294967301\n", -11,
         "\a\aError: line 1: invalid SSID argument range [0..15]: 2147483647: ssid 4294967301\n", {}},
        {"beacon 5\n", -11,
         "\a\aError: line 1: invalid seconds argument range [0, 10..65535]: 5: beacon 5\n", {}},
        {"beacon 0\n", 0, ok(1), {{off_beacon, le16(0)}}},
        {"beacon 10\n", 0, ok(1), {{off_beacon, le16(10)}}},
        {"beacon 0x258\n", 0, ok(1), {{off_beacon, le16(600)}}},
        {"beacon 65536\n", -11,
         "\a\aError: line 1: invalid seconds argument range [0, 10..65535]: 65536: beacon 65536\n", {}},
        {"dupewin 0x10\n", -11,
         "\a\aError: line 1: invalid seconds argument range [5..500]: 0: dupewin 0x10\n", {}},
        {"dupewin 5\n", 0, ok(1), {{off_dupewin, le16(5)}}},
        {"dupewin 501\n", -11,
         "\a\aError: line 1: invalid seconds argument range [5..500]: 501: dupewin 501\n", {}},
        {"ratelimcall 65535\n", 0, ok(1), {{off_ratelimcall, le16(65535)}}},
        {"ratelimcall 65536\n", -11,
         "\a\aError: line 1: invalid seconds argument range [0..65535]: 65536: ratelimcall 65536\n", {}},
        {"ratelimcall -1\n", -11,
         "\a\aError: line 1: invalid seconds argument range [0..65535]: -1: ratelimcall -1\n", {}},
    });
}

TEST(ConfProcess, AltitudeInMetresOrFeet) {
    auto alt = [](int32_t m) { return std::vector<patch>{{off_altitude, le32(uint32_t(m))}}; };
    run_cases({
        {"altitude 1000f\n", 0, ok(1), alt(304)},
        {"altitude 328F\n", 0, ok(1), alt(100)},
        {"altitude -50f\n", 0, ok(1), alt(-15)},
        {"altitude 1000 ft\n", 0, ok(1), alt(1000)},
        {"altitude 1000m\n", 0, ok(1), alt(1000)},
        {"altitude -0x10\n", 0, ok(1), alt(-16)},
        {"altitude 0x1f\n", 0, ok(1), alt(31)},  // hexadecimal f is a digit
        {"altitude 99999999999\n", 0, ok(1), alt(INT32_MAX)},
        {"altitude\n", -11, "\a\aError: line 1: missing Altitude argument: altitude\n", {}},
    });
    int rc = 0;
    parse("altitude -99999999999f\n", rc);
    EXPECT_EQ(rc, 0);
    EXPECT_NEAR(double(conf_record.altitude), -2147483648.0 * 0.30487806, 100.0);
}

TEST(ConfProcess, BaudRates) {
    run_cases({
        {"host 115200\ntnc 300\ndstar 56000\n", 0, ok(3),
         {{off_host, le32(115200)}, {off_tnc, le32(300)}, {off_dstar, le32(56000)}}},
        {"host 301\n", -11, "\a\aError: line 1: invalid Baud argument: 301: host 301\n", {}},
        {"tnc 96OO\n", -11, "\a\aError: line 1: invalid Baud argument: 96: tnc 96OO\n", {}},
        {"dstar ;9600\n", -8, "\a\aError: line 1: missing Baud argument: dstar ;9600\n", {}},
    });
    // A rate of 0 (hexadecimal is not read here) lets the baud lookup speak
    // first; its own words belong to the port layer.
    for (const char* file : {"host abc\n", "tnc 0x2580\n"}) {
        int rc = 0;
        const std::string out = parse(file, rc);
        EXPECT_EQ(rc, -11);
        const std::string line(file, std::strlen(file) - 1);
        EXPECT_TRUE(out.ends_with("\a\aError: line 1: invalid Baud argument: 0: " + line + "\n")) << out;
    }
}

TEST(ConfProcess, Switches) {
    const struct {
        const char* keyword;
        int offset;
    } switches[] = {{"log", off_log}, {"dropmangld", off_dropmangld}, {"haltonerr", off_haltonerr},
                    {"fixvalid", off_fixvalid}, {"nsr", off_nsr}};
    for (const auto& s : switches) {
        for (const char* word : {"yes", "True", "1", "enable", "E", "t"})
            run_cases({{std::string(s.keyword) + " " + word + "\n", 0, ok(1), {{s.offset, le16(1)}}}});
        for (const char* word : {"no", "0", "x", "false", "N"})
            run_cases({{std::string(s.keyword) + " " + word + "\n", 0, ok(1), {{s.offset, le16(0)}}}});
    }
    run_cases({
        {"log\n", -11, "\a\aError: line 1: missing y | n argument: log\n", {}},
        {"nsr # y\n", -8, "\a\aError: line 1: missing y | n argument: nsr # y\n", {}},
    });
}

TEST(ConfProcess, CallSign) {
    run_cases({
        {"call n0call\n", 0, ok(1), {{off_call, bytes("N0CALL\0\0", 8)}}},
        {"call a\n", 0, ok(1), {{off_call, bytes("A\0TSET\0\0", 8)}}},
        {"call abcdefg\n", -11, "\a\aError: line 1: invalid Call Sign argument: too long: call abcdefg\n", {}},
        {"call\n", -11, "\a\aError: line 1: missing Call Sign argument: call\n", {}},
        {"call /x\n", -8, "\a\aError: line 1: missing Call Sign argument: call /x\n", {}},
        {"call ab1c#home\n", 0, ok(1), {{off_call, call_ab1c}}},
    });
}

TEST(ConfProcess, ArgumentsAfterTheCommentMark) {
    run_cases({
        {"ssid # 5\n", -8, "\a\aError: line 1: missing SSID argument: ssid # 5\n", {}},
        {"ssid\n", -11, "\a\aError: line 1: missing SSID argument: ssid\n", {}},
        {"ssid   \n", -11, "\a\aError: line 1: missing SSID argument: ssid   \n", {}},
        {"ssid 5 # 7\n", 0, ok(1), {{off_ssid, le16(5)}}},
    });
}

TEST(ConfProcess, StationPosition) {
    const float home = float(dmctodeg("45:22:33"));
    run_cases({
        {"lat 45:22:33 # home\n", 0, ok(1), {{off_lat, f32(home)}}},
        {"position 10:30:00,-103:15:00\n", 0, ok(1), {{off_lat, f32(10.5f)}, {off_lon, f32(-103.25f)}}},
        {"base N10d30m W103d15m\n", 0, ok(1), {{off_lat, f32(10.5f)}, {off_lon, f32(-103.25f)}}},
        {"lon -103.15. # west\n", 0, ok(1), {{off_lon, f32(-103.25f)}}},
        // No latitude bound here: only the angle parser's own limit applies.
        {"lat 200d\n", 0, ok(1), {{off_lat, f32(200.0f)}}},
        {"position 45:22:33 # -103:00:00\n", -8,
         "\a\aError: line 1: missing Station Longitude argument: position 45:22:33 # -103:00:00\n",
         {{off_lat, f32(home)}}},
        {"position 10:30:00 x\n", -11,
         "\a\aError: DMC format must have at least one of [DdMmCc] identifiers\n"
         "\tor Dotted format: found illegal character: [s][D]DD.MM.[F*]\n"
         "\a\aError: line 1: invalid Station Longitude argument: x: position 10:30:00 x\n",
         {{off_lat, f32(10.5f)}}},
        {"position\n", -11, "\a\aError: line 1: missing Station Latitude argument: position\n", {}},
        {"lat 45\n", -11,
         "\a\aError: Unrecognized format: must be one of Dotted, Colon or DMC\n"
         "\a\aError: line 1: invalid Station Latitude argument: 45: lat 45\n", {}},
        // The angle set has no comment marks: "#" is read as an angle.
        {"lon # 5\n", -11,
         "\a\aError: Unrecognized format: must be one of Dotted, Colon or DMC\n"
         "\a\aError: line 1: invalid Station Longitude argument: #: lon # 5\n", {}},
        {"lon\n", -11, "\a\aError: line 1: missing Station Longitude argument: lon\n", {}},
    });
}

TEST(ConfProcess, DigiPath) {
    const std::string two = bytes("WIDE1-1\0WIDE2-2\0", 16);
    run_cases({
        {"digipath WIDE1-1,WIDE2-2\n", 0, ok(1), {{off_digipath, two}}, 2},
        {"digipath wide1-1, wide2-2 # path\n", 0, ok(1), {{off_digipath, two}}, 2},
        {"digipath A,B,C,D,E,F,G,H,I,J\n", 0, ok(1),
         {{off_digipath, bytes("A\0\0\0\0\0\0\0B\0\0\0\0\0\0\0C\0\0\0\0\0\0\0D\0\0\0\0\0\0\0"
                               "E\0\0\0\0\0\0\0F\0\0\0\0\0\0\0G\0\0\0\0\0\0\0H", 57)}},
         8},
        {"digipath ABCDEFGH,relay\n", 0, ok(1), {{off_digipath, "ABCDEFGHRELAY"}}, 2},
        {"digipath WIDE1-1,WIDE2-2XX,RELAY\n", -11,
         "\a\aError: line 1: Digi Path[2]: WIDE2-2XX exceeds length 8: digipath WIDE1-1,WIDE2-2XX,RELAY\n",
         {{off_digipath, "WIDE1-1"}}, 1},
        {"digipath\n", -11, "\a\aError: line 1: missing Digi Path argument: digipath\n", {}},
        {"digipath #WIDE1-1\n", -8, "\a\aError: line 1: missing Digi Path argument: digipath #WIDE1-1\n", {}},
        // Only separators: the path is emptied and nothing is stored.
        {"digipath A,B\ndigipath , ,\n", 0, ok(2), {}, 0},
    });
}

TEST(ConfProcess, BeaconIcon) {
    run_cases({
        {"icon /#\n", 0, ok(1), {{off_icon, "#/"}}},
        {"icon \\>\n", 0, ok(1), {{off_icon, ">\\"}}},
        {"icon j~ extra\n", 0, ok(1), {{off_icon, "~j"}}},
        {"icon Z!x\n", 0, ok(1), {{off_icon, "!Z"}}},
        {"icon /\n", -8, "\a\aError: line 1: Icon Code must be in range [!..~]: icon /\n", {}},
        {"icon k>\n", -8,
         "\a\aError: line 1: Icon Symbol ID must be one of / \\ 0..9 a..j A..Z: icon k>\n", {}},
        {"icon # x\n", -8,
         "\a\aError: line 1: Icon Symbol ID must be one of / \\ 0..9 a..j A..Z: icon # x\n", {}},
        {"icon /\x7f\n", -8, "\a\aError: line 1: Icon Code must be in range [!..~]: icon /\x7f\n", {}},
        {"icon\n", -8, "\a\aError: line 1: missing Beacon Icon argument: icon\n", {}},
    });
}

TEST(ConfProcess, BeaconComment) {
    run_cases({
        {"bcomment Hello, world\n", 0, ok(1), {{off_bcomment, "Hello, world"}}},
        {"bcomment  two spaces; then a note\n", 0, ok(1), {{off_bcomment, " two spaces"}}},
        {"bcomment " + std::string(50, 'x') + "\n", 0, ok(1), {{off_bcomment, std::string(43, 'x')}}},
        {"bcomment\n", -11, "\a\aError: line 1: missing Beacon Comment argument: bcomment\n", {}},
        {"bcomment # later\n", -8, "\a\aError: line 1: missing Beacon Comment argument: bcomment # later\n", {}},
        {"bcomment First\nbcomment 2nd\n", 0, ok(2), {{off_bcomment, "2nd"}}},
    });
}

TEST(ConfProcess, LongLinesArriveInPieces) {
    // 300 characters: 255, then 45 more as line 2.
    const std::string second = "ssid 16" + std::string(38, ' ');
    const std::string long_line = "bcomment " + std::string(246, 'x') + second + "\n";
    ASSERT_EQ(long_line.size(), 301u);
    run_cases({
        {long_line, -11,
         "\a\aError: line 2: invalid SSID argument range [0..15]: 16: " + second + "\n",
         {{off_bcomment, std::string(43, 'x')}}},
        // 255 characters and then the newline: the newline is a line of its own.
        {"#" + std::string(254, 'x') + "\nssid 16\n", -11,
         "\a\aError: line 3: invalid SSID argument range [0..15]: 16: ssid 16\n", {}},
        // CR LF is read as one character, so 254 characters and CR LF still fit.
        {"#" + std::string(253, 'x') + "\r\nssid 16\r\n", -11,
         "\a\aError: line 2: invalid SSID argument range [0..15]: 16: ssid 16\n", {}},
    });
}

TEST(ConfProcess, LineNumbersDoNotWrapPast32767) {
    std::string file(32767, '\n');
    file += "ssid 16\n";
    run_cases({{file, -11,
                "\a\aError: line 32768: invalid SSID argument range [0..15]: 16: ssid 16\n", {}}});
}

TEST(ConfProcess, RuleFieldsSurviveAParse) {
    for (const uint16_t before : {uint16_t('d'), uint16_t('p'), uint16_t('x')}) {
        conf_reset();
        conf_record.rule_count = 7;
        conf_record.implicit_action = before;
        const std::string path = write_temp_file("rules-kept.cfg", "ssid 3\n");
        testing::internal::CaptureStdout();
        EXPECT_EQ(conf_process(path.c_str()), 0);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(conf_record.rule_count, 7);
        EXPECT_EQ(conf_record.implicit_action, before == 'd' ? 'd' : 'p');
    }
}

// A failed parse leaves the defaults, the earlier lines, what the failing
// line stored, and conf_processed as it was.
TEST(ConfProcess, StateAfterAFailedParse) {
    const std::string good = write_temp_file("good.cfg", "call ab1c\ndigipath A,B,C\nbeacon 0\n");
    const std::string bad = write_temp_file(
        "bad.cfg", "ssid 5\n\nposition 10:30:00 -103:15:00\ndigipath X,Y,TOOLONG99,Z\nssid 6\n");
    conf_processed = 0;
    conf_reset();

    testing::internal::CaptureStdout();
    EXPECT_EQ(conf_process(bad.c_str()), -11);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\a\aError: line 4: Digi Path[3]: TOOLONG99 exceeds length 8: digipath X,Y,TOOLONG99,Z\n");
    EXPECT_EQ(conf_processed, 0);
    expect_image(expected_image({{off_ssid, le16(5)}, {off_lat, f32(10.5f)},
                                 {off_lon, f32(-103.25f)}, {off_digipath, bytes("X\0\0\0\0\0\0\0Y", 9)}}));
    EXPECT_EQ(digipath_count, 2);

    testing::internal::CaptureStdout();
    EXPECT_EQ(conf_process(good.c_str()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), ok(3));
    EXPECT_EQ(conf_processed, 1);
    EXPECT_EQ(digipath_count, 3);

    // Nothing of the good file survives the failing one; the flag stays set.
    testing::internal::CaptureStdout();
    EXPECT_EQ(conf_process(bad.c_str()), -11);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(conf_processed, 1);
    expect_image(expected_image({{off_ssid, le16(5)}, {off_lat, f32(10.5f)},
                                 {off_lon, f32(-103.25f)}, {off_digipath, bytes("X\0\0\0\0\0\0\0Y", 9)}}));
}

TEST(ConfProcess, PathsThatCannotBeRead) {
    conf_reset();
    conf_record.ssid = 9;  // must survive every refusal below
    const int processed = conf_processed;
    const std::string dir = make_temp_dir();
    const std::string missing = dir + "/absent.cfg";
    const struct {
        const char* path;
        int rc;
        std::string out;
    } cases[] = {
        {nullptr, -1, "conf_process: Error: param rfp is invalid\n"},
        {missing.c_str(), -2, "\a\aError: cannot open " + missing + "\n"},
        {dir.c_str(), -2, "\a\aError: cannot open " + dir + "\n"},
        {"", -2, "\a\aError: cannot open \n"},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(conf_process(c.path), c.rc);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
        EXPECT_EQ(conf_record.ssid, 9);
        EXPECT_EQ(conf_processed, processed);
    }
}

// A file that opens but cannot be read (here the kernel refuses reads of
// unmapped memory) fails with its own code, never as processed.
TEST(ConfProcess, ReadFailureIsNotSuccess) {
    conf_processed = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(conf_process("/proc/self/mem"), -3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\a\aError: cannot read /proc/self/mem: Input/output error\n");
    EXPECT_EQ(conf_processed, 0);
}

}  // namespace
