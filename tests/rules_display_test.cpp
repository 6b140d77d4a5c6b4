// Rules display and the table layout: the documented eight-rule example byte
// for byte (in-process and through the real binary), the edge cases of each
// argument text, and records no parser would write.
#include "rules/rules.h"

#include "config/config.h"
#include "e2e.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cstring>
#include <string>

namespace {

const char* const example_rules =
    "# the eight rules of the manual\n"
    "implicit drop\n"
    "pass destin APRS\n"
    "pass source DIGI-5\n"
    "pass destin WX*\n"
    "drop source *\n"
    "pass circle 25 N45d30m,E9d10m\n"
    "pass compass NE N45d30m,E9d10m\n"
    "drop rectangle N46d,E8d,N45d,E10d\n"
    "pass sector 10d,80d,0 50\n";

const char* const example_display =
    "Rule count 8 plus Implicit\n"
    "\n"
    "Action Command   Mods Arguments\n"
    "Drop   Implicit \n"
    "Pass   destin    00   APRS   \n"
    "Pass   source    40   DIGI-5   \n"
    "Pass   destin    10   WX*   \n"
    "Drop   source    30   *   \n"
    "Pass   circle    00   25.000 mi R, 45.500000  D Lat, 9.16667     D Lon \n"
    "Pass   compass   00   NE Dir, 45.500000  D Lat, 9.16667     D Lon \n"
    "Drop   rectangle 00   46.000000  D Lat1, 8.00000     D Lon1, 45.000000  D Lat2, 10.00000    D Lon2\n"
    "Pass   sector    00   10.000 D Ang1, 80.000 D Ang2, 0.000 In R, 50.000 Out R\n";

class RulesDisplay : public testing::Test {
protected:
    void SetUp() override {
        conf_reset();
        rules_processed = 0;
        for (auto& r : rule_table) r.fill(0);
    }

    static void load(const std::string& content) {
        const std::string path = write_temp_file("rules.txt", content);
        testing::internal::CaptureStdout();
        const int rc = rules_process(path.c_str());
        const std::string out = testing::internal::GetCapturedStdout();
        ASSERT_EQ(rc, 0) << out;
    }

    static std::string shown() {
        testing::internal::CaptureStdout();
        rules_display();
        return testing::internal::GetCapturedStdout();
    }

    // The line of the only rule, after the three heading lines and the implicit line.
    static std::string rule_line() {
        const std::string all = shown();
        size_t pos = 0;
        for (int i = 0; i < 4; ++i) pos = all.find('\n', pos) + 1;
        return all.substr(pos);
    }

