// The hex dump's header lines, layout, column headers and argument checks,
// printed into a memory stream.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "serial/serial.h"

namespace {

const std::string column_header =
    "Dec  Hex |  0  1  2  3  4  5  6  7    8  9  a  b  c  d  e  f | 0123456789abcdef\n";

std::string dump(int flags, const char* name, const uint8_t* buf, int length, int every) {
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    hexdump(out, flags, name, buf, length, every);
    fclose(out);
    std::string s(text, size);
    free(text);
    return s;
}

std::vector<uint8_t> counting(int n, int from = 0) {
    std::vector<uint8_t> v;
    for (int i = 0; i < n; ++i) v.push_back(uint8_t(from + i));
    return v;
}

TEST(Hexdump, LayoutCases) {
    const std::vector<uint8_t> hello = {0x48, 0x65, 0x6c, 0x6c, 0x6f, 0x0d, 0x0a};
    std::vector<uint8_t> sixteen = counting(16, 0x41);
    std::vector<uint8_t> thirty_five = counting(35, 0x20);
    std::vector<uint8_t> odd = {0x7F, 0x80, 0xFF, 0x20, 0x7E, 0x00};
    struct Case {
        const char* what;
        const std::vector<uint8_t>* bytes;
        int every;
        std::string expected;
    } cases[] = {
        {"short line", &hello, 10,
         "Got: length 7 (0x7):\n" + column_header +
             "   0 0000| 48 65 6c 6c 6f 0d 0a                              | Hello..\n"},
        {"one full line", &sixteen, 10,
         "Got: length 16 (0x10):\n" + column_header +
             "   0 0000| 41 42 43 44 45 46 47 48   49 4a 4b 4c 4d 4e 4f 50 | ABCDEFGHIJKLMNOP\n"},
        {"header every 2 lines", &thirty_five, 2,
         "Got: length 35 (0x23):\n" + column_header +
             "   0 0000| 20 21 22 23 24 25 26 27   28 29 2a 2b 2c 2d 2e 2f |  !\"#$%&'()*+,-./\n"
             "  16 0010| 30 31 32 33 34 35 36 37   38 39 3a 3b 3c 3d 3e 3f | 0123456789:;<=>?\n"
             "\n" + column_header +
             "  32 0020| 40 41 42                                          | @AB\n"},
        {"no column header", &thirty_five, 0,
         "Got: length 35 (0x23):\n"
         "   0 0000| 20 21 22 23 24 25 26 27   28 29 2a 2b 2c 2d 2e 2f |  !\"#$%&'()*+,-./\n"
         "  16 0010| 30 31 32 33 34 35 36 37   38 39 3a 3b 3c 3d 3e 3f | 0123456789:;<=>?\n"
         "  32 0020| 40 41 42                                          | @AB\n"},
        {"unprintable bytes", &odd, 10,
         "Got: length 6 (0x6):\n" + column_header +
             "   0 0000| 7f 80 ff 20 7e 00                                 | ... ~.\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(dump(1, "Got", c.bytes->data(), int(c.bytes->size()), c.every), c.expected)
            << c.what;
}

TEST(Hexdump, ShortLineKeepsTheBarInColumn61) {
    std::vector<uint8_t> bytes = counting(35, 0x30);
    std::string out = dump(3, "x", bytes.data(), 35, 0);
    size_t last = out.rfind("  32 0020|");
    ASSERT_NE(last, std::string::npos);
    EXPECT_EQ(out.substr(last + 61, 2), "| ");
    EXPECT_EQ(out.substr(last + 63), "PQR\n");
}

TEST(Hexdump, HeaderLines) {
    const uint8_t b[1] = {0x41};
    char addr[40];
    snprintf(addr, sizeof addr, "0x%016" PRIXPTR, uintptr_t(b));
    struct { int flags; const char* name; std::string first_line; } cases[] = {
        {0, nullptr, std::string("hexdump: buffer addr ") + addr + ", length 1 (0x1):\n"},
        {0, "Got", std::string("hexdump: Got: buffer addr ") + addr + ", length 1 (0x1):\n"},
        {0, "", std::string("hexdump: buffer addr ") + addr + ", length 1 (0x1):\n"},
        {1, nullptr, "hexdump: length 1 (0x1):\n"},
        {1, "Got", "Got: length 1 (0x1):\n"},
        {1, "", "length 1 (0x1):\n"},
        {3, "Got", "Got: length 1 (0x1):\n"},
        {2, "Got", "length 1 (0x1):\n"},
        {2, nullptr, "length 1 (0x1):\n"},
        {4, "Got", ""},
    };
    const std::string line = "   0 0000| 41                                                | A\n";
    for (const auto& c : cases)
        EXPECT_EQ(dump(c.flags, c.name, b, 1, 0), c.first_line + line) << c.flags;
}

TEST(Hexdump, EmptyBufferAndBadArguments) {
    const uint8_t b[1] = {0};
    EXPECT_EQ(dump(1, "Got", b, 0, 10), "Got: length 0 (0x0):\n");
    EXPECT_EQ(dump(1, "Got", nullptr, 4, 10), "hexdump: invalid param buf ptr\n");
    EXPECT_EQ(dump(1, "Got", b, -1, 10), "hexdump: invalid param len -1\n");
    hexdump(nullptr, 1, "Got", b, 1, 10);  // nothing anywhere, no crash
}

TEST(Hexdump, LongBuffersWidenOffsetsWithoutOverrun) {
    std::vector<uint8_t> big(70000, 0x2e);
    std::string out = dump(1, nullptr, big.data(), int(big.size()), 0);
    EXPECT_NE(out.find("\n9984 2700| "), std::string::npos);
    EXPECT_NE(out.find("\n69984 11160| 2e"), std::string::npos);
}

}  // namespace
