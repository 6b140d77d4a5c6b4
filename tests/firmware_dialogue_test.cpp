// The firmware update in process against a scripted boot loader on a
// pseudo-terminal: the result codes the shell never shows, and the prompt and
// sync reports, which a loader that answers wrongly reaches in a moment (a
// silent one would cost the full 20 s wait).
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "e2e.h"
#include "firmware/firmware.h"
#include "serial/serial.h"

namespace {

const std::string warning = firmware_warning_text;

const std::string two_records = ":0400000001020304F2\n:00000001FF\n";

// What the loader sends: its prompt once, some time after "reset\n" (so the
// host has reopened the port), then these answers to SYN and the identifier.
struct loader_script {
    std::string prompt;
    std::string sync_answer;
    std::string ident_answer = "\x06";
};

bool wait_readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) > 0;
}

[[noreturn]] void scripted_loader(int master, const loader_script& s) {
    std::string heard;
    enum { running, syncing, identifying, loading } phase = running;
    char buf[512];
    while (wait_readable(master, 10000)) {
        ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) break;
        for (ssize_t i = 0; i < n; ++i) {
            heard += buf[i];
            std::string answer;
            if (phase == running && heard.size() >= 6 &&
                heard.compare(heard.size() - 6, 6, "reset\n") == 0) {
                usleep(400000);
                answer = s.prompt, phase = syncing, heard.clear();
            } else if (phase == syncing && buf[i] == 0x16) {
                answer = s.sync_answer, phase = identifying, heard.clear();
            } else if (phase == identifying && heard == "bRvNoD1.0") {
                answer = s.ident_answer, phase = loading, heard.clear();
            } else if (phase == loading && buf[i] == '\r') {
                answer = "\x06", heard.clear();
            }
            if (!answer.empty() && write(master, answer.data(), answer.size()) < 0) _exit(1);
        }
    }
    _exit(0);
}

struct outcome {
    int result;
    std::string out;
};

// Runs firmware(9, file) against the script, with the Enter key read from
// an empty standard input.
outcome run_update(const loader_script& script, const std::string& hex_text) {
    int master = -1, slave = -1;
    char name[128];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return {-100, "openpty failed"};
    std::string home = make_temp_dir();
    std::filesystem::create_directories(home + "/qspan/ports");
    std::filesystem::create_symlink(name, home + "/qspan/ports/com9");
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    std::string hex = write_temp_file("fw.hex", hex_text);

    pid_t child = fork();
    if (child == 0) scripted_loader(master, script);
    int saved_in = dup(0), null_fd = open("/dev/null", O_RDONLY);
    dup2(null_fd, 0);
    testing::internal::CaptureStdout();
    int result = firmware(9, hex.c_str());
    std::string out = testing::internal::GetCapturedStdout();
    dup2(saved_in, 0);
    close(saved_in), close(null_fd);
    clearerr(stdin);
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    close(master), close(slave);
    return {result, out};
}

TEST(FirmwareDialogue, EnqAnywhereInTheFirstBytesIsThePrompt) {
    outcome o = run_update({"ab\x05", "\x06"}, two_records);
    EXPECT_EQ(o.result, 0) << o.out;
    EXPECT_NE(o.out.find("\a\nConnected at 19200\n\n\n"), std::string::npos) << o.out;
    EXPECT_EQ(o.out.substr(o.out.size() - 14), "\nDisconnected\n") << o.out;
}

TEST(FirmwareDialogue, PromptReportShowsTheBytesOfBothReads) {
    outcome o = run_update({"abc", "\x06"}, two_records);
    EXPECT_EQ(o.result, -6);
    EXPECT_EQ(o.out, warning +
                         "\n\a\aError: did not receive the Brelvanode Firmware prompt!\n"
                         "\nRead #1 got 1 char\nRead #2 got 2 chars:\n"
                         "0x61 0x62 0x63 \nDisconnected\n");
}

TEST(FirmwareDialogue, SyncReportShowsTheClearedAnswerArea) {
    outcome o = run_update({"\x05", "xy\x7f"}, two_records);
    std::string area = "x y [7f] ";
    for (int i = 3; i < 20; ++i) area += "[00] ";
    EXPECT_EQ(o.result, -8);
    EXPECT_EQ(o.out, warning +
                         "\n\a\aError: did not synchronize with the Brelvanode!\n"
                         "\nRead #1 got 1 char\nRead #2 got 2 chars:\n" +
                         area + "\nDisconnected\n");
}

TEST(FirmwareDialogue, IdentifierRefusedGivesMinusTen) {
    outcome o = run_update({"\x05", "\x06", "\x15"}, two_records);
    EXPECT_EQ(o.result, -10);
    EXPECT_NE(o.out.find("\n\a\aError: did not receive bRvNoD identifier acknowledgement!\n"
                         "\nRead #1 got 1 char\nRead #2 got 0 chars:\n[15] [00] "),
              std::string::npos)
        << o.out;
}

// Failures before the dialogue: nothing is sent and no "Disconnected".
TEST(FirmwareDialogue, FailuresBeforeThePortIsOpen) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(firmware(9, nullptr), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "firmware: Error: param filename is invalid\n");

    testing::internal::CaptureStdout();
    EXPECT_EQ(firmware(9, "/nonexistent/fw.hex"), -2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\a\aError: cannot open /nonexistent/fw.hex\n");

    testing::internal::CaptureStdout();
    EXPECT_EQ(firmware(9, write_temp_file("fw.hex", "# nothing\n").c_str()), -4);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\a\aError: Firmware file is empty!\n\a\aError: Firmware file has some kind of "
              "error!\n");

    setenv("XDG_CONFIG_HOME", make_temp_dir().c_str(), 1);  // no alias: COM17 does not exist
    testing::internal::CaptureStdout();
    EXPECT_EQ(firmware(17, write_temp_file("fw.hex", two_records).c_str()), -5);
    std::string out = testing::internal::GetCapturedStdout();
    const std::string last = "\a\aError: could not open COM port COM17\n";
    EXPECT_EQ(out.substr(out.size() - last.size()), last) << out;
    EXPECT_EQ(out.find("Disconnected"), std::string::npos);
    EXPECT_STREQ(port_name, "COM17");
}

}  // namespace
