// qspan-sim framework: a pseudo-terminal pair whose master plays the device.
//
// One thread, one poll loop over the master and a signalfd. The simulator
// holds a slave descriptor itself so that the host's close and reopen never
// hang the line up. It follows the rate the host sets on the slave: bytes
// pass only while the host's rate equals the device's rate. A read from the
// master cannot tell exactly when the host wrote, so input counts as heard
// when the device's rate matches the host's rate at this read or at the
// previous look; output is checked again as it goes out, so a device that
// talks at the wrong rate is never heard. With --pace both directions take
// 10 bit times per byte. Modes (sim.h) do the talking.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "serial/posix_rate.h"
#include "sim.h"

namespace {

// ---- options ----------------------------------------------------------------

long com_number = 0;
long start_rate = 9600;
bool pace = false;
bool silent = false;
bool nul_between = false;
const char* log_path = nullptr;
const char* store_dir = nullptr;

bool take_com(const char* v) { return sim_parse_number(v, 1, 99, &com_number); }
bool take_rate(const char* v) { return sim_parse_number(v, 50, 4000000, &start_rate); }
bool take_pace(const char*) { return pace = true; }
bool take_silent(const char*) { return silent = true; }
bool take_nul(const char*) { return nul_between = true; }
bool take_log(const char* v) { return (log_path = v) != nullptr; }
bool take_store(const char* v) { return (store_dir = v) != nullptr; }
bool take_help(const char*);

constexpr sim_option framework_options[] = {
    {"--com", "N", "alias COMN in a private XDG_CONFIG_HOME for the command", take_com},
    {"--rate", "N", "the device's starting host-port rate (default 9600)", take_rate},
    {"--pace", nullptr, "no faster than the line rate, 10 bits per byte, both ways", take_pace},
    {"--silent", nullptr, "the device never sends anything", take_silent},
    {"--nul", nullptr, "a NUL byte after every byte the device sends", take_nul},
    {"--log", "FILE", "every byte each way with a time stamp", take_log},
    {"--store", "DIR", "folder for the files the device receives", take_store},
    {"--help", nullptr, "this list", take_help},
};

void print_options(std::span<const sim_option> options) {
    for (const auto& o : options) {
        std::string left = std::string(o.name) + (o.value_name ? std::string(" ") + o.value_name : "");
        fprintf(stderr, "  %-22s %s\n", left.c_str(), o.help);
    }
}

bool take_help(const char*) {
    fprintf(stderr, "usage: qspan-sim [OPTION...] [-- COMMAND...]\n");
    print_options(framework_options);
    for (const sim_mode* m : sim_modes) {
        if (m->options.empty()) continue;
        fprintf(stderr, "%s mode:\n", m->name);
        print_options(m->options);
    }
    std::exit(0);
}

const sim_option* find_option(std::string_view name) {
    for (const auto& o : framework_options)
        if (name == o.name) return &o;
    for (const sim_mode* m : sim_modes)
        for (const auto& o : m->options)
            if (name == o.name) return &o;
    return nullptr;
}

[[noreturn]] void usage_error(const char* what, const char* arg) {
    fprintf(stderr, "qspan-sim: %s: %s (try --help)\n", what, arg);
    std::exit(2);
}

// Parses the options; gives the index of the command after "--", or argc.
int parse_options(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            if (i + 1 == argc) usage_error("missing command after", "--");
            return i + 1;
        }
        std::string_view arg = argv[i];
        size_t eq = arg.find('=');
        std::string name(arg.substr(0, eq));
        const sim_option* o = find_option(name);
        if (o == nullptr) usage_error("unknown option", argv[i]);
        const char* value = eq == std::string_view::npos ? nullptr : argv[i] + eq + 1;
        if (o->value_name != nullptr && value == nullptr) {
            if (i + 1 == argc) usage_error("missing value for", argv[i]);
            value = argv[++i];
        }
        if (o->value_name == nullptr && value != nullptr) usage_error("no value expected", argv[i]);
        if (!o->take(value)) usage_error("bad value", argv[i]);
    }
    return argc;
}