    static rule_record& one_rule(uint8_t kind, uint8_t flags) {
        conf_record.rule_count = 1;
        rule_table[0][rule_kind_offset] = kind;
        rule_table[0][rule_flags_offset] = flags;
        return rule_table[0];
    }
};

TEST_F(RulesDisplay, EightRuleExampleByteForByte) {
    load(example_rules);
    EXPECT_EQ(shown(), example_display);
}

TEST_F(RulesDisplay, ExampleThroughTheProgram) {
    const std::string good = write_temp_file("filter.txt", example_rules);
    const std::string bad = write_temp_file("bad.txt", "implicit drop\npass destin APRS\npass circle 0 N1d,E1d\n");
    const run_result r = run_qspan("rules " + good + "\ndrules\nrules " + bad + "\ndrules\n");
    const std::string prompt = "Command> ";
    EXPECT_EQ(r.out, startup_text() + prompt + "Rules processed 8, implicit 1\n" + prompt + example_display + prompt +
                         "\a\aError: " + bad + "[3]: invalid Circle Radius, must be > 0: 0.000000:\n" +
                         "pass circle 0 N1d,E1d\n" + "\a\aError: Rule processing failed\n" + prompt +
                         "No Rules are configured!  Implicit Rule Action is Drop\n" + prompt + "\n");
    EXPECT_EQ(r.status, 1);
}

TEST_F(RulesDisplay, NoRulesNamesTheImplicitAction) {
    const std::pair<uint16_t, const char*> cases[] = {{'p', "Pass"}, {'d', "Drop"}, {'x', "?"}, {0, "?"}};
    for (const auto& [action, word] : cases) {
        conf_record.implicit_action = action;
        EXPECT_EQ(shown(), std::string("No Rules are configured!  Implicit Rule Action is ") + word + "\n");
    }
}

TEST_F(RulesDisplay, ArgumentTextsFromRulesFiles) {
    const std::pair<const char*, const char*> cases[] = {
        {"pass sector 10d,80d,5\n", "Pass   sector    00   10.000 D Ang1, 80.000 D Ang2, 5.000 In R, 0.000 Out R\n"},
        {"pass destin APRS-0\n", "Pass   destin    40   APRS-0   \n"},
        {"drop source ABCDEF-15\n", "Drop   source    40   ABCDEF-15   \n"},
        {"pass destin ABCDEF\n", "Pass   destin    00   ABCDEF   \n"},
        {"drop compass sw -45.30.,9.10.\n", "Drop   compass   00   SW Dir, -45.500000 D Lat, 9.16667     D Lon \n"},
        // Single precision shows through: 45.22.64 is 45.377333 degrees.
        {"pass circle 1 45.22.64,-179:59:59\n",
         "Pass   circle    00   1.000 mi R, 45.377335  D Lat, -179.99973  D Lon \n"},
        // A radius of 10^9 needs 20 characters; it is shown whole.
        {"pass circle 1e9 N45d30m,E9d10m\n",
         "Pass   circle    00   1000000000.000 mi R, 45.500000  D Lat, 9.16667     D Lon \n"},
        {"pass sector 0d,360d,123456789012 9999999999999\n",
         "Pass   sector    00   0.000 D Ang1, 360.000 D Ang2, 123456790528.000 In R, 9999999827968.000 Out R\n"},
    };
    for (const auto& [file, line] : cases) {
        SetUp();
        load(file);
        EXPECT_EQ(rule_line(), line) << file;
    }
}

TEST_F(RulesDisplay, RecordsNoParserWrites) {
    // The action code of "implicit" lands on the prefix bit: no action, a star.
    rule_record& r = one_rule(rule_kind_destin, rule_action_implicit);
    std::memcpy(&r[rule_arg1], "APRS", 4);
    EXPECT_EQ(rule_line(), "?      destin    10   APRS*   \n");

    // A full 6-character call is bounded by its field, not by the SSID byte after it.
    std::memcpy(&r[rule_arg1], "ABCDEF", 6);
    r[rule_arg2] = 'Z';
    r[rule_flags_offset] = rule_action_pass;
    EXPECT_EQ(rule_line(), "Pass   destin    00   ABCDEF   \n");

    SetUp();
    rule_record& c = one_rule(rule_kind_compass, rule_action_drop);
    c[rule_arg1] = 9;
    EXPECT_EQ(rule_line(), "Drop   compass   00   Error Dir, 0.000000   D Lat, 0.00000     D Lon \n");

    // The largest single-precision radius: 39 digits, no overrun.
    SetUp();
    rule_put_real(one_rule(rule_kind_circle, rule_action_pass), rule_arg1, FLT_MAX);
    EXPECT_EQ(rule_line(), "Pass   circle    00   340282346638528859811704183484516925440.000 mi R, 0.000000   D Lat, "
                           "0.00000     D Lon \n");

    SetUp();
    one_rule(0x39, 0x0C);
    EXPECT_EQ(rule_line(), "?      ?         00      \n");
}

TEST_F(RulesDisplay, CountBeyondTheTableShowsOnlyTheTable) {
    conf_record.rule_count = 60;
    const std::string all = shown();
    EXPECT_EQ(all.rfind("Rule count 60 plus Implicit\n", 0), 0u);
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 4 + rule_table_capacity);
}

TEST(RulesTable, CommandNamesAndLayout) {
    EXPECT_STREQ(rule_command_name(0x32), "destin");
    EXPECT_STREQ(rule_command_name(0x33), "source");
    EXPECT_STREQ(rule_command_name(0x2F), "implicit");
    EXPECT_STREQ(rule_command_name(0x37), "sector");
    EXPECT_STREQ(rule_command_name(0x38), "?");
    EXPECT_STREQ(rule_command_name(0), "?");

    EXPECT_EQ(sizeof rule_table, 1400u);
    EXPECT_EQ(rules_image(), rule_table[0].data());
    EXPECT_EQ(rules_image() + 27 * rule_record_size, rule_table[27].data());

    // Reals are little-endian at unaligned offsets; the two bytes after them stay zero.
    rule_record r{};
    r.fill(0xAA);
    rule_put_real(r, rule_arg4, -180.0f);
    EXPECT_EQ(r[18], 0x00);
    EXPECT_EQ(r[19], 0x00);
    EXPECT_EQ(r[20], 0x34);
    EXPECT_EQ(r[21], 0xC3);
    EXPECT_EQ(r[22], 0x00);
    EXPECT_EQ(r[23], 0x00);
    EXPECT_EQ(r[17], 0xAA);
    EXPECT_EQ(r[24], 0xAA);
    EXPECT_EQ(rule_get_real(r, rule_arg4), -180.0f);
}

}  // namespace
