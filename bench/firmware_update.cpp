// Firmware timing: (1) inhexverify over a 45 MB HEX file of a million 16-byte
// records written by objcopy, beside `srec_info FILE -Intel` on the same file;
// (2) the host's time per record of a whole `firmware` run over a
// pseudo-terminal against a boot loader that answers at once, from the
// difference of two runs of different length (so the fixed waits of the
// dialogue cancel out).
//
// Usage: bench_firmware_update [megabytes] [records]   (prints figures; not a test)
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
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "firmware/firmware.h"
#include "serial/serial.h"

namespace {

using clock_type = std::chrono::steady_clock;
namespace fs = std::filesystem;

double seconds_since(clock_type::time_point t0) {
    return std::chrono::duration<double>(clock_type::now() - t0).count();
}

bool write_random_binary(const std::string& path, size_t bytes) {
    std::mt19937 gen(12345);
    std::vector<uint8_t> data(bytes);
    for (auto& b : data) b = uint8_t(gen());
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = fwrite(data.data(), 1, data.size(), f) == data.size();
    return fclose(f) == 0 && ok;
}

// Runs a command with its output discarded; its wall time, or -1 on failure.
double time_command(const std::string& command) {
    auto t0 = clock_type::now();
    int rc = std::system((command + " >/dev/null 2>&1").c_str());
    return rc == 0 ? seconds_since(t0) : -1;
}

double best_verify_time(const std::string& path, int runs, int& records) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        FILE* fp = fopen(path.c_str(), "r");
        if (fp == nullptr) return -1;
        auto t0 = clock_type::now();
        records = inhexverify(fp);
        best = std::min(best, seconds_since(t0));
        fclose(fp);
    }
    return best;
}

void verify_speed(const std::string& dir, size_t megabytes) {
    std::string bin = dir + "/image.bin", hex = dir + "/image.hex";
    if (!write_random_binary(bin, megabytes << 20) ||
        time_command("objcopy -I binary -O ihex " + bin + " " + hex) < 0) {
        std::printf("could not write the HEX file (objcopy missing?)\n");
        return;
    }
    int records = 0;
    double ours = best_verify_time(hex, 5, records);
    std::printf("inhexverify: %.1f MB, %d records, best of 5: %.3f s\n",
                double(fs::file_size(hex)) / 1e6, records, ours);
    double theirs = 1e9;
    for (int i = 0; i < 3; ++i) theirs = std::min(theirs, time_command("srec_info " + hex + " -Intel"));
    if (theirs < 0)
        std::printf("srec_info: not available (package srecord)\n");
    else
        std::printf("srec_info -Intel, best of 3: %.3f s  (inhexverify is %.1fx faster)\n", theirs,
                    theirs / ours);
}

// The boot loader, answering at once: after "reset" an ENQ every 50 ms until
// SYN (the host purges the port when it reopens it), then ACK to SYN, to the
// identifier and to every line ending in CR. Ends when the host goes quiet.
[[noreturn]] void instant_loader(int master) {
    enum { running, prompting, loading } state = running;
    std::string line;
    char buf[4096];
    for (;;) {
        pollfd p{master, POLLIN, 0};
        int ready = poll(&p, 1, state == prompting ? 50 : 10000);
        if (ready == 0 && state == prompting && write(master, "\x05", 1) == 1) continue;
        ssize_t n = ready > 0 ? read(master, buf, sizeof buf) : 0;
        if (n <= 0) break;
        std::string answer;
        for (ssize_t i = 0; i < n; ++i) {
            char c = buf[i];
            if (state == prompting) {
                if (c == '\x16') answer += '\x06', state = loading;
                continue;
            }
            line += c;
            if (c == '\n') {  // a new update starts with "reset" at any time
                if (line.size() >= 6 && line.compare(line.size() - 6, 6, "reset\n") == 0)
                    state = prompting;
                line.clear();
            } else if (state == loading && (c == '\r' || line == "bRvNoD1.0")) {
                answer += '\x06';
                line.clear();
            }
        }
        if (!answer.empty() && write(master, answer.data(), answer.size()) < 0) break;
    }
    _exit(0);
}

std::string write_records(const std::string& dir, int records) {
    std::string path = dir + "/records" + std::to_string(records) + ".hex";
    FILE* f = fopen(path.c_str(), "w");
    for (int i = 0; i < records; ++i) {
        unsigned offset = unsigned(i * 16) & 0xFFFF;
        unsigned sum = 0x10 + (offset >> 8) + (offset & 0xFF);
        fprintf(f, ":10%04X00", offset);
        for (int b = 0; b < 16; ++b) fprintf(f, "%02X", unsigned(b)), sum += unsigned(b);
        fprintf(f, "%02X\n", (0x100 - sum) & 0xFF);
    }
    fclose(f);
    return path;
}

// One whole update with standard output and input on /dev/null; its seconds.
double timed_update(const std::string& hex, int& result) {
    fflush(stdout);
    int saved_out = dup(1), saved_in = dup(0);
    int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, 1);
    dup2(null_fd, 0);
    auto t0 = clock_type::now();
    result = firmware(9, hex.c_str());
    double s = seconds_since(t0);
    fflush(stdout);
    dup2(saved_out, 1);
    dup2(saved_in, 0);
    close(saved_out), close(saved_in), close(null_fd);
    clearerr(stdin);
    return s;
}

void per_record(const std::string& dir, int records) {
    int master = -1, slave = -1;
    char name[128];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
    fs::create_directories(dir + "/qspan/ports");
    fs::create_symlink(name, dir + "/qspan/ports/com9");
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    pid_t child = fork();
    if (child == 0) instant_loader(master);
    int r_short = 0, r_long = 0;
    double t_short = timed_update(write_records(dir, 100), r_short);
    double t_long = timed_update(write_records(dir, 100 + records), r_long);
    if (r_short != 0 || r_long != 0)
        std::printf("firmware failed: %d / %d\n", r_short, r_long);
    else
        std::printf("firmware over a pty, instant loader: 100 records %.3f s, %d records %.3f s, "
                    "%.1f us per record\n",
                    t_short, 100 + records, t_long, (t_long - t_short) / records * 1e6);
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    close(master);
    close(slave);
}

}  // namespace

int main(int argc, char** argv) {
    size_t megabytes = argc > 1 ? size_t(std::atoi(argv[1])) : 16;
    int records = argc > 2 ? std::atoi(argv[2]) : 20000;
    std::string dir = fs::temp_directory_path() / ("qspan-fw-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    verify_speed(dir, megabytes > 0 ? megabytes : 16);
    per_record(dir, records > 0 ? records : 20000);
    fs::remove_all(dir);
    return 0;
}
