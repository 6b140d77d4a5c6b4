// Serial link figures on this machine: accuracy of the read time-out on a
// pseudo-terminal, the one-byte round trip through the port layer and
// qspan-sim, and round trips per second of a 1000-iteration serial test
// against a bare write-one-byte/read-one-byte loop over the same simulator.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "serial/serial.h"

namespace {

using clock_type = std::chrono::steady_clock;

double ms_between(clock_type::time_point a, clock_type::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

void report(const char* what, std::vector<double> v) {
    std::sort(v.begin(), v.end());
    fprintf(stderr, "%-44s n=%zu min %.3f median %.3f max %.3f ms\n", what, v.size(), v.front(),
            v[v.size() / 2], v.back());
}

// 100 silent reads on a pseudo-terminal of our own: observed minus requested.
void timeout_accuracy() {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    std::string slave = ptsname(master);
    std::string config = std::filesystem::temp_directory_path() / ("qspan-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(config + "/qspan/ports");
    std::filesystem::create_symlink(slave, config + "/qspan/ports/com1");
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    if (open_port("COM1", 19200) != 0) return;
    std::vector<double> late;
    uint8_t buf[16];
    for (int i = 0; i < 100; ++i) {
        int32_t timeout = 5 + i % 20;
        auto start = clock_type::now();
        read_port("COM1", buf, 8, timeout);
        late.push_back(ms_between(start, clock_type::now()) - (timeout + 10));
    }
    report("silent read, observed - requested", late);
    close_port();
    close(master);
    std::filesystem::remove_all(config);
}

// Starts qspan-sim serving COM1 and points XDG_CONFIG_HOME at its folder.
pid_t start_sim() {
    int out[2];
    if (pipe(out) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        execl(QSPAN_SIM_BIN, QSPAN_SIM_BIN, "--com", "1", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    char text[4096] = "";
    size_t got = 0;
    auto complete = [&text] {
        const char* at = std::strstr(text, "XDG_CONFIG_HOME=");
        return at != nullptr && std::strchr(at, '\n') != nullptr;
    };
    while (got < sizeof text - 1 && !complete()) {
        ssize_t n = read(out[0], text + got, sizeof text - 1 - got);
        if (n <= 0) break;
        got += size_t(n);
        text[got] = '\0';
    }
    close(out[0]);
    char* dir = std::strstr(text, "XDG_CONFIG_HOME=");
    if (dir == nullptr) return -1;
    dir += std::strlen("XDG_CONFIG_HOME=");
    dir[std::strcspn(dir, "\n")] = '\0';
    setenv("XDG_CONFIG_HOME", dir, 1);
    return pid;
}

// The bare loop: one byte out, its echo back, 63000 times.
void bare_loop() {
    if (open_port("COM1", 9600) != 0) return;
    static const char command[] = "serialtest\n";
    write_port("COM1", reinterpret_cast<const uint8_t*>(command), 11);
    uint8_t buf[1024];
    read_port("COM1", buf, sizeof buf, 300);
    std::vector<double> trips;
    auto start = clock_type::now();
    for (int i = 0; i < 63000; ++i) {
        uint8_t b = uint8_t(0x40 + i % 63);
        auto t0 = clock_type::now();
        write_port("COM1", &b, 1);
        if (read_port("COM1", buf, 1, 1000) != 1 || buf[0] != b) {
            fprintf(stderr, "bare loop: lost byte %d\n", i);
            break;
        }
        trips.push_back(ms_between(t0, clock_type::now()));
    }
    double seconds = ms_between(start, clock_type::now()) / 1000;
    report("one-byte round trip (port layer + sim)", trips);
    fprintf(stderr, "%-44s %.0f round trips/s\n", "bare write/read loop", 63000 / seconds);
    const uint8_t interrupt = 0x03;
    write_port("COM1", &interrupt, 1);
    close_port();
}

void serial_test_run() {
    std::strcpy(port_name, "COM1");
    if (connect_device(9600, 0) != 0) return;
    auto start = clock_type::now();
    serial_test(42, "1000");
    double seconds = ms_between(start, clock_type::now()) / 1000 - 1.010;  // minus the banner wait
    fprintf(stderr, "\n%-44s %.0f round trips/s (%.2f s for 63000)\n",
            "serial_test 1000 iterations", 63000 / seconds, seconds);
    disconnect_device();
}

}  // namespace

int main() {
    setvbuf(stdout, nullptr, _IONBF, 0);
    timeout_accuracy();
    pid_t sim = start_sim();
    if (sim <= 0) {
        fprintf(stderr, "cannot start %s\n", QSPAN_SIM_BIN);
        return 1;
    }
    bare_loop();
    serial_test_run();
    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);
    return 0;
}
