// Offset / hex / characters listing of a byte buffer, 16 bytes per line,
// each line built in a bounded buffer before it is printed. The layout needs
// 81 characters up to offset 9999; the buffer has room for the widest offset
// an int can give, so a long buffer widens its lines instead of overrunning.
#include "serial/serial.h"

#include <cinttypes>
#include <cstdio>

namespace {

constexpr const char* column_header =
    "Dec  Hex |  0  1  2  3  4  5  6  7    8  9  a  b  c  d  e  f | 0123456789abcdef\n";

void print_header_line(FILE* out, int flags, const char* name, const uint8_t* buf, int length) {
    const char* sep = name != nullptr && name[0] != '\0' ? ": " : "";
    if (flags == 0 && name == nullptr) {
        // Pointers print as upper-case hex digits behind the "0x".
        fprintf(out, "hexdump: buffer addr 0x%016" PRIXPTR ", length %d (0x%x):\n",
                uintptr_t(buf), length, unsigned(length));
    } else if (flags == 0) {
        fprintf(out, "hexdump: %s%sbuffer addr 0x%016" PRIXPTR ", length %d (0x%x):\n", name, sep,
                uintptr_t(buf), length, unsigned(length));
    } else if ((flags & 1) != 0 && name == nullptr) {
        fprintf(out, "hexdump: length %d (0x%x):\n", length, unsigned(length));
    } else if ((flags & 1) != 0) {
        fprintf(out, "%s%slength %d (0x%x):\n", name, sep, length, unsigned(length));
    } else if ((flags & 2) != 0) {
        fprintf(out, "length %d (0x%x):\n", length, unsigned(length));
    }
}

// One line of up to 16 bytes at the offset; the bar stays in column 61 even
// when the line is short.
void print_line(FILE* out, const uint8_t* bytes, int count, int offset) {
    char line[96];
    int pos = snprintf(line, sizeof line, "%4d %04x| ", offset, unsigned(offset));
    for (int i = 0; i < 16; ++i) {
        if (i == 8) pos += snprintf(line + pos, sizeof line - pos, "  ");
        if (i < count)
            pos += snprintf(line + pos, sizeof line - pos, "%02x ", bytes[i]);
        else
            pos += snprintf(line + pos, sizeof line - pos, "   ");
    }
    pos += snprintf(line + pos, sizeof line - pos, "| ");
    for (int i = 0; i < count; ++i) line[pos++] = bytes[i] >= 0x20 && bytes[i] <= 0x7E ? char(bytes[i]) : '.';
    line[pos++] = '\n';
    line[pos] = '\0';
    fputs(line, out);
}

}  // namespace

void hexdump(FILE* stream, int flags, const char* name, const uint8_t* buf, int length,
             int header_every) {
    if (stream == nullptr) return;
    if (buf == nullptr) {
        fprintf(stream, "hexdump: invalid param buf ptr\n");
        return;
    }
    if (length < 0) {
        fprintf(stream, "hexdump: invalid param len %d\n", length);
        return;
    }
    print_header_line(stream, flags, name, buf, length);
    int lines = 0;
    for (int offset = 0; offset < length; offset += 16, ++lines) {
        if (header_every != 0 && lines % header_every == 0)
            fprintf(stream, lines == 0 ? "%s" : "\n%s", column_header);
        int count = length - offset < 16 ? length - offset : 16;
        print_line(stream, buf + offset, count, offset);
    }
}