// ---- state --------------------------------------------------------------------

struct in_byte {
    uint8_t byte;
    int32_t rate_before, rate_after;  // the host's rate could be either when it was written
    int64_t due_ns;
};
struct out_byte {
    uint8_t byte;
    int32_t rate;  // the device's rate when it was sent
};

int master_fd = -1;
int held_slave_fd = -1;
std::string slave_path;
std::string config_dir;
FILE* log_file = nullptr;
int64_t start_ns = 0;

sim_mode_id current = mode_text;
int32_t device_rate = 9600;
int32_t window_rate = 9600;  // the host's rate at the previous look
int32_t tick_ms = 0;
int64_t next_tick_ns = 0;
std::deque<in_byte> input;
std::deque<out_byte> output;
int64_t next_in_ns = 0, next_out_ns = 0;
bool want_write = false;

int64_t mono_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t char_ns(int32_t rate) { return rate > 0 ? 10000000000LL / rate : 0; }

void log_byte(const char* direction, uint8_t b, const char* remark) {
    if (log_file == nullptr) return;
    char shown[8] = "";
    if (b >= 0x20 && b < 0x7F) snprintf(shown, sizeof shown, "'%c'", b);
    fprintf(log_file, "%11.6f %s %02x %-3s %s\n", double(mono_ns() - start_ns) / 1e9, direction, b,
            shown, remark);
}

// ---- the loop -------------------------------------------------------------------

void deliver_due_input(int64_t now) {
    while (!input.empty() && input.front().due_ns <= now) {
        in_byte b = input.front();
        input.pop_front();
        if (b.rate_before != device_rate && b.rate_after != device_rate) {
            char remark[64];
            snprintf(remark, sizeof remark, "unheard (host %d, device %d)", int(b.rate_after),
                     int(device_rate));
            log_byte("host>dev", b.byte, remark);
            continue;
        }
        log_byte("host>dev", b.byte, "");
        sim_modes[current]->on_byte(b.byte);
    }
}

void run_due_ticks(int64_t now) {
    while (tick_ms > 0 && next_tick_ns <= now) {
        next_tick_ns += int64_t(tick_ms) * 1000000;
        if (sim_modes[current]->on_tick != nullptr) sim_modes[current]->on_tick();
    }
}

void write_due_output(int64_t now) {
    want_write = false;
    while (!output.empty() && (!pace || next_out_ns <= now)) {
        int32_t host = int32_t(posix_line_rate(master_fd));
        if (output.front().rate != host) {
            char remark[64];
            snprintf(remark, sizeof remark, "unheard (host %d, device %d)", int(host),
                     int(output.front().rate));
            log_byte("dev>host", output.front().byte, remark);
            output.pop_front();
            continue;
        }
        // Paced output goes byte by byte; otherwise everything at this rate at once.
        uint8_t chunk[4096];
        size_t n = 0;
        while (n < (pace ? 1 : sizeof chunk) && n < output.size() && output[n].rate == host)
            chunk[n] = output[n].byte, ++n;
        ssize_t w = write(master_fd, chunk, n);
        if (w < 0) {
            want_write = errno == EAGAIN || errno == EINTR;
            if (!want_write) output.clear();
            return;
        }
        for (ssize_t i = 0; i < w; ++i) {
            log_byte("dev>host", output.front().byte, "");
            output.pop_front();
        }
        if (pace) next_out_ns = (next_out_ns > now ? next_out_ns : now) + char_ns(host);
    }
}

bool read_master(int64_t now) {
    uint8_t buf[4096];
    ssize_t n = read(master_fd, buf, sizeof buf);
    if (n <= 0) return false;
    int32_t rate_now = int32_t(posix_line_rate(master_fd));
    for (ssize_t i = 0; i < n; ++i) {
        int64_t due = now;
        if (pace) {
            due = next_in_ns > now ? next_in_ns : now;
            next_in_ns = due + char_ns(rate_now);
        }
        input.push_back({buf[i], window_rate, rate_now, due});
    }
    window_rate = rate_now;
    return true;
}

