// Intel HEX verifier: hexval and inhexsum conversions, every verifier fault
// with its message and code, line numbering, line ends, and files written by
// real HEX tools (objcopy, srec_cat) at build time.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e.h"
#include "firmware/firmware.h"

namespace {

const std::string committed_fixtures = source_dir + "/tests/fixtures/firmware/";
const std::string built_fixtures = std::string(QSPAN_BINARY_DIR) + "/tests/fixtures/firmware/";

struct verified {
    int result;
    std::string out;
};

verified verify_path(const std::string& path) {
    FILE* fp = fopen(path.c_str(), "r");
    if (fp == nullptr) return {-100, "cannot open " + path};
    testing::internal::CaptureStdout();
    int result = inhexverify(fp);
    std::string out = testing::internal::GetCapturedStdout();
    fclose(fp);
    return {result, out};
}

verified verify_text(const std::string& content) {
    return verify_path(write_temp_file("image.hex", content));
}

std::string with_crlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

TEST(Hexval, ConvertsLikeTheDeviceToolsDid) {
    struct {
        const char* text;
        int count;
        int value;
    } cases[] = {
        {"1f", 2, 0x1f},   {"Ab", 2, 0xab},  {" 7", 2, 7},      {"\t-F", 3, -15},
        {"+a", 2, 10},     {"-1", 2, -1},    {"1g", 2, 1},      {"g1", 2, 0},
        {"123", 2, 0x12},  {"5", 2, 5},      {"", 2, 0},        {"ff", 0, 0},
        {nullptr, 2, 0},   {"  ", 2, 0},     {"7fffffff", 8, 0x7fffffff},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hexval(c.text, c.count), c.value) << (c.text ? c.text : "(null)") << " " << c.count;
}

TEST(Inhexsum, SumsPairsModulo256) {
    EXPECT_EQ(inhexsum("00000001FF"), 0);
    EXPECT_EQ(inhexsum("A5"), 0xa5);
    EXPECT_EQ(inhexsum("FFFF"), 0xfe);
    EXPECT_EQ(inhexsum("0102030"), 6);  // the odd last digit counts alone
    EXPECT_EQ(inhexsum("-1"), 0xff);    // a negative pair adds its two's complement
    EXPECT_EQ(inhexsum(""), 0);
    EXPECT_EQ(inhexsum(nullptr), 0);
}

TEST(Inhexverify, RejectsNullFile) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(inhexverify(nullptr), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "inhexverify: Error: param fp is invalid\n");
}

// Each fault, in the order the checks run, with the line it names.
TEST(Inhexverify, ReportsEachFaultWithItsLine) {
    const std::string eof = ":00000001FF\n";
    struct {
        const char* name;
        std::string content;
        int result;
        std::string out;
    } cases[] = {
        {"end record alone", eof, 1, ""},
        {"lower case digits", ":10000000000102030405060708090a0b0c0d0e0f78\n" + eof, 2, ""},
        {"type 04 at unaligned offset", ":02000204000AEE\n" + eof, 2, ""},
        {"type 05 at unaligned offset", ":04000305000000F103\n" + eof, 2, ""},
        {"lines after the end record", eof + ":0400000001020304F2\n", 2, ""},
        {"checksum residue", ":0400100001020304E1\n", -2,
         "\a\aError: checksum mismatch (0xff) for line 1 in Firmware file!\n"},
        {"truncated record", ":1000000000010203040506\n", -2,
         "\a\aError: checksum mismatch (0x25) for line 1 in Firmware file!\n"},
        {"type 06", ":020020060102D5\n", -3,
         "\a\aError: invalid type (06) for line 1 in Firmware file!\n"},
        {"type 10", ":00000010F0\n", -3,
         "\a\aError: invalid type (10) for line 1 in Firmware file!\n"},
        {"short line shows missing type as blanks", ":\n", -3,
         "\a\aError: invalid type (  ) for line 1 in Firmware file!\n"},
        {"negative length field", ":-100000001\n", -4,
         "\a\aError: invalid record length (65535) for line 1 in Firmware file!\n"},
        {"extra character", ":00000001FF0\n", -4,
         "\a\aError: invalid record length (0) for line 1 in Firmware file!\n"},
        {"data offset 0002", "# c\n:0400020001020304F0\n", -6,
         "\a\aError: data record offset boundary error for line 2 in Firmware file!\n"},
        {"empty file", "", -7, "\a\aError: Firmware file is empty!\n"},
        {"no record line", "# only\n\n  :00000001FF\n", -7,
         "\a\aError: Firmware file is empty!\n"},
    };
    for (const auto& c : cases) {
        verified v = verify_text(c.content);
        EXPECT_EQ(v.result, c.result) << c.name;
        EXPECT_EQ(v.out, c.out) << c.name;
    }
}

TEST(Inhexverify, AcceptsEveryAlignedDataOffset) {
    for (char digit : std::string("048Cc")) {
        std::string offset = std::string("000") + digit;
        int sum = 4 + hexval(offset.c_str(), 2) + hexval(offset.c_str() + 2, 2);
        char line[32];
        snprintf(line, sizeof line, ":04%s0000000000%02X\n", offset.c_str(), (0x100 - sum) & 0xff);
        EXPECT_EQ(verify_text(line).result, 1) << line;
    }
    for (char digit : std::string("1235679aBdEf")) {
        std::string offset = std::string("000") + digit;
        int sum = 4 + hexval(offset.c_str(), 2) + hexval(offset.c_str() + 2, 2);
        char line[32];
        snprintf(line, sizeof line, ":04%s0000000000%02X\n", offset.c_str(), (0x100 - sum) & 0xff);
        EXPECT_EQ(verify_text(line).result, -6) << line;
    }
}

