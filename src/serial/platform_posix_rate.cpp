// Rates without a classic B-constant (14400, 56000) through the Linux
// termios2 interface. This file includes only the kernel's <asm/termbits.h>
// (and <asm/ioctls.h> for the request numbers), because those clash with
// <termios.h>; the rest of the port uses the latter.
#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cstdint>

#include "serial/posix_rate.h"

extern "C" int ioctl(int fd, unsigned long request, ...);

bool posix_set_custom_rate(int fd, uint32_t rate) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = rate;
    t.c_ospeed = rate;
    return ioctl(fd, TCSETS2, &t) == 0;
}

uint32_t posix_line_rate(int fd) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return 0;
    return t.c_ospeed;
}
