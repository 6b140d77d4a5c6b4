// Rates without a classic B-constant (14400, 56000) through the Linux
// termios2 interface. This file includes only the kernel's <asm/termbits.h>
// (and <asm/ioctls.h> for the request numbers), because those clash with
// <termios.h>; the rest of the port uses the latter.
#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cstdint>

extern "C" int ioctl(int fd, unsigned long request, ...);

// Sets both directions to the rate; the other line settings stay. False with
// errno set when the driver refuses.
bool posix_set_custom_rate(int fd, uint32_t rate) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = rate;
    t.c_ospeed = rate;
    return ioctl(fd, TCSETS2, &t) == 0;
}
