// Rules file parser: one table of single-line files (message, result and the
// record image), then the bookkeeping of whole loads: limits, implicit
// settings, line numbering and the state left after each kind of failure.
#include "rules/rules.h"

#include "config/config.h"
#include "e2e.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

struct load_result {
    int rc;
    std::string out;
    std::string path;
};

load_result load_path(const std::string& path) {
    testing::internal::CaptureStdout();
    const int rc = rules_process(path.c_str());
    return {rc, testing::internal::GetCapturedStdout(), path};
}

load_result load(const std::string& content) { return load_path(write_temp_file("filter.txt", content)); }

std::string fault(const std::string& path, int line, const std::string& text, const std::string& copy) {
    return "\a\aError: " + path + "[" + std::to_string(line) + "]: " + text + ":\n" + copy + "\n";
}

// Arguments in 6-byte groups, then kind, flags and the line bytes.
std::string hex(const rule_record& rec) {
    std::string s;
    char b[3];
    for (int i = 0; i < rule_record_size; ++i) {
        if (i == 6 || i == 12 || i == 18 || i == 24 || i == 25 || i == 26) s += ' ';
        std::snprintf(b, sizeof b, "%02x", rec[i]);
        s += b;
    }
    return s;
}

class RulesParse : public testing::Test {
protected:
    void SetUp() override {
        conf_reset();
        rules_processed = 0;
        for (auto& r : rule_table) r.fill(0);
    }
};

struct line_case {
    const char* line;    // the whole file is this line and a line feed
    int rc;
    const char* expect;  // record image for a rule, else the fault text
    const char* before;  // what the angle parser printed first, if anything
};

constexpr const char* zero6 = "000000000000";
#define ZERO3 "000000000000 000000000000 000000000000"

