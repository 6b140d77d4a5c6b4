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

// Bytes of a download with n rules: "download\n", three command packets of
// 21, the images in packets of at most 64 (60 data bytes each), and one ACK
// back per packet.
struct wire_bytes { int to_device; int acks; };

wire_bytes download_wire_bytes(int rules) {
    wire_bytes w{9, 0};
    for (int image : {178, 28 * rules}) {
        w.to_device += 21;
        w.acks += 1;
        for (int left = image; left > 0; left -= 60) {
            w.to_device += std::min(left, 60) + 4;
            w.acks += 1;
        }
    }
    w.to_device += 21;
    w.acks += 1;
    return w;
}

// Runs the session and returns the seconds between "Connected at 9600" and
// "Disconnected" on the utility's output, or -1.
double paced_download_seconds(const std::string& rules_file) {
    int out[2], in[2];
    if (pipe(out) != 0 || pipe(in) != 0) return -1;
    pid_t child = fork();
    if (child == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        close(in[1]);
        close(out[0]);
        execl(QSPAN_SIM_BIN, QSPAN_SIM_BIN, "--com", "1", "--pace", "--", QSPAN_BIN, nullptr);
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    std::string script = "rules " + rules_file + "\nconnect 1 9600\ndownload\nyes\nexit\n";
    if (write(in[1], script.data(), script.size()) != ssize_t(script.size())) return -1;
    close(in[1]);
    std::string text;
    clock_type::time_point connected{}, done{};
    char buf[4096];
    while (done == clock_type::time_point{}) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 30000) <= 0) break;
        ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        text.append(buf, size_t(n));
        if (connected == clock_type::time_point{} && text.find("Connected at 9600\n") != std::string::npos)
            connected = clock_type::now();
        if (text.find("Disconnected\n") != std::string::npos) done = clock_type::now();
    }
    close(out[0]);
    waitpid(child, nullptr, 0);
    if (connected == clock_type::time_point{} || done == clock_type::time_point{}) {
        std::printf("paced session failed:\n%s\n", text.c_str());
        return -1;
    }
    return std::chrono::duration<double>(done - connected).count();
}

int paced_download() {
    std::string dir = std::filesystem::temp_directory_path() / ("qspan-bench-rules-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::string path = dir + "/fifty.txt";
    FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) return 1;
    for (int i = 0; i < 50; ++i) std::fprintf(f, "pass destin D%02d-%d\n", i, i % 16);
    std::fclose(f);
    double s = paced_download_seconds(path);
    std::filesystem::remove_all(dir);
    if (s < 0) return 1;
    wire_bytes w = download_wire_bytes(50);
    double wire = (w.to_device + w.acks) * 10.0 / 9600.0;
    std::printf("50-rule download at 9600 with --pace: %.3f s wall; wire time %.3f s "
                "(%d bytes to the device + %d ACKs, 10 bits each); overhead %.3f s\n",
                s, wire, w.to_device, w.acks, s - wire);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int packets = argc > 1 ? std::atoi(argv[1]) : 1000;
    int rc = per_packet(packets > 0 ? packets : 1000);
    return rc != 0 ? rc : paced_download();
}
