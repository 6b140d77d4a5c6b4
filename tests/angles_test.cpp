// dmctodeg against a table of texts: value to 1e-6 and the exact message.
#include "angles/angles.h"
#include "angles/numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

namespace {

struct angle_case {
    const char* text;
    double value;         // angle_invalid when the text must be refused
    const char* message;  // everything printed, "" when silent
};

constexpr double bad = angle_invalid;

// Runs dmctodeg and returns what it printed.
std::string convert(const char* text, double& value) {
    testing::internal::CaptureStdout();
    value = dmctodeg(text);
    return testing::internal::GetCapturedStdout();
}

void expect_case(const angle_case& c) {
    SCOPED_TRACE(std::string("text \"") + (c.text ? c.text : "(null)") + "\"");
    double value = 0;
    const std::string printed = convert(c.text, value);
    EXPECT_EQ(printed, c.message);
    if (c.value == bad)
        EXPECT_EQ(value, bad);
    else
        EXPECT_NEAR(value, c.value, 1e-6);
}

const angle_case help_examples[] = {
    {"45:22:33", 45.375833333, ""},
    {"-103:00:00", -103.0, ""},
    {"-38:33:29.222", -38.558117222, ""},
    {"45:18:", 45.3, ""},
    {"45.22.64", 45.377333333, ""},
    {"-103.00.", -103.0, ""},
    {"-38.33.379", -38.556316667, ""},
    // 39 + 23.7/60 + 33.9/3600 with each part held in single precision.
    {"N 39d 23.7m 33.9c", 39.0 + double(23.7f) / 60 + double(33.9f) / 3600, ""},
    {"39d23.7m33.9C", 39.0 + double(23.7f) / 60 + double(33.9f) / 3600, ""},
    {"n39.395d 33.9c", double(39.395f) + double(33.9f) / 3600, ""},
    {"39.404415D", double(39.404415f), ""},
    {"-42.5d", -42.5, ""},
};

TEST(Dmctodeg, HelpExamplesConvert) {
    for (const auto& c : help_examples) expect_case(c);
    EXPECT_NEAR(help_examples[7].value, 39.404417, 1e-6);
}

const angle_case signs_and_directions[] = {
    {"S0d30m", -0.5, ""},
    {"-0d30m", -0.5, ""},
    {"-0:30:00", -0.5, ""},
    {"-0.30.", -0.5, ""},
    {"0d30m", 0.5, ""},
    {"0:30:00", 0.5, ""},
    {"39d-5m", 38.916666667, ""},
    {"-30m", -0.5, ""},
    {"39d S", -39.0, ""},
    {"W103d", -103.0, ""},
    {"103dE", 103.0, ""},
    {"33.9c23.7m39d", 39.0 + double(23.7f) / 60 + double(33.9f) / 3600, ""},
    {"39N1d", 1.0, ""},          // number text before a direction letter is dropped
    {"+12d", 12.0, ""},
    {"45.5:10:00", 45.0 + 10.0 / 60, ""},  // fraction on colon degrees dropped
    {"10:-30:00", 9.5, ""},
    {"1 0:00:00", 1.0, ""},      // the integer reading stops at the blank
    {"39d\n", 39.0, ""},         // the scan ends at a newline
};

TEST(Dmctodeg, SignsDirectionsAndOrder) {
    for (const auto& c : signs_and_directions) expect_case(c);
}

const angle_case ranges[] = {
    {"360d", 360.0, ""},
    {"-360:00:00", -360.0, ""},
    {"360.5d", bad, "\a\aError: deg 360.500000 is out of range [-180..180]\n"},
    {"-359:60:00", bad, "\a\aError: min 60.000000 is out of range [0..59.99]\n"},
    {"10:60:00", bad, "\a\aError: min 60.000000 is out of range [0..59.99]\n"},
    {"10:59:59.9", 10.0 + 59.0 / 60 + double(59.9f) / 3600, ""},
    {"10:00:60", bad, "\a\aError: sec 60.000000 is out of range [0..59.99]\n"},
    {"10:-60:00", bad, "\a\aError: min -60.000000 is out of range [0..59.99]\n"},
    {"10d-59.5m", 10.0 - 59.5 / 60, ""},
    // Seconds are checked before minutes.
    {"70c70m", bad, "\a\aError: sec 70.000000 is out of range [0..59.99]\n"},
    {"400:00:00", bad, "\a\aError: deg 400.000000 is out of range [-180..180]\n"},
    // A degrees number past the 32-bit range saturates instead of overflowing.
    {"99999999999:00:00", bad, "\a\aError: deg 2147483648.000000 is out of range [-180..180]\n"},
    // Minutes and seconds beyond the float range become infinite and fail.
    {"0:0:1000000000000000000000000000000000000000000000000", bad,
     "\a\aError: sec inf is out of range [0..59.99]\n"},
    {"0.-1000000000000000000000000000000000000000000000000.", bad,
     "\a\aError: min -inf is out of range [0..59.99]\n"},
    {"1234567890123456789d", bad,
     "\a\aError: deg 1234567939550609408.000000 is out of range [-180..180]\n"},
};

TEST(Dmctodeg, RangeChecks) {
    for (const auto& c : ranges) expect_case(c);
}

const angle_case refusals[] = {
    {"", bad, "dmctodeg: Error: invalid param inp\n"},
    {"1-2-3", bad, "\a\aError: too man minus signs: 2: only one is allowed\n"},
    {"--5d", bad, "\a\aError: too man minus signs: 2: only one is allowed\n"},
    {"12:34", bad, "\a\aError: Colon format: must have 2 colons: [s][D]DD:MM:SS[.F*]\n"},
    {"1:2:3:4", bad, "\a\aError: Colon format: must have 2 colons: [s][D]DD:MM:SS[.F*]\n"},
    {"1:2:3.4.5", bad, "\a\aError: Colon format: too many periods: [s][D]DD:MM:SS[.F*]\n"},
    {"1:2:3d", bad, "\a\aError: Colon format: has alpha characters: [s][D]DD:MM:SS[.F*]\n"},
    {"45", bad, "\a\aError: Unrecognized format: must be one of Dotted, Colon or DMC\n"},
    {"45.5", bad,
     "\a\aError: Dotted format: must have 2 periods: [s][D]DD.MM.[F*]\n"
     "\tor DMC format must have at least one of [DdMmCc] identifiers\n"},
    {"4.5.5.", bad,
     "\a\aError: Dotted format: must have 2 periods: [s][D]DD.MM.[F*]\n"
     "\tor DMC format must have at least one of [DdMmCc] identifiers\n"},
    {"45N", bad,
     "\a\aError: DMC format must have at least one of [DdMmCc] identifiers\n"
     "\tor Dotted format: found illegal character: [s][D]DD.MM.[F*]\n"},
    {"-N39d", bad, "\a\aError: DMC format: both minus (-) and direction char N cannot be specified\n"},
    {"39d-s", bad, "\a\aError: DMC format: both minus (-) and direction char s cannot be specified\n"},
    {"w-39de", bad, "\a\aError: DMC format: both minus (-) and direction char e cannot be specified\n"},
    {"N45d W103d", bad, "\a\aError: DMC format: both direction chars N and W cannot be specified\n"},
    {"s45d e", bad, "\a\aError: DMC format: both direction chars e and s cannot be specified\n"},
    {"39d1d", bad, "\a\aError: DMC format: already have degrees (39.000000)\n"},
    {"5m1.5m", bad, "\a\aError: DMC format: already have minutes (5.000000)\n"},
    {"2.25c3C", bad, "\a\aError: DMC format: already have seconds (2.250000)\n"},
    {"39,5d", bad, "\a\aError: DMC format: invalid char: , (0x2c)\n"},
    {"abc", bad, "\a\aError: DMC format: invalid char: a (0x61)\n"},
    {"39d30", bad, "\a\aInternal Error: pointer mismatch\n"},
    {"39d ", bad, "\a\aInternal Error: pointer mismatch\n"},
    {"39d\t", bad, "\a\aInternal Error: pointer mismatch\n"},
};

TEST(Dmctodeg, RefusalsPrintOneMessage) {
    for (const auto& c : refusals) expect_case(c);
}

TEST(Dmctodeg, MissingTextIsRefused) {
    expect_case({nullptr, bad, "dmctodeg: Error: invalid param inp\n"});
}

TEST(Dmctodeg, NonAsciiByteIsAnInvalidDmcChar) {
    expect_case({"39\xb0" "d", bad, "\a\aError: DMC format: invalid char: \xb0 (0xb0)\n"});
}

// The degrees text is copied into a 20-character buffer: 19 characters fit,
// longer text is refused with its own message instead of overrunning it.
TEST(Dmctodeg, DegreesTextIsBounded) {
    expect_case({"000000000000000039.d", 39.0, ""});  // 19 characters
    expect_case({"0000000000000000039.d", bad,
                 "\a\aError: DMC format: degrees text too long: 20 characters, at most 19\n"});
    const std::string huge = std::string(5000, '1') + "d";
    expect_case({huge.c_str(), bad,
                 "\a\aError: DMC format: degrees text too long: 5000 characters, at most 19\n"});
    // Minutes and seconds are read in place and take any length.
    const std::string long_minutes = "1d" + std::string(40, '0') + "30m";
    expect_case({long_minutes.c_str(), 1.5, ""});
}

TEST(Dmctodeg, InputIsNeverModified) {
    const char* texts[] = {"N 39d 23.7m 33.9c", "45.22.64", "-38:33:29.222", "39d1d", "39d30"};
    for (const char* t : texts) {
        char copy[32];
        std::snprintf(copy, sizeof copy, "%s", t);
        double v;
        convert(copy, v);
        EXPECT_STREQ(copy, t);
    }
}

TEST(Dmctodeg, InvalidIsTheLargestFloat) {
    EXPECT_EQ(float(angle_invalid), 3.4028234663852886e38f);
    uint32_t bits;
    const float f = float(angle_invalid);
    std::memcpy(&bits, &f, sizeof bits);
    EXPECT_EQ(bits, 0x7F7FFFFFu);
}

TEST(Dmctodeg, HelpTextFollowsOutline) {
    const std::string_view t = angles_help_text;
    EXPECT_TRUE(t.starts_with("Colon, Dotted and DMC formats for Angles, Latitudes and Longitudes\n"));
    for (const char* line : {"\n\nColon format\n", "\n\nDotted format\n", "\n\nDMC format\n",
                             "\t [s]DD:MM:SS[.F*]\t\tfor Latitudes\n",
                             "\t[s]DDD:MM:SS[.F*]\t\tfor Longitudes\n",
                             "\t [s]DD.MM.[F*]\t\tfor Latitudes\n",
                             "\t[s]DDD.MM.[F*]\t\tfor Longitudes\n",
                             "45:22:33\t-103:00:00\t-38:33:29.222\t45:18:\n",
                             "45.22.64\t-103.00.\t-38.33.379\n"})
        EXPECT_NE(t.find(line), std::string_view::npos) << line;
    EXPECT_NE(t.back(), '\n');
}

// Every DMC example line of the help text converts, and its "#" comment is
// not part of the angle.
TEST(Dmctodeg, HelpTextDmcExamplesConvert) {
    const std::string_view t = angles_help_text;
    size_t pos = t.find("\n\nDMC format\n");
    ASSERT_NE(pos, std::string_view::npos);
    pos = t.find("Examples:\n", pos);
    ASSERT_NE(pos, std::string_view::npos);
    std::string rest(t.substr(pos + 10));
    int examples = 0;
    size_t start = 0;
    while (start < rest.size()) {
        size_t end = rest.find('\n', start);
        if (end == std::string::npos) end = rest.size();
        std::string line = rest.substr(start, end - start);
        start = end + 1;
        const size_t hash = line.find('#');
        ASSERT_NE(hash, std::string::npos) << line;
        std::string angle = line.substr(0, hash);
        angle.erase(0, angle.find_first_not_of('\t'));
        angle.erase(angle.find_last_not_of('\t') + 1);
        double v;
        EXPECT_EQ(convert(angle.c_str(), v), "") << angle;
        EXPECT_NE(v, angle_invalid) << angle;
        ++examples;
    }
    EXPECT_GE(examples, 5);
}

struct int_case {
    const char* text;
    int32_t decimal;
    int32_t prefixed;
    int consumed_prefixed;
};

TEST(NumberConversions, IntegersStopSilentlyAndSaturate) {
    const int_case cases[] = {
        {"15", 15, 15, 2},          {"0x0F", 0, 15, 4},        {"017", 17, 15, 3},
        {"08", 8, 0, 1},            {"0x", 0, 0, 1},            {"0xg", 0, 0, 1},
        {" \t-12abc", -12, -12, 5}, {"+7", 7, 7, 2},            {"x", 0, 0, 0},
        {"-", 0, 0, 0},             {"\v5", 0, 0, 0},           {"-0x10", 0, -16, 5},
        {"99999999999", INT32_MAX, INT32_MAX, 11},
        {"-99999999999", INT32_MIN, INT32_MIN, 12},
        {"-2147483648", INT32_MIN, INT32_MIN, 11},
        {"0xFFFFFFFFFFFFFFFFFFFF", 0, INT32_MAX, 22},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parse_decimal_int(c.text).value, c.decimal);
        const parsed_int p = parse_prefixed_int(c.text);
        EXPECT_EQ(p.value, c.prefixed);
        EXPECT_EQ(p.end - c.text, c.consumed_prefixed);
    }
}

TEST(NumberConversions, DecimalValues) {
    struct {
        const char* text;
        double value;
        int consumed;
    } cases[] = {
        {"22.64", 22.64, 5}, {"22.64.", 22.64, 5}, {".5", 0.5, 2},    {"5.", 5.0, 2},
        {" -1.5x", -1.5, 5}, {"1e3", 1000.0, 3},   {"1e", 1.0, 1},    {"1e+", 1.0, 1},
        {".", 0.0, 0},       {"inf", 0.0, 0},      {"nan", 0.0, 0},   {"0x10", 0.0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const parsed_real r = parse_decimal_value(c.text);
        EXPECT_DOUBLE_EQ(r.value, c.value);
        EXPECT_EQ(r.end - c.text, c.consumed);
    }
    EXPECT_TRUE(std::isinf(parse_decimal_value(std::string(400, '9').c_str()).value));
}

}  // namespace