const line_case line_cases[] = {
    // Calls: every form, and word matching of action and command.
    {"pass destin APRS", 0, "415052530000 " ZERO3 " 32 08 0100", ""},
    {"PASS DST APRS", 0, "415052530000 " ZERO3 " 32 08 0100", ""},
    {"pa de APRS", 0, "415052530000 " ZERO3 " 32 08 0100", ""},
    {"drop src aprs", 0, "617072730000 " ZERO3 " 33 04 0100", ""},
    {"pass source DIGI-5", 0, "444947490000 050000000000 000000000000 000000000000 33 48 0100", ""},
    {"drop source *", 0, "000000000000 " ZERO3 " 33 34 0100", ""},
    {"drop source *XYZ-3", 0, "000000000000 " ZERO3 " 33 34 0100", ""},
    {"pass destin WX*", 0, "575800000000 " ZERO3 " 32 18 0100", ""},
    {"pass destin AB*-3", 0, "414200000000 " ZERO3 " 32 18 0100", ""},
    {"pass destin ABCDEF", 0, "414243444546 " ZERO3 " 32 08 0100", ""},
    {"pass destin ABCDEF-15", 0, "414243444546 0f0000000000 000000000000 000000000000 32 48 0100", ""},
    {"pass destin APRS-", 0, "415052530000 " ZERO3 " 32 48 0100", ""},
    {"pass destin -5", 0, "000000000000 050000000000 000000000000 000000000000 32 48 0100", ""},
    {"pass destin APRS ; note", 0, "415052530000 " ZERO3 " 32 08 0100", ""},
    {"pass destin APRS;note", 0, "415052530000 " ZERO3 " 32 08 0100", ""},
    {"\tpass,destin,APRS,extra words", 0, "415052530000 " ZERO3 " 32 08 0100", ""},
    // Call faults.
    {"pass destin APRS-16", rules_bad_ssid, "invalid SSID range [0..15]: 16", ""},
    {"pass destin APRS--1", rules_bad_ssid, "invalid SSID range [0..15]: -1", ""},
    {"pass destin APRS-99999999999999999999", rules_bad_ssid, "invalid SSID range [0..15]: 2147483647", ""},
    {"pass destin ABCDEFG-1", rules_call_too_long, "Destination is too long: ABCDEFG", ""},
    {"pass destin ABCDEFGH*", rules_call_too_long, "Destination is too long: ABCDEFGH", ""},
    {"pass source ABCDEFGHIJ", rules_call_too_long, "Source is too long: ABCDEFGHIJ", ""},
    {"pass destin", rules_missing_argument, "missing Destination", ""},
    {"pass destin ; APRS", rules_missing_argument, "missing Destination string", ""},
    {"pass source", rules_missing_argument, "missing Source", ""},
    {"pass src # DIGI", rules_missing_argument, "missing Source string", ""},
    // Action and command words.
    {"foo destin APRS", rules_action_invalid, "action foo invalid", ""},
    {"passes destin APRS", rules_action_invalid, "action passes invalid", ""},
    {"implicit destin APRS", rules_action_invalid, "action implicit invalid", ""},
    {"imp circle 25 N45d,E9d", rules_action_invalid, "action imp invalid", ""},
    {"pass", rules_missing_arguments, "missing arguments", ""},
    {"pass  \t", rules_missing_arguments, "missing arguments", ""},
    {"pass ;destin APRS", rules_missing_command, "missing command", ""},
    {"pass d APRS", rules_ambiguous_command, "Ambiguous command: d", ""},
    {"pass S APRS", rules_ambiguous_command, "Ambiguous command: S", ""},
    {"pass c 1 N1d,E1d", rules_ambiguous_command, "Ambiguous command: c", ""},
    {"pass destination APRS", rules_command_invalid, "command destination invalid", ""},
    {"pass xyz", rules_command_invalid, "command xyz invalid", ""},
    // Circle.
    {"pass circle 25 N45d30m,E9d10m", 0, "0000c8410000 000036420000 abaa12410000 000000000000 34 08 0100", ""},
    {"pass circle 0.001\tN45d30m\tE9d10m#x", 0,
     "6f12833a0000 000036420000 abaa12410000 000000000000 34 08 0100", ""},
    {"pass circle 25 -90d,-180d", 0, "0000c8410000 0000b4c20000 000034c30000 000000000000 34 08 0100", ""},
    {"pass circle 0 N45d,E9d", rules_bad_radius, "invalid Circle Radius, must be > 0: 0.000000", ""},
    {"pass circle -3 N45d,E9d", rules_bad_radius, "invalid Circle Radius, must be > 0: -3.000000", ""},
    {"pass circle inf N45d,E9d", rules_bad_radius, "invalid Circle Radius, must be > 0: 0.000000", ""},
    {"pass circle 1e39 N45d,E9d", rules_bad_radius,
     "invalid Circle Radius, must be > 0: 999999999999999939709166371603178586112.000000", ""},
    {"pass circle", rules_missing_argument, "missing Radius", ""},
    {"pass circle 25", rules_missing_argument, "missing Latitude", ""},
    {"pass circle 25;x N45d,E9d", rules_missing_argument, "missing Latitude", ""},
    {"pass circle 25 N45d30m", rules_missing_argument, "missing Longitude", ""},
    {"pass circle 25 N45d,;E9d", rules_missing_argument, "missing Longitude", ""},
    {"pass circle 25 N45d30m E9d10m", rules_bad_latitude,
     "invalid Latitude range [-90..90]: 340282346638528859811704183484516925440.000000",
     "\a\aError: DMC format: already have degrees (45.000000)\n"},
    {"pass circle 25 N90.5d,E9d", rules_bad_latitude, "invalid Latitude range [-90..90]: 90.500000", ""},
    {"pass circle 25 N45d,W180.5d", rules_bad_longitude, "invalid Longitude range [-180..180]: -180.500000", ""},
    // Compass.
    {"pass compass NE N45d30m,E9d10m", 0, "020000000000 000036420000 abaa12410000 000000000000 35 08 0100", ""},
    {"drop compass sw 45:30:00,9:10:00", 0, "060000000000 000036420000 abaa12410000 000000000000 35 04 0100", ""},
    {"pass compass north N45d,E9d", rules_bad_direction, "invalid compass Direction north", ""},
    {"pass compass", rules_missing_argument, "missing Compass Direction", ""},
    {"pass compass N", rules_missing_argument, "missing Latitude", ""},
    {"pass compass N -91d,E9d", rules_bad_latitude, "invalid Latitude range [-90..90]: -91.000000", ""},
    // Rectangle.
    {"drop rectangle N46d,E8d,N45d,E10d", 0, "000038420000 000000410000 000034420000 000020410000 36 04 0100", ""},
    {"drop rectangle 90d,180d,-90d,-180d; world", 0,
     "0000b4420000 000034430000 0000b4c20000 000034c30000 36 04 0100", ""},
    // The last longitude runs up to the comment mark, blank included, and a
    // DMC angle must end with a letter.
    {"drop rectangle 90d,180d,-90d,-180d ; world", rules_bad_longitude,
     "invalid Longitude2 range [-180..180]: 340282346638528859811704183484516925440.000000",
     "\a\aInternal Error: pointer mismatch\n"},
    {"drop rectangle N46d,E8d,N45d", rules_missing_argument, "missing Longitude2", ""},
    {"drop rectangle N46d", rules_missing_argument, "missing Longitude1", ""},
    {"drop rectangle N46d,E8d", rules_missing_argument, "missing Latitude2", ""},
    {"drop rectangle", rules_missing_argument, "missing Latitude1", ""},
    {"drop rectangle 91d,E8d,N45d,E10d", rules_bad_latitude, "invalid Latitude1 range [-90..90]: 91.000000", ""},
    {"drop rectangle N46d,181d,N45d,E10d", rules_bad_longitude,
     "invalid Longitude1 range [-180..180]: 181.000000", ""},
    {"drop rectangle N46d,E8d,S91d,E10d", rules_bad_latitude, "invalid Latitude2 range [-90..90]: -91.000000", ""},
    {"drop rectangle N46d,E8d,N45d,W181d", rules_bad_longitude,
     "invalid Longitude2 range [-180..180]: -181.000000", ""},
    // Sector.
    {"pass sector 10d,80d,0 50", 0, "000020410000 0000a0420000 000000000000 000048420000 37 08 0100", ""},
    {"pass sector 0d,360d,5", 0, "000000000000 0000b4430000 0000a0400000 000000000000 37 08 0100", ""},
    {"pass sector 10d,80d,5 ; 9", 0, "000020410000 0000a0420000 0000a0400000 000000000000 37 08 0100", ""},
    {"pass sector 10d,80d,5 5", rules_bad_outer_range, "invalid Outer Range, must be > Inner Range: 5.000000", ""},
    {"pass sector 10d,80d,0.1 0.1", rules_bad_outer_range,
     "invalid Outer Range, must be > Inner Range: 0.100000", ""},
    {"pass sector 10d,80d,.5 9", rules_bad_inner_range, "invalid or missing Inner Range", ""},
    {"pass sector 10d,80d,-1 9", rules_bad_inner_range, "invalid or missing Inner Range", ""},
    {"pass sector 10d,80d,1e39", rules_bad_inner_range, "invalid or missing Inner Range", ""},
    {"pass sector 10d,80d", rules_missing_argument, "missing Inner Range", ""},
    {"pass sector 10d", rules_missing_argument, "missing Angle2", ""},
    {"pass sector", rules_missing_argument, "missing Angle1", ""},
    {"pass sector -10d,80d,0", rules_bad_angle, "invalid Angle1, range [0..360]: -10.000000", ""},
    {"pass sector 10d,361d,0", rules_bad_angle,
     "invalid Angle2, range [0..360]: 340282346638528859811704183484516925440.000000",
     "\a\aError: deg 361.000000 is out of range [-180..180]\n"},
};

