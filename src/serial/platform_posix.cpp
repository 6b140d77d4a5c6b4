// POSIX serial port: a terminal device opened non-blocking and driven by
// poll() against CLOCK_MONOTONIC deadlines, so every read and write is
// bounded however the driver behaves.
//
// COM names map to $XDG_CONFIG_HOME/qspan/ports/comN when that entry exists
// (normally a symbolic link to a real device or a pseudo-terminal), otherwise
// to /dev/ttyS<N-1>. Exclusive use rests on flock (which binds root too) and
// TIOCEXCL. Rates outside the classic B-constants go through termios2
// (platform_posix_rate.cpp). Limit: one port at a time.
#include "serial/platform.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "serial/posix_rate.h"

namespace {

int port_fd = -1;
termios line_state{};
plat_timeouts timeouts{};

// The last error: errno-style code, the device path involved and an optional
// text that replaces strerror when the system has no fitting one.
int error_code = 0;
char error_path[PATH_MAX + 64] = "";
const char* error_note = nullptr;

// Scheduling on a busy machine can stall a writer briefly even when the
// peer keeps up; only a peer that stops reading should fail a write.
constexpr uint32_t write_grace_ms = 1000;

void record_error(int code, const char* note = nullptr) {
    error_code = code;
    error_note = note;
}

int64_t now_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Resolves "COMn" to the device path and remembers how it was found, for
// messages. Other names are taken as paths.
void resolve_port(const char* name, char* path, size_t size) {
    bool com = std::strlen(name) > 3 && strncasecmp(name, "com", 3) == 0;
    for (const char* p = name + 3; com && *p; ++p) com = std::isdigit(uint8_t(*p)) != 0;
    if (!com) {
        std::snprintf(path, size, "%s", name);
        std::snprintf(error_path, sizeof error_path, "%s", name);
        return;
    }
    char lower[16] = "";
    std::snprintf(lower, sizeof lower, "com%ld", std::strtol(name + 3, nullptr, 10));
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    char alias[PATH_MAX] = "";
    if (config != nullptr && config[0] == '/')
        std::snprintf(alias, sizeof alias, "%s/qspan/ports/%s", config, lower);
    else if (home != nullptr && home[0] == '/')
        std::snprintf(alias, sizeof alias, "%s/.config/qspan/ports/%s", home, lower);
    if (alias[0] != '\0' && access(alias, F_OK) == 0) {
        std::snprintf(path, size, "%s", alias);
        char target[PATH_MAX] = "";
        ssize_t n = readlink(alias, target, sizeof target - 1);
        if (n > 0) {
            target[n] = '\0';
            std::snprintf(error_path, sizeof error_path, "%s -> %s", alias, target);
        } else {
            std::snprintf(error_path, sizeof error_path, "%s", alias);
        }
        return;
    }
    std::snprintf(path, size, "/dev/ttyS%ld", std::strtol(name + 3, nullptr, 10) - 1);
    std::snprintf(error_path, sizeof error_path, "%s", path);
}

// The classic constant of a rate, or B0 when termios2 must set it.
speed_t classic_speed(int32_t rate) {
    switch (rate) {
        case 110: return B110;
        case 300: return B300;
        case 600: return B600;
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        default: return B0;
    }
}

}  // namespace

bool plat_open(const char* name) {
    plat_close();
    char path[PATH_MAX] = "";
    resolve_port(name, path, sizeof path);
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        record_error(errno, errno == EBUSY ? "port is in use by another program" : nullptr);
        return false;
    }
    const char* refusal = nullptr;
    int code = 0;
    if (!isatty(fd)) {
        code = ENOTTY, refusal = "not a serial port (not a terminal device)";
    } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        code = errno, refusal = "port is in use by another program";
    } else if (ioctl(fd, TIOCEXCL) != 0) {
        code = errno;
    }
    if (code != 0) {
        close(fd);
        record_error(code, refusal);
        return false;
    }
    port_fd = fd;
    return true;
}

bool plat_is_open() { return port_fd >= 0; }

void plat_close() {
    if (port_fd < 0) return;
    // The exclusive flag belongs to the terminal, not to this descriptor: a
    // line kept alive by another holder would otherwise stay barred.
    ioctl(port_fd, TIOCNXCL);
    close(port_fd);  // releases the flock too
    port_fd = -1;
}

int plat_read_caps(plat_caps* caps) {
    // A terminal can always do 8N1 and the poll-based time-outs below.
    if (port_fd < 0 || !isatty(port_fd)) {
        record_error(port_fd < 0 ? EBADF : ENOTTY);
        return -4;
    }
    *caps = {0x0F, 0x0008, 0x0101, 0xC0};
    return 0;
}

