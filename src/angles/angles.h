// Angle notation: Colon, Dotted and DMC text to decimal degrees.
#pragma once

#include <string_view>

// The largest finite float: returned by every failure, compared for equality.
inline constexpr double angle_invalid = 3.4028234663852886e38;

// Converts one latitude, longitude or angle; prints one message and returns
// angle_invalid when the text is not acceptable. Never modifies the text.
double dmctodeg(const char* text);

// The help text of the `angles` command, without its final newline.
extern const std::string_view angles_help_text;
