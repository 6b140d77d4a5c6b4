#include "e2e.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace {

std::vector<std::string>& temp_dirs() {
    static std::vector<std::string> dirs;
    static bool registered = false;
    if (!registered) {
        registered = true;
        std::atexit([] {
            for (const auto& d : temp_dirs()) {
                std::error_code ec;
                std::filesystem::remove_all(d, ec);
            }
        });
    }
    return dirs;
}

void set_nonblocking_close_on_exec(int fd) { fcntl(fd, F_SETFD, FD_CLOEXEC); }

}  // namespace

std::string make_temp_dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qspan-test-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    temp_dirs().push_back(buf.data());
    return buf.data();
}

std::string write_temp_file(const std::string& name, const std::string& content) {
    std::string path = make_temp_dir() + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

run_result run_program(const std::vector<std::string>& argv, const std::string& input,
                       const std::vector<std::string>& extra_env, int timeout_s) {
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0 || pipe(err_pipe) != 0)
        throw std::runtime_error("pipe failed");
    for (int fd : {in_pipe[1], out_pipe[0], err_pipe[0]}) set_nonblocking_close_on_exec(fd);
    signal(SIGPIPE, SIG_IGN);

    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        for (const auto& e : extra_env) putenv(strdup(e.c_str()));
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);

    run_result r;
    size_t written = 0;
    int in_fd = in_pipe[1];
    if (input.empty()) { close(in_fd); in_fd = -1; }
    int out_fd = out_pipe[0], err_fd = err_pipe[0];
    auto deadline = start + std::chrono::seconds(timeout_s);
    bool killed = false;
    while (out_fd >= 0 || err_fd >= 0) {
        pollfd fds[3];
        int n = 0;
        if (out_fd >= 0) fds[n++] = {out_fd, POLLIN, 0};
        if (err_fd >= 0) fds[n++] = {err_fd, POLLIN, 0};
        if (in_fd >= 0) fds[n++] = {in_fd, POLLOUT, 0};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
        // poll: number of ready descriptors, 0 on time-out, -1 with errno
        if (poll(fds, n, int(left)) < 0 && errno != EINTR) break;
        for (int i = 0; i < n; ++i) {
            if (fds[i].revents == 0) continue;
            int fd = fds[i].fd;
            if (fd == in_fd) {
                ssize_t w = write(fd, input.data() + written, input.size() - written);
                if (w > 0) written += size_t(w);
                if (w < 0 || written == input.size()) { close(in_fd); in_fd = -1; }
                continue;
            }
            char buf[4096];
            ssize_t got = read(fd, buf, sizeof buf);
            std::string& sink = fd == out_fd ? r.out : r.err;
            if (got > 0) {
                sink.append(buf, size_t(got));
            } else {
                close(fd);
                (fd == out_fd ? out_fd : err_fd) = -1;
            }
        }
    }
    if (in_fd >= 0) close(in_fd);
    if (out_fd >= 0) close(out_fd);
    if (err_fd >= 0) close(err_fd);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (killed) r.err += "\n[killed after time-out]\n";
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return r;
}

run_result run_qspan(const std::string& input) {
    return run_program({qspan_bin}, input, {"XDG_CONFIG_HOME=" + make_temp_dir()}, 30);
}

run_result run_session(const std::vector<std::string>& sim_args, const std::string& input,
                       int timeout_s) {
    std::vector<std::string> argv = {qspan_sim_bin, "--com", "1"};
    argv.insert(argv.end(), sim_args.begin(), sim_args.end());
    argv.push_back("--");
    argv.push_back(qspan_bin);
    return run_program(argv, input, {}, timeout_s);
}

std::string summary_text(const char* rates) {
    return std::string(
               "\n\t\tCommand Summary:\n"
               "Command    Arguments            Comments\n"
               "help                            Displays this summary (alias ?)\n"
               ".                               Repeats the previous command\n"
               "angles                          Displays the Angles format used for Lat and Lon\n"
               "baud       baud                 Changes the baud rates on host and Brelvanode\n"
               "\t\t\t\tonce connected. Default [ ]\n"
               "           Valid Baud Rates:\t") +
           rates +
           "\n\n"
           "configure  file_name            Reads a Configuration file\n"
           "dconfigure                      Displays the Configuration\n"
           "rules      file_name            Reads a Rules file\n"
           "drules                          Displays the Rules\n"
           "connect    com_port [baud]      Connect to Brelvanode at optional baud\n"
           "\t\t\t\t(8 bits No Parity 1 Stop)\n"
           "disconnect                      Disconnect from the Brelvanode\n"
           "download                        Download Configuration and Rules to Brelvanode\n"
           "firmware   com_port file_name   Update Brelvanode firmware from firmware file\n"
           "serialtest iterations           Serial data test for the specified iterations\n"
           "exit                            Exits this program (aliases quit, x)\n";
}

std::string startup_text() {
    return "Brelvanode PC Host Q-Span Utility Version 2.2 - written by the Q-Span team\n"
           "Brelva Radio Works - host port utility for the Brelvanode APRS digipeater\n" +
           summary_text() + "\n";
}

std::string default_configuration_text() {
    return "Configuration Version 2.2\n"
           "Station Call\tNOTSET\tSSID 0\n"
           "Base Lat  45.464169\tLon     9.19000    Altitude 0 meters\n"
           "Host  baud\t19200\nDSTAR baud\t9600\nTNC   baud\t19200\n"
           "Dupe Window 28 sec.\tCall Rate Limit 0 sec.\n"
           "Beacon 600 sec.\tIcon /#\n"
           "Beacon Comment: \n"
           "NSR: Disabled\n"
           "Digi Path[0]: \n"
           "Log Port: Yes\n"
           "Fix Valid: Yes\tPass packets without valid position: No\n"
           "Halt On Error: No\tDrop Mangled Packet: Yes\n"
           "Rule count 0\tImplicit Rule Action: Pass\n";
}
