// Download timing: the host's time per acknowledged packet over a
// pseudo-terminal with a device that answers at once (median of 1,000), and
// the wall time of a 50-rule download through qspan-sim with --pace at 9600
// beside the wire time of the bytes it moves.
//
// Usage: bench_download_packet [packets]   (prints figures; not a test)
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "download/download.h"
#include "serial/serial.h"

namespace {

using clock_type = std::chrono::steady_clock;

bool read_exact(int fd, uint8_t* buf, size_t n, int wait_ms) {
    size_t got = 0;
    while (got < n) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, wait_ms) <= 0) return false;
        ssize_t r = read(fd, buf + got, n - got);
        if (r <= 0) return false;
        got += size_t(r);
    }
    return true;
}

// The device: ACK for every framed packet, at once; ends after 5 s of silence.
[[noreturn]] void instant_device(int master) {
    uint8_t pkt[0x10000];
    const uint8_t ack = dwn_ack;
    while (read_exact(master, pkt, 2, 5000)) {
        size_t len = size_t(pkt[0] << 8 | pkt[1]);
        if (len < 5 || !read_exact(master, pkt + 2, len - 2, 5000)) break;
        if (write(master, &ack, 1) != 1) break;
    }
    _exit(0);
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[size_t(p * double(v.size() - 1))];
}

int per_packet(int packets) {
    int master = -1, slave = -1;
    char name[128];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return 1;
    std::string home = std::filesystem::temp_directory_path() / ("qspan-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(home + "/qspan/ports");
    std::filesystem::create_symlink(name, home + "/qspan/ports/com9");
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    std::snprintf(port_name, sizeof port_name, "COM9");
    int rc = 1;
    if (open_port(port_name, 115200) == 0) {
        pid_t child = fork();
        if (child == 0) instant_device(master);
        for (int len : {21, 64}) {
            std::vector<double> us;
            uint8_t pkt[64] = {};
            for (int i = 0; i < packets; ++i) {
                auto t0 = clock_type::now();
                int r = dwn_write_pkt(pkt, len);
                us.push_back(std::chrono::duration<double, std::micro>(clock_type::now() - t0).count());
                if (r != len) { std::printf("packet %d failed: %d\n", i, r); break; }
            }
            std::printf("%d-byte packets, %zu acknowledged: median %.1f us, p10 %.1f us, p90 %.1f us, "
                        "max %.1f us\n", len, us.size(), percentile(us, 0.5), percentile(us, 0.1),
                        percentile(us, 0.9), percentile(us, 1.0));
        }
        close_port();
        kill(child, SIGTERM);
        waitpid(child, nullptr, 0);
        rc = 0;
    }
    close(master);
    close(slave);
    std::filesystem::remove_all(home);
    return rc;
}

}  // namespace

int main(int argc, char** argv) {
    int packets = argc > 1 ? std::atoi(argv[1]) : 1000;
    return per_packet(packets > 0 ? packets : 1000);
}
