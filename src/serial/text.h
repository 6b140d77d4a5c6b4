// Small text helpers shared by the connection and the serial test.
#pragma once

#include <cstdint>
#include <string_view>

// Decimal integer as the device dialogue and the shell read it: blanks and
// tabs skipped, one optional sign, digits up to the first other character;
// 0 without digits. Stays within the view and clamps instead of overflowing.
inline int32_t parse_decimal(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        if (value <= INT32_MAX) value = value * 10 + (text[i] - '0');
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return int32_t(value);
}

// Whether the bytes hold the text, looking at those bytes only.
inline bool bytes_contain(const uint8_t* bytes, uint32_t count, std::string_view text) {
    std::string_view view(reinterpret_cast<const char*>(bytes), count);
    return view.find(text) != std::string_view::npos;
}
