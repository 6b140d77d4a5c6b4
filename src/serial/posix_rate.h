// Line rates through the Linux termios2 interface, for rates without a classic
// B-constant (14400, 56000). Kept apart because the kernel's headers clash
// with <termios.h>; the simulated device uses the same two calls.
#pragma once

#include <cstdint>

// Sets both directions to the rate; false with errno set when the driver refuses.
bool posix_set_custom_rate(int fd, uint32_t rate);
// The terminal's current output rate in baud, 0 when it cannot be read.
uint32_t posix_line_rate(int fd);
