// Number conversions shared by the file parsers and the angle parser.
//
// Each reads the longest leading text that forms a number and stops silently
// at the first character that cannot continue it; text without digits reads
// as 0 and `end` then points at the start of the text. Integers clamp to the
// 32-bit range instead of overflowing, so huge numbers fail range checks.
#pragma once

#include <cstdint>

struct parsed_int {
    int32_t value;
    const char* end;  // first character after the number
};

struct parsed_real {
    double value;
    const char* end;
};

// Leading blanks and tabs, one optional sign, decimal digits.
parsed_int parse_decimal_int(const char* text);

// As parse_decimal_int, but "0x"/"0X" introduces hexadecimal digits and a
// leading "0" octal digits.
parsed_int parse_prefixed_int(const char* text);

// Leading blanks and tabs, optional sign, digits, optional point and
// fraction, optional exponent. No "inf", "nan" or hexadecimal forms.
parsed_real parse_decimal_value(const char* text);