// The host's last bytes may still sit in the line when it ends (a closing
// interrupt, say): the device hears them before it stops.
void hear_remaining_input() {
    while (read_master(mono_ns())) continue;
    deliver_due_input(INT64_MAX);
}

// How long poll may sleep: until the next due byte or tick, at most 50 ms so
// the host's rate is looked at often.
int poll_timeout_ms(int64_t now) {
    int64_t until = now + 50000000;
    if (!input.empty() && input.front().due_ns < until) until = input.front().due_ns;
    if (!output.empty() && pace && next_out_ns < until) until = next_out_ns;
    if (tick_ms > 0 && next_tick_ns < until) until = next_tick_ns;
    int64_t ms = (until - now + 999999) / 1000000;
    return int(ms < 0 ? 0 : ms);
}

// Serves until the child ends (its status) or a stop signal arrives (0).
int serve(int signal_fd, pid_t child) {
    for (;;) {
        int64_t now = mono_ns();
        deliver_due_input(now);
        run_due_ticks(now);
        write_due_output(now);
        pollfd fds[2] = {{master_fd, short(POLLIN | (want_write ? POLLOUT : 0)), 0},
                         {signal_fd, POLLIN, 0}};
        int ready = poll(fds, 2, want_write ? 5 : poll_timeout_ms(now));
        if (ready < 0 && errno != EINTR) return 1;
        now = mono_ns();
        if (ready == 0) window_rate = int32_t(posix_line_rate(master_fd));
        if (ready > 0 && (fds[0].revents & POLLIN) != 0) read_master(now);
        if (ready > 0 && (fds[1].revents & POLLIN) != 0) {
            signalfd_siginfo info{};
            if (read(signal_fd, &info, sizeof info) != sizeof info) continue;
            if (info.ssi_signo != SIGCHLD) {
                if (child <= 0) return 0;
                kill(child, int(info.ssi_signo));
                continue;
            }
            int status = 0;
            if (child > 0 && waitpid(child, &status, WNOHANG) == child) {
                hear_remaining_input();
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
        }
    }
}

// ---- set-up -----------------------------------------------------------------------

bool open_line() {
    master_fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_fd < 0 || grantpt(master_fd) != 0 || unlockpt(master_fd) != 0) return false;
    slave_path = ptsname(master_fd);
    held_slave_fd = open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (held_slave_fd < 0) return false;
    // Raw from the start: a cooked slave would echo the device's own bytes back.
    termios t{};
    tcgetattr(held_slave_fd, &t);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    tcsetattr(held_slave_fd, TCSANOW, &t);
    if (!posix_set_custom_rate(held_slave_fd, uint32_t(start_rate))) return false;
    fcntl(master_fd, F_SETFL, fcntl(master_fd, F_GETFL) | O_NONBLOCK);
    return true;
}

bool make_config_dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qspan-sim-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) return false;
    config_dir = buf.data();
    std::error_code ec;
    std::filesystem::create_directories(config_dir + "/qspan/ports", ec);
    if (ec) return false;
    std::filesystem::create_symlink(slave_path,
                                    config_dir + "/qspan/ports/com" + std::to_string(com_number), ec);
    return !ec;
}

void clean_up() {
    if (!config_dir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(config_dir, ec);
    }
    // Cleared as they close, so a note written after this goes nowhere.
    if (log_file != nullptr) fclose(log_file);
    log_file = nullptr;
    if (held_slave_fd >= 0) close(held_slave_fd);
    held_slave_fd = -1;
    if (master_fd >= 0) close(master_fd);
    master_fd = -1;
}

pid_t start_command(char** command, const sigset_t& blocked) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    sigprocmask(SIG_UNBLOCK, &blocked, nullptr);
    if (!config_dir.empty()) setenv("XDG_CONFIG_HOME", config_dir.c_str(), 1);
    setenv("QSPAN_SIM_PTY", slave_path.c_str(), 1);
    execvp(command[0], command);
    fprintf(stderr, "qspan-sim: cannot run %s: %s\n", command[0], strerror(errno));
    _exit(127);
}

}  // namespace