TEST_F(RulesParse, EachLineGivesItsRecordOrItsFault) {
    for (const line_case& c : line_cases) {
        SetUp();
        const load_result r = load(std::string(c.line) + "\n");
        EXPECT_EQ(r.rc, c.rc) << c.line;
        if (c.rc == 0) {
            EXPECT_EQ(r.out, "Rules processed 1, implicit 0\n") << c.line;
            EXPECT_EQ(hex(rule_table[0]), c.expect) << c.line;
            EXPECT_EQ(conf_record.rule_count, 1) << c.line;
            EXPECT_EQ(rules_processed, 1) << c.line;
        } else {
            EXPECT_EQ(r.out, c.before + fault(r.path, 1, c.expect, c.line)) << c.line;
            EXPECT_EQ(conf_record.rule_count, 0) << c.line;
            EXPECT_EQ(rules_processed, 0) << c.line;
        }
        EXPECT_EQ(hex(rule_table[1]), std::string(zero6) + " " ZERO3 " 00 00 0000") << c.line;
    }
}

struct implicit_case {
    const char* file;
    uint16_t action;
    int implicits;
};

const implicit_case implicit_cases[] = {
    {"", 'p', 0},
    {"# only a comment\n\n; another\n/ and another\n   \n", 'p', 0},
    {"implicit drop\n", 'd', 1},
    {"implicit drop\npass pass\n", 'p', 2},
    {"drop implicit\n", 'd', 1},
    {"pass drop\n", 'd', 1},
    {"implicit implicit\n", 'p', 1},
    {"pass implicit\n", 'p', 1},
    {"implicit pass\n", 'p', 1},
    {"dr dr whatever follows\n", 'd', 1},
    {"drop i\npass destin APRS\n", 'd', 1},
};

