// connect_device's reading of the identification, in-process against a
// scripted device on a pseudo-terminal. Replies are padded to the 200 bytes
// the identification read asks for, so each case returns at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "e2e.h"
#include "serial/serial.h"

namespace {

class ConnectReply : public ::testing::Test {
protected:
    int master = -1;
    int held_slave = -1;
    std::string slave_path;

    void SetUp() override {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        grantpt(master);
        unlockpt(master);
        slave_path = ptsname(master);
        held_slave = open(slave_path.c_str(), O_RDWR | O_NOCTTY);
        termios t{};
        tcgetattr(held_slave, &t);
        cfmakeraw(&t);
        tcsetattr(held_slave, TCSANOW, &t);
        std::string config = make_temp_dir();
        std::filesystem::create_directories(config + "/qspan/ports");
        std::filesystem::create_symlink(slave_path, config + "/qspan/ports/com1");
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        std::strcpy(port_name, "COM1");
        connected = 0;
    }
    void TearDown() override {
        close_port();
        connected = 0;
        close(held_slave);
        close(master);
    }
    // Waits for `expect` bytes from the host, then answers.
    std::thread device(size_t expect, std::string answer) {
        return std::thread([this, expect, answer] {
            size_t heard = 0;
            char buf[64];
            while (heard < expect) {
                pollfd p{master, POLLIN, 0};
                if (poll(&p, 1, 5000) <= 0) return;
                ssize_t n = read(master, buf, sizeof buf);
                if (n <= 0) return;
                heard += size_t(n);
            }
            if (write(master, answer.data(), answer.size()) < 0) return;
        });
    }
    int32_t connect_with_reply(std::string reply, std::string* out) {
        reply.resize(200, ' ');
        std::thread t = device(10, reply);
        testing::internal::CaptureStdout();
        int32_t result = connect_device(9600, 0);
        *out = testing::internal::GetCapturedStdout();
        t.join();
        return result;
    }
    bool port_free() {
        int fd = open(slave_path.c_str(), O_RDWR | O_NOCTTY);
        bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
        close(fd);
        return free;
    }
};

const std::string connecting = "Connecting at 9600...\n";
const std::string too_old = "\n\a\aError: received Brelvanode version ";
const std::string no_version =
    "\n\a\aError: did not receive the Brelvanode version (minimum 2.2)!\n";

TEST_F(ConnectReply, VersionIsReadOnlyAfterTheProductWord) {
    struct { const char* reply; int32_t result; std::string message; } cases[] = {
        {"Brelvanode\r\nVersion 2.2", 0, "\aConnected at 9600\n"},
        {"Brelvanode\r\nVersion 2.10\r\n", 0, "\aConnected at 9600\n"},
        {"xBrelvanode Version +3.0", 0, "\aConnected at 9600\n"},
        {"Brelvanode\r\nVersion 2 build 7.1", 4, too_old + "2.1 but minimal is 2.2!\n"},
        {"Brelvanode\r\nVersion 2 rev.7", 0, "\aConnected at 9600\n"},
        {"Version 2.2 Brelvanode", 4, no_version},
        {"Version 2.2 Brelvanode Version 1.9", 4, too_old + "1.9 but minimal is 2.2!\n"},
        {"Brelvanode Version 3", 4, no_version},
        {"Brelvanode Version -1.5", 4, too_old + "-1.5 but minimal is 2.2!\n"},
        {"Brelvanode Version x.9", 4, too_old + "0.9 but minimal is 2.2!\n"},
    };
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(connect_with_reply(c.reply, &out), c.result) << c.reply;
        EXPECT_EQ(out, connecting + c.message) << c.reply;
        EXPECT_EQ(connected, c.result == 0 ? 1 : 0) << c.reply;
        EXPECT_EQ(port_free(), c.result != 0) << c.reply;
        close_port();
        connected = 0;
    }
}

TEST_F(ConnectReply, VersionWordAtTheVeryEndOfTheReplyIsNoVersion) {
    // Exactly 200 bytes ending in "Version ": nothing after it may be read.
    std::string reply = "Brelvanode";
    reply.resize(200 - 8, '-');
    reply += "Version ";
    std::memset(reply_buffer + 200, '.', 20);  // stale bytes beyond the reply
    std::string out;
    EXPECT_EQ(connect_with_reply(reply, &out), 4);
    EXPECT_EQ(out, connecting + no_version);
}

TEST_F(ConnectReply, AnOldPromptInTheBufferNeverCountsForAReconnect) {
    std::string out;
    ASSERT_EQ(connect_with_reply("Brelvanode Version 2.2\r\nBrelva> ", &out), 0);
    std::memcpy(reply_buffer, "Brelva> ", 8);
    // The device hears "host 19200\n" and the line feed but stays silent.
    std::thread t = device(12, "");
    testing::internal::CaptureStdout();
    change_link_baud(19200);
    out = testing::internal::GetCapturedStdout();
    t.join();
    EXPECT_EQ(out, "Connecting at 19200...\n\a\aError: did not receive the Brelvanode prompt!\n");
    EXPECT_EQ(connected, 0);
    EXPECT_TRUE(port_free());
}

TEST_F(ConnectReply, OpenFailureLeavesTheConnectionDown) {
    std::strcpy(port_name, "COM20");
    testing::internal::CaptureStdout();
    EXPECT_EQ(connect_device(9600, 0), 2);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind(connecting + "\a\aError: cannot open COM port COM20: /dev/ttyS19: ", 0), 0u)
        << out;
    EXPECT_NE(out.find("\n\a\aError: could not open COM port COM20\n"), std::string::npos) << out;
    EXPECT_EQ(connected, 0);
}

}  // namespace
