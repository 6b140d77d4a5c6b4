// Number conversions with explicit grammars: locale-free, no white space
// beyond blanks and tabs, and saturation instead of overflow.
#include "angles/numbers.h"

#include <cstdlib>
#include <limits>
#include <string>

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

int digit_value(char c) {
    if (is_digit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

// Reads digits of the base from p; the magnitude saturates just past the
// 32-bit range so the sign can still be applied without overflow.
parsed_int read_digits(const char* p, int base, bool negative) {
    constexpr int64_t limit = int64_t(std::numeric_limits<int32_t>::max()) + 1;
    int64_t magnitude = 0;
    while (digit_value(*p) < base) {
        magnitude = magnitude * base + digit_value(*p);
        if (magnitude > limit) magnitude = limit;
        ++p;
    }
    int64_t v = negative ? -magnitude : magnitude;
    if (v > std::numeric_limits<int32_t>::max()) v = std::numeric_limits<int32_t>::max();
    return {int32_t(v), p};
}

// Skips blanks and one sign; reports whether the sign was a minus.
const char* skip_sign(const char* p, bool& negative) {
    while (is_blank(*p)) ++p;
    negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    return p;
}

}  // namespace

parsed_int parse_decimal_int(const char* text) {
    bool negative = false;
    const char* p = skip_sign(text, negative);
    if (!is_digit(*p)) return {0, text};
    return read_digits(p, 10, negative);
}

parsed_int parse_prefixed_int(const char* text) {
    bool negative = false;
    const char* p = skip_sign(text, negative);
    if (!is_digit(*p)) return {0, text};
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && digit_value(p[2]) < 16)
        return read_digits(p + 2, 16, negative);
    if (p[0] == '0') return read_digits(p, 8, negative);
    return read_digits(p, 10, negative);
}

parsed_real parse_decimal_value(const char* text) {
    const char* start = text;
    while (is_blank(*start)) ++start;
    const char* p = start;
    if (*p == '-' || *p == '+') ++p;
    const char* digits = p;
    while (is_digit(*p)) ++p;
    bool any = p != digits;
    if (*p == '.') {
        const char* fraction = ++p;
        while (is_digit(*p)) ++p;
        any = any || p != fraction;
    }
    if (!any) return {0.0, text};
    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        if (*q == '-' || *q == '+') ++q;
        if (is_digit(*q)) {
            while (is_digit(*q)) ++q;
            p = q;
        }
    }
    // The span is a plain decimal number, so strtod reads exactly it (and
    // rounds correctly); a huge value becomes an infinity, never UB.
    const std::string span(start, p);
    return {std::strtod(span.c_str(), nullptr), p};
}