TEST_F(RulesParse, ImplicitSettingsLastOneWins) {
    for (const implicit_case& c : implicit_cases) {
        SetUp();
        const load_result r = load(c.file);
        ASSERT_EQ(r.rc, 0) << c.file << r.out;
        const int rules = conf_record.rule_count;
        EXPECT_EQ(r.out, "Rules processed " + std::to_string(rules) + ", implicit " + std::to_string(c.implicits) +
                             "\n")
            << c.file;
        EXPECT_EQ(conf_record.implicit_action, c.action) << c.file;
    }
}

std::string rule_lines(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += "pass destin C" + std::to_string(i) + "\n";
    return s;
}

TEST_F(RulesParse, FiftyEntriesLoadAndTheNextIsRefused) {
    load_result r = load(rule_lines(50));
    ASSERT_EQ(r.rc, 0) << r.out;
    EXPECT_EQ(r.out, "Rules processed 50, implicit 0\n");
    EXPECT_EQ(conf_record.rule_count, 50);
    EXPECT_EQ(hex(rule_table[49]), "433439000000 " ZERO3 " 32 08 3200");
    // The image is the table itself, record after record.
    EXPECT_EQ(rules_image()[49 * rule_record_size + 26], 50);

    r = load(rule_lines(50) + "pass destin ONEMORE\n");
    EXPECT_EQ(r.rc, rules_limit_exceeded);
    EXPECT_EQ(r.out, fault(r.path, 51, "rule limit (50) exceeded", "pass destin ONEMORE"));

    // An implicit setting takes one of the places; the limit comes before the
    // command is even matched.
    r = load(rule_lines(49) + "implicit drop\npass nonsense\n");
    EXPECT_EQ(r.rc, rules_limit_exceeded);
    EXPECT_EQ(r.out, fault(r.path, 51, "rule limit (50) exceeded", "pass nonsense"));
    EXPECT_EQ(conf_record.implicit_action, 'd');
    EXPECT_EQ(conf_record.rule_count, 0);
}

TEST_F(RulesParse, CommentAndBlankLinesAreCounted) {
    const load_result r = load("# header\n\n; x\npass destin A\n   \n\tpass circle 0 N45d,E9d\n");
    EXPECT_EQ(r.rc, rules_bad_radius);
    EXPECT_EQ(r.out, fault(r.path, 6, "invalid Circle Radius, must be > 0: 0.000000", "\tpass circle 0 N45d,E9d"));
    EXPECT_EQ(rule_get_line(rule_table[0]), 4);
}

