// Any text into the angle parser: it must return a value or angle_invalid,
// never read past the text or overrun its degrees buffer.
#include <cstdint>
#include <string>

#include "angles/angles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    double v = dmctodeg(text.c_str());
    if (v != angle_invalid && !(v >= -360.0 && v <= 360.0)) __builtin_trap();
    return 0;
}