bool plat_get_line() {
    if (tcgetattr(port_fd, &line_state) != 0) {
        record_error(errno);
        return false;
    }
    return true;
}

bool plat_set_line(int32_t rate) {
    termios t = line_state;
    cfmakeraw(&t);
    // CIBAUD cleared: the input rate follows the output rate, even after an
    // earlier termios2 rate left its own input setting behind.
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | CSTOPB | CRTSCTS | CIBAUD);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    t.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY | INPCK | ISTRIP);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    speed_t speed = classic_speed(rate);
    cfsetispeed(&t, speed == B0 ? B38400 : speed);
    cfsetospeed(&t, speed == B0 ? B38400 : speed);
    if (tcsetattr(port_fd, TCSANOW, &t) != 0) {
        record_error(errno);
        return false;
    }
    if (speed == B0 && !posix_set_custom_rate(port_fd, uint32_t(rate))) {
        record_error(errno);
        return false;
    }
    line_state = t;
    // A pseudo-terminal has no modem lines and says so with ENOTTY.
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (ioctl(port_fd, TIOCMBIC, &lines) != 0 && errno != ENOTTY) {
        record_error(errno);
        return false;
    }
    return true;
}

bool plat_set_timeouts(const plat_timeouts& t) {
    if (port_fd < 0) return record_error(EBADF, "the port is not open"), false;
    timeouts = t;
    return true;
}

bool plat_read(uint8_t* buf, uint32_t size, uint32_t* got) {
    *got = 0;
    if (port_fd < 0) return record_error(EBADF, "the port is not open"), false;
    int64_t total_ms = int64_t(size) * timeouts.read_total_multiplier + timeouts.read_total_constant;
    int64_t deadline = now_ns() + total_ms * 1000000;
    while (*got < size) {
        int64_t left = deadline - now_ns();
        if (left <= 0) break;
        pollfd p{port_fd, POLLIN, 0};
        timespec wait{time_t(left / 1000000000), long(left % 1000000000)};
        int ready = ppoll(&p, 1, &wait, nullptr);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return record_error(errno), false;
        if (ready == 0) continue;  // the deadline check above ends the loop
        if ((p.revents & POLLIN) == 0) return record_error(EIO, "the device hung up"), false;
        uint8_t chunk[256];
        uint32_t want = size - *got < sizeof chunk ? size - *got : uint32_t(sizeof chunk);
        ssize_t n = read(port_fd, chunk, want);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) return record_error(errno), false;
        if (n == 0) return record_error(EIO, "the device hung up"), false;
        for (ssize_t i = 0; i < n; ++i)
            if (chunk[i] != 0) buf[(*got)++] = chunk[i];
    }
    return true;
}

bool plat_write(const uint8_t* buf, uint32_t len, uint32_t* written) {
    *written = 0;
    if (port_fd < 0) return record_error(EBADF, "the port is not open"), false;
    int64_t total_ms = int64_t(len) * timeouts.write_total_multiplier +
                       timeouts.write_total_constant + write_grace_ms;
    int64_t deadline = now_ns() + total_ms * 1000000;
    while (*written < len) {
        ssize_t n = write(port_fd, buf + *written, len - *written);
        if (n > 0) {
            *written += uint32_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return record_error(errno), false;
        int64_t left = deadline - now_ns();
        if (left <= 0) return record_error(ETIMEDOUT, "write timed out"), false;
        pollfd p{port_fd, POLLOUT, 0};
        timespec wait{time_t(left / 1000000000), long(left % 1000000000)};
        if (ppoll(&p, 1, &wait, nullptr) < 0 && errno != EINTR) return record_error(errno), false;
        if ((p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
            return record_error(EIO, "the device hung up"), false;
    }
    return true;
}

// Only received data is discarded. Our writes are complete when write_port
// returns, and a real line's close has drained them before any reopen; on a
// pseudo-terminal TCOFLUSH would instead discard bytes that the peer has not
// read yet, such as a "host N" command just before the port is reopened.
void plat_purge() {
    if (port_fd >= 0) tcflush(port_fd, TCIFLUSH);
}

int plat_error_code() { return error_code; }

void plat_error_text(char* buf, size_t size) {
    const char* what = error_note != nullptr ? error_note : std::strerror(error_code);
    if (error_path[0] != '\0')
        std::snprintf(buf, size, "%s: %s", error_path, what);
    else
        std::snprintf(buf, size, "%s", what);
}

void plat_sleep_ms(uint32_t ms) {
    timespec ts{time_t(ms / 1000), long(ms % 1000) * 1000000};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) continue;
}
