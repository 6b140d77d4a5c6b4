// dmctodeg: Colon, Dotted and DMC angle text to decimal degrees.
//
// One census of the text picks the notation, each notation fills degrees,
// minutes and seconds (single precision, as the device keeps them), and one
// shared step checks ranges and combines them in double precision. Every
// failure prints exactly one message and returns angle_invalid; the text is
// only read, never modified.
#include "angles/angles.h"
#include "angles/numbers.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

constexpr double seconds_per_degree_inv = 0.0002777777777777778;  // 1/3600
constexpr double minutes_per_degree_inv = 0.016666666666666666;   // 1/60
constexpr double angle_bound = 360.0;  // sector angles reach 360
constexpr size_t degrees_buffer_size = 20;

struct census_t {
    int minus = 0;
    int colons = 0;
    int periods = 0;
    int letters = 0;
};

// The parts of an angle as the notations deliver them.
struct angle_parts {
    float degrees = 0;
    float minutes = 0;
    float seconds = 0;
    bool negative = false;  // minus on the degrees, or a south/west letter
};

// Narrows to single precision; a value beyond the float range becomes an
// infinity (which then fails the range checks) instead of an undefined cast.
float narrow(double v) {
    if (v > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
    if (v < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
    return float(v);
}

float decimal_part(const char* text) { return narrow(parse_decimal_value(text).value); }

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

census_t take_census(const char* text) {
    census_t c;
    for (const char* p = text; *p != '\0'; ++p) {
        c.minus += *p == '-';
        c.colons += *p == ':';
        c.periods += *p == '.';
        c.letters += is_letter(*p);
    }
    return c;
}

bool has_minus_before(const char* begin, const char* end) {
    return std::memchr(begin, '-', size_t(end - begin)) != nullptr;
}

bool fail(const char* message) {
    std::fputs(message, stdout);
    return false;
}

// [s][D]DD:MM:SS[.F*]; degrees and minutes drop any fraction.
bool read_colon(const char* text, angle_parts& a) {
    const char* first = std::strchr(text, ':');
    const char* second = std::strchr(first + 1, ':');
    a.degrees = float(parse_decimal_int(text).value);
    a.minutes = float(parse_decimal_int(first + 1).value);
    a.seconds = decimal_part(second + 1);
    a.negative = has_minus_before(text, first);
    return true;
}

// [s][D]DD.MM.[F*]; the second period is the decimal point of the minutes.
bool read_dotted(const char* text, angle_parts& a) {
    const char* first = std::strchr(text, '.');
    a.degrees = float(parse_decimal_int(text).value);
    a.minutes = decimal_part(first + 1);
    a.negative = has_minus_before(text, first);
    return true;
}

// Reads the next part of a DMC text ending at the identifier at p. The
// degrees go through a bounded copy so a long run of text cannot overrun it.
bool read_dmc_degrees(const char* start, const char* p, angle_parts& a) {
    const size_t length = size_t(p - start);
    if (length >= degrees_buffer_size) {
        std::printf("\a\aError: DMC format: degrees text too long: %zu characters, at most %zu\n",
                    length, degrees_buffer_size - 1);
        return false;
    }
    char buffer[degrees_buffer_size];
    std::memcpy(buffer, start, length);
    buffer[length] = '\0';
    a.degrees = decimal_part(buffer);
    if (has_minus_before(start, p)) a.negative = true;
    return true;
}

bool is_number_char(char c) {
    return (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == ' ' || c == '\t';
}

bool is_direction(char c) { return c != '\0' && std::strchr("NnEeSsWw", c) != nullptr; }

// Numbers marked by D, M and C, in any order, each at most once; direction
// letters may stand anywhere between them.
bool read_dmc(const char* text, angle_parts& a) {
    bool have_deg = false, have_min = false, have_sec = false;
    const char* start = text;
    const char* p = text;
    for (; *p != '\0' && *p != '\n'; ++p) {
        const char c = *p;
        if (is_number_char(c)) continue;
        if (c == 'D' || c == 'd') {
            if (have_deg) {
                std::printf("\a\aError: DMC format: already have degrees (%f)\n", double(a.degrees));
                return false;
            }
            if (!read_dmc_degrees(start, p, a)) return false;
            have_deg = true;
        } else if (c == 'M' || c == 'm') {
            if (have_min) {
                std::printf("\a\aError: DMC format: already have minutes (%f)\n", double(a.minutes));
                return false;
            }
            a.minutes = decimal_part(start);
            have_min = true;
        } else if (c == 'C' || c == 'c') {
            if (have_sec) {
                std::printf("\a\aError: DMC format: already have seconds (%f)\n", double(a.seconds));
                return false;
            }
            a.seconds = decimal_part(start);
            have_sec = true;
        } else if (!is_direction(c)) {
            const unsigned char u = static_cast<unsigned char>(c);
            std::printf("\a\aError: DMC format: invalid char: %c (0x%02x)\n", u, unsigned(u));
            return false;
        }
        start = p + 1;
    }
    if (start != p) return fail("\a\aInternal Error: pointer mismatch\n");
    return true;
}

// Direction letters may not contradict each other or a minus sign.
bool check_dmc_directions(const char* text, const census_t& c, angle_parts& a) {
    const char* north_east = std::strpbrk(text, "NnEe");
    const char* south_west = std::strpbrk(text, "SsWw");
    if (c.minus > 0) {
        for (const char* letter : {north_east, south_west}) {
            if (letter != nullptr) {
                std::printf("\a\aError: DMC format: both minus (-) and direction char %c "
                            "cannot be specified\n", *letter);
                return false;
            }
        }
    } else if (north_east != nullptr && south_west != nullptr) {
        std::printf("\a\aError: DMC format: both direction chars %c and %c cannot be specified\n",
                    *north_east, *south_west);
        return false;
    }
    a.negative = south_west != nullptr;
    return true;
}

// Picks the notation from the census and reads the parts.
bool read_parts(const char* text, angle_parts& a) {
    const census_t c = take_census(text);
    if (c.minus > 1) {
        std::printf("\a\aError: too man minus signs: %d: only one is allowed\n", c.minus);
        return false;
    }
    if (c.colons > 0) {
        if (c.colons != 2)
            return fail("\a\aError: Colon format: must have 2 colons: [s][D]DD:MM:SS[.F*]\n");
        if (c.periods > 1)
            return fail("\a\aError: Colon format: too many periods: [s][D]DD:MM:SS[.F*]\n");
        if (c.letters > 0)
            return fail("\a\aError: Colon format: has alpha characters: [s][D]DD:MM:SS[.F*]\n");
        return read_colon(text, a);
    }
    if (c.letters == 0) {
        if (c.periods == 0)
            return fail("\a\aError: Unrecognized format: must be one of Dotted, Colon or DMC\n");
        if (c.periods != 2)
            return fail("\a\aError: Dotted format: must have 2 periods: [s][D]DD.MM.[F*]\n"
                        "\tor DMC format must have at least one of [DdMmCc] identifiers\n");
        return read_dotted(text, a);
    }
    if (std::strpbrk(text, "DdMmCc") == nullptr)
        return fail("\a\aError: DMC format must have at least one of [DdMmCc] identifiers\n"
                    "\tor Dotted format: found illegal character: [s][D]DD.MM.[F*]\n");
    return check_dmc_directions(text, c, a) && read_dmc(text, a);
}

// Range checks and the combination of the parts.
double combine(const angle_parts& a) {
    if (!(a.seconds > -60.0f && a.seconds < 60.0f)) {
        std::printf("\a\aError: sec %f is out of range [0..59.99]\n", double(a.seconds));
        return angle_invalid;
    }
    if (!(a.minutes > -60.0f && a.minutes < 60.0f)) {
        std::printf("\a\aError: min %f is out of range [0..59.99]\n", double(a.minutes));
        return angle_invalid;
    }
    const double fraction = double(a.seconds) * seconds_per_degree_inv +
                            double(a.minutes) * minutes_per_degree_inv;
    const double degrees = double(a.degrees);
    const double result = a.negative ? -(std::fabs(degrees) + fraction) : degrees + fraction;
    if (!(result >= -angle_bound && result <= angle_bound)) {
        std::printf("\a\aError: deg %f is out of range [-180..180]\n", result);
        return angle_invalid;
    }
    return result;
}

}  // namespace

double dmctodeg(const char* text) {
    if (text == nullptr || *text == '\0') {
        std::fputs("dmctodeg: Error: invalid param inp\n", stdout);
        return angle_invalid;
    }
    angle_parts parts;
    if (!read_parts(text, parts)) return angle_invalid;
    return combine(parts);
}