// ---- the interface for modes ------------------------------------------------------

void sim_send(const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (silent) {
            log_byte("dev>host", bytes[i], "withheld (--silent)");
            continue;
        }
        output.push_back({bytes[i], device_rate});
        if (nul_between) output.push_back({0, device_rate});
    }
}

void sim_send_text(std::string_view text) {
    sim_send(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

void sim_send_byte(uint8_t byte) { sim_send(&byte, 1); }

void sim_switch(sim_mode_id id) {
    sim_note("mode %s -> %s", sim_modes[current]->name, sim_modes[id]->name);
    current = id;
    tick_ms = 0;
    if (sim_modes[id]->enter != nullptr) sim_modes[id]->enter();
}

sim_mode_id sim_current_mode() { return current; }

int32_t sim_device_rate() { return device_rate; }

void sim_set_device_rate(int32_t rate) {
    sim_note("device rate %d -> %d", int(device_rate), int(rate));
    device_rate = rate;
}

int32_t sim_host_rate() { return int32_t(posix_line_rate(master_fd)); }

void sim_set_tick(int32_t interval_ms) {
    tick_ms = interval_ms > 0 ? interval_ms : 0;
    next_tick_ns = mono_ns() + int64_t(tick_ms) * 1000000;
}

int64_t sim_now_ms() { return (mono_ns() - start_ns) / 1000000; }

bool sim_storing() { return store_dir != nullptr; }

bool sim_store(const char* name, const uint8_t* bytes, size_t count) {
    if (store_dir == nullptr) return true;
    std::string path = std::string(store_dir) + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    bool ok = f != nullptr && fwrite(bytes, 1, count, f) == count;
    if (f != nullptr && fclose(f) != 0) ok = false;
    sim_note("store %s: %zu bytes%s", path.c_str(), count, ok ? "" : " FAILED");
    if (!ok) fprintf(stderr, "qspan-sim: cannot write %s\n", path.c_str());
    return ok;
}

void sim_note(const char* format, ...) {
    if (log_file == nullptr) return;
    fprintf(log_file, "%11.6f note ", double(mono_ns() - start_ns) / 1e9);
    va_list args;
    va_start(args, format);
    vfprintf(log_file, format, args);
    va_end(args);
    fputc('\n', log_file);
}

bool sim_parse_number(const char* text, long min, long max, long* value) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 0);
    if (errno != 0 || *end != '\0' || v < min || v > max) return false;
    *value = v;
    return true;
}

int main(int argc, char** argv) {
    start_ns = mono_ns();
    int command_at = parse_options(argc, argv);
    if (log_path != nullptr && (log_file = fopen(log_path, "w")) == nullptr)
        usage_error("cannot write log", log_path);
    if (log_file != nullptr) setvbuf(log_file, nullptr, _IOLBF, 0);
    device_rate = window_rate = int32_t(start_rate);

    sigset_t blocked;
    sigemptyset(&blocked);
    for (int s : {SIGCHLD, SIGTERM, SIGINT, SIGHUP}) sigaddset(&blocked, s);
    sigprocmask(SIG_BLOCK, &blocked, nullptr);
    int signal_fd = signalfd(-1, &blocked, SFD_CLOEXEC | SFD_NONBLOCK);

    if (signal_fd < 0 || !open_line() || (com_number > 0 && !make_config_dir())) {
        fprintf(stderr, "qspan-sim: cannot set up the line: %s\n", strerror(errno));
        clean_up();
        return 1;
    }
    sim_switch(mode_text);
    pid_t child = 0;
    if (command_at < argc) {
        child = start_command(argv + command_at, blocked);
    } else {
        printf("%s\n", slave_path.c_str());
        if (!config_dir.empty()) printf("XDG_CONFIG_HOME=%s\n", config_dir.c_str());
        fflush(stdout);
    }
    int status = child < 0 ? 1 : serve(signal_fd, child);
    close(signal_fd);
    clean_up();
    return status;
}