// Committed hand-made files, one per fault.
TEST(Inhexverify, HandMadeBrokenFiles) {
    struct {
        const char* file;
        int result;
        const char* out;
    } cases[] = {
        {"bad_checksum.hex", -2, "\a\aError: checksum mismatch (0xa5) for line 3 in Firmware file!\n"},
        {"bad_type.hex", -3, "\a\aError: invalid type (06) for line 2 in Firmware file!\n"},
        {"bad_length.hex", -4,
         "\a\aError: invalid record length (16) for line 1 in Firmware file!\n"},
        {"too_long.hex", -5, "\a\aError: record length > 128 (129) for line 1 in Firmware file!\n"},
        {"bad_offset.hex", -6,
         "\a\aError: data record offset boundary error for line 1 in Firmware file!\n"},
        {"comments_only.hex", -7, "\a\aError: Firmware file is empty!\n"},
        {"empty.hex", -7, "\a\aError: Firmware file is empty!\n"},
    };
    for (const auto& c : cases) {
        verified v = verify_path(committed_fixtures + c.file);
        EXPECT_EQ(v.result, c.result) << c.file;
        EXPECT_EQ(v.out, c.out) << c.file;
    }
}

TEST(Inhexverify, CrLfAndLfGiveTheSameResult) {
    const std::string text = "; image\n:0400000001020304F2\n\n:0400040005060708DE\n:00000001FF\n";
    EXPECT_EQ(verify_text(text).result, 3);
    EXPECT_EQ(verify_text(with_crlf(text)).result, 3);
    const std::string bad = "; image\n\n:0400020001020304F0\n";
    verified lf = verify_text(bad), crlf = verify_text(with_crlf(bad));
    EXPECT_EQ(lf.result, -6);
    EXPECT_EQ(crlf.result, -6);
    EXPECT_EQ(lf.out, crlf.out);
    EXPECT_NE(lf.out.find("line 3 "), std::string::npos);
}

// Lines longer than 511 characters are read as several lines, and numbered so.
TEST(Inhexverify, LongLinesCountAsSeveralLines) {
    const std::string bad = ":0400020001020304F0\n";
    verified v = verify_text("#" + std::string(599, 'x') + "\n" + bad);  // 2 pieces
    EXPECT_EQ(v.out, "\a\aError: data record offset boundary error for line 3 in Firmware file!\n");
    v = verify_text("#" + std::string(510, 'x') + "\n" + bad);  // 511, then an empty piece
    EXPECT_EQ(v.out, "\a\aError: data record offset boundary error for line 3 in Firmware file!\n");
    v = verify_text("#" + std::string(509, 'x') + "\n" + bad);  // fits in one piece
    EXPECT_EQ(v.out, "\a\aError: data record offset boundary error for line 2 in Firmware file!\n");
}

TEST(Inhexverify, RewindsBeforeReading) {
    std::string path = write_temp_file("image.hex", ":0400000001020304F2\n:00000001FF\n");
    FILE* fp = fopen(path.c_str(), "r");
    ASSERT_NE(fp, nullptr);
    char skip[64];
    ASSERT_NE(fgets(skip, sizeof skip, fp), nullptr);
    EXPECT_EQ(inhexverify(fp), 2);
    EXPECT_EQ(inhexverify(fp), 2);
    fclose(fp);
}

// A directory opens for reading on POSIX but every read fails: never a pass.
TEST(Inhexverify, ReadFailureIsAnError) {
    verified v = verify_path(make_temp_dir());
    EXPECT_EQ(v.result, fw_read_error);
    EXPECT_EQ(v.out.rfind("\a\aError: cannot read Firmware file: ", 0), 0u) << v.out;
}

TEST(Inhexverify, FilesFromRealHexTools) {
    // objcopy: 600 bytes in 16-byte records with CR LF ends, and the end record.
    verified v = verify_path(built_fixtures + "image16.hex");
    EXPECT_EQ(v.result, 39);
    EXPECT_EQ(v.out, "");
    if (!std::filesystem::exists(built_fixtures + "image128.hex"))
        GTEST_SKIP() << "srec_cat was not available at build time";
    // srec_cat: 128-byte records across a 64 KiB boundary, with type 04 records.
    v = verify_path(built_fixtures + "image128.hex");
    EXPECT_EQ(v.result, 8);
    EXPECT_EQ(v.out, "");
}

TEST(FwReadLine, RemovesLfAndCrLfOnly) {
    std::string path = write_temp_file("lines.hex", "a\r\nb\nc\r\r\nd\re\n\nlast");
    FILE* fp = fopen(path.c_str(), "r");
    ASSERT_NE(fp, nullptr);
    char line[fw_line_size];
    std::vector<std::string> lines;
    for (long n; (n = fw_read_line(fp, line)) >= 0;) {
        EXPECT_EQ(size_t(n), strlen(line));
        lines.push_back(line);
    }
    fclose(fp);
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c\r", "d\re", "", "last"}));
}

}  // namespace