TEST_F(RulesParse, LineEndsAndLongLines) {
    // CR LF is one line end, also when the CR is the 255th character read.
    std::string l254 = "pass destin APRS" + std::string(254 - 16, ' ');
    load_result r = load("pass destin CRLF\r\n" + l254 + "\r\npass destin LAST");
    ASSERT_EQ(r.rc, 0) << r.out;
    EXPECT_EQ(conf_record.rule_count, 3);
    EXPECT_EQ(hex(rule_table[0]), "43524c460000 " ZERO3 " 32 08 0100");
    EXPECT_EQ(rule_get_line(rule_table[2]), 3);

    // Only the CR right before the LF belongs to the line end.
    r = load("pass destin A\r\r\n");
    ASSERT_EQ(r.rc, 0) << r.out;
    EXPECT_EQ(hex(rule_table[0]), "410d00000000 " ZERO3 " 32 08 0100");

    // 255 characters fill the buffer: the line feed comes as a blank line of its own.
    std::string l255 = "pass destin APRS" + std::string(255 - 16, ' ');
    r = load(l255 + "\npass circle 0 N1d,E1d\n");
    EXPECT_EQ(r.rc, rules_bad_radius);
    EXPECT_EQ(r.out, fault(r.path, 3, "invalid Circle Radius, must be > 0: 0.000000", "pass circle 0 N1d,E1d"));

    // A longer line is cut into numbered pieces, each read as a line.
    r = load(std::string(255, '#') + "pass destin TAIL\n");
    ASSERT_EQ(r.rc, 0) << r.out;
    EXPECT_EQ(rule_get_line(rule_table[0]), 2);
}

TEST_F(RulesParse, FailedLoadRemovesEarlierRulesAndKeepsImplicitSoFar) {
    ASSERT_EQ(load("implicit drop\npass destin APRS\n").rc, 0);
    ASSERT_EQ(conf_record.rule_count, 1);

    const load_result r = load("implicit drop\npass destin OK\npass destin TOOLONGCALL\npass destin X\n");
    EXPECT_EQ(r.rc, rules_call_too_long);
    EXPECT_EQ(conf_record.rule_count, 0);
    EXPECT_EQ(conf_record.implicit_action, 'd');
    EXPECT_EQ(rules_processed, 0);

    // Each load starts from pass.
    ASSERT_EQ(load("pass destin APRS\n").rc, 0);
    EXPECT_EQ(conf_record.implicit_action, 'p');
    EXPECT_EQ(rules_processed, 1);
}

TEST_F(RulesParse, FilesThatCannotBeReadLeaveEverythingAsItWas) {
    ASSERT_EQ(load("implicit drop\npass destin APRS\n").rc, 0);
    const rule_record kept = rule_table[0];

    testing::internal::CaptureStdout();
    EXPECT_EQ(rules_process(nullptr), rules_bad_param);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "rules_process: Error: param rfp is invalid\n");

    const std::string dir = make_temp_dir();
    for (const std::string& path : {dir + "/absent.txt", dir}) {
        const load_result r = load_path(path);
        EXPECT_EQ(r.rc, rules_cannot_open) << path;
        EXPECT_EQ(r.out, "\a\aError: cannot open " + path + "\n");
    }
    EXPECT_EQ(conf_record.rule_count, 1);
    EXPECT_EQ(conf_record.implicit_action, 'd');
    EXPECT_EQ(rules_processed, 1);
    EXPECT_EQ(rule_table[0], kept);
}

TEST_F(RulesParse, AReadErrorIsAFailureNotAnEmptyFile) {
    // Reading the first page of a process's own memory fails with EIO.
    std::FILE* probe = std::fopen("/proc/self/mem", "r");
    if (probe == nullptr) GTEST_SKIP() << "/proc/self/mem cannot be opened here";
    std::fclose(probe);
    ASSERT_EQ(load("pass destin APRS\n").rc, 0);
    const load_result r = load_path("/proc/self/mem");
    EXPECT_EQ(r.rc, rules_read_failed);
    EXPECT_EQ(r.out, "\a\aError: cannot read /proc/self/mem after line 0\n");
    EXPECT_EQ(conf_record.rule_count, 0);
    EXPECT_EQ(rules_processed, 0);
}

TEST_F(RulesParse, ExampleFileLoads) {
    const load_result r = load_path(source_dir + "/examples/filter.txt");
    ASSERT_EQ(r.rc, 0) << r.out;
    EXPECT_EQ(r.out.rfind("Rules processed ", 0), 0u) << r.out;
    EXPECT_GE(conf_record.rule_count, 10);
}

}  // namespace
