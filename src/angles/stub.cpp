// Placeholder until the angle parser lands.
#include "angles/angles.h"
#include <cstdio>
double dmctodeg(const char*) { return angle_invalid; }
const std::string_view angles_help_text = "Colon, Dotted and DMC formats for Angles, Latitudes and Longitudes";
