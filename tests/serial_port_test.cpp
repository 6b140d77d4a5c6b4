// Port layer on a pseudo-terminal that the test opens itself: COM1 is an
// alias to its slave, the test plays the device on the master.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e.h"
#include "serial/serial.h"

namespace {

// The kernel's termios2 record, to read back rates that have no B-constant.
struct kernel_termios2 {
    uint32_t c_iflag, c_oflag, c_cflag, c_lflag;
    uint8_t c_line;
    uint8_t c_cc[19];
    uint32_t c_ispeed, c_ospeed;
};
const unsigned long tcgets2 = _IOR('T', 0x2A, kernel_termios2);

double ms_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

class PortTest : public ::testing::Test {
protected:
    int master = -1;
    int held_slave = -1;  // keeps the line up while the port layer closes and reopens
    std::string slave_path;
    std::string config;

    void SetUp() override {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        slave_path = ptsname(master);
        held_slave = open(slave_path.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(held_slave, 0);
        termios t{};
        tcgetattr(held_slave, &t);
        cfmakeraw(&t);
        tcsetattr(held_slave, TCSANOW, &t);
        config = make_temp_dir();
        std::filesystem::create_directories(config + "/qspan/ports");
        std::filesystem::create_symlink(slave_path, config + "/qspan/ports/com1");
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    }
    void TearDown() override {
        close_port();
        close(held_slave);
        close(master);
    }
    void device_says(const std::string& bytes) {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    std::string device_hears() {
        std::string got;
        char buf[256];
        for (;;) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) return got;
            ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) return got;
            got.append(buf, size_t(n));
        }
    }
    std::string open_and_capture(const char* name, int32_t rate, int32_t* result) {
        testing::internal::CaptureStdout();
        *result = open_port(name, rate);
        return testing::internal::GetCapturedStdout();
    }
};

TEST(GetBaud, FindsTableRatesOnly) {
    struct { int32_t rate; bool found; const char* message; } cases[] = {
        {57600, true, ""}, {14400, true, ""}, {110, true, ""}, {115200, true, ""},
        {28800, false, ""}, {-9600, false, ""},
        {0, false, "get_baud: Error: invalid baud: 0\n"},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStdout();
        const int32_t* entry = get_baud(c.rate);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message) << c.rate;
        ASSERT_EQ(entry != nullptr, c.found) << c.rate;
        if (entry != nullptr) {
            EXPECT_EQ(*entry, c.rate);
        }
    }
}

TEST_F(PortTest, EveryTableRateIsSetOnTheLine) {
    for (const int32_t* rate = baud_table; *rate != 0; ++rate) {
        int32_t result = -99;
        EXPECT_EQ(open_and_capture("COM1", *rate, &result), "") << *rate;
        ASSERT_EQ(result, 0) << *rate;
        kernel_termios2 t{};
        ASSERT_EQ(ioctl(master, tcgets2, &t), 0);
        EXPECT_EQ(t.c_ospeed, uint32_t(*rate));
        EXPECT_EQ(t.c_ispeed, uint32_t(*rate));
        EXPECT_EQ(t.c_cflag & CSIZE, uint32_t(CS8));
        EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
        EXPECT_NE(t.c_cflag & CLOCAL, 0u);
        EXPECT_NE(t.c_cflag & CREAD, 0u);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
        close_port();
    }
}

TEST_F(PortTest, RateOutsideTheTableIsRefusedAndNothingStaysOpen) {
    int32_t result = 0;
    EXPECT_EQ(open_and_capture("COM1", 28800, &result), "\a\aError: Invalid baud rate 28800\n");
    EXPECT_EQ(result, -3);
    // The port was closed: another holder can lock it at once.
    int other = open(slave_path.c_str(), O_RDWR | O_NOCTTY);
    EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    close(other);
}

TEST_F(PortTest, OpenFailuresNameTheDevicePathTried) {
    std::filesystem::create_symlink("/dev/null", config + "/qspan/ports/com2");
    std::string plain = config + "/plain-file";
    { FILE* f = fopen(plain.c_str(), "w"); fclose(f); }
    std::filesystem::create_symlink(plain, config + "/qspan/ports/com4");
    struct { const char* name; std::string message; } cases[] = {
        {"COM2", "\a\aError: cannot open COM port COM2: " + config +
                     "/qspan/ports/com2 -> /dev/null: not a serial port (not a terminal device)\n"},
        {"COM4", "\a\aError: cannot open COM port COM4: " + config + "/qspan/ports/com4 -> " +
                     plain + ": not a serial port (not a terminal device)\n"},
        {"COM20", "\a\aError: cannot open COM port COM20: /dev/ttyS19: No such file or directory\n"},
        {"com1x", "\a\aError: cannot open COM port com1x: com1x: No such file or directory\n"},
    };
    for (const auto& c : cases) {
        int32_t result = 0;
        EXPECT_EQ(open_and_capture(c.name, 9600, &result), c.message);
        EXPECT_EQ(result, -2);
    }
    int32_t result = 0;
    EXPECT_EQ(open_and_capture(nullptr, 9600, &result), "open_port: Error: port null argument\n");
    EXPECT_EQ(result, -1);
}

TEST_F(PortTest, LowerCaseAliasAndPortInUseElsewhere) {
    int other = open(slave_path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    int32_t result = 0;
    std::string out = open_and_capture("COM1", 9600, &result);
    EXPECT_EQ(result, -2);
    EXPECT_EQ(out, "\a\aError: cannot open COM port COM1: " + config + "/qspan/ports/com1 -> " +
                       slave_path + ": port is in use by another program\n");
    close(other);
    EXPECT_EQ(open_and_capture("com01", 9600, &result), "");
    EXPECT_EQ(result, 0);
}

TEST_F(PortTest, SilentReadsWaitTheirWholeTimeOut) {
    // size * (10000 / B) + time-out + 10 ms, never early.
    struct { int32_t rate; uint32_t size; int32_t timeout; double total; } cases[] = {
        {9600, 10, 50, 70}, {19200, 10, 50, 60}, {4800, 20, 20, 70}, {110, 1, 5, 105},
    };
    uint8_t buf[64];
    for (const auto& c : cases) {
        int32_t result = 0;
        open_and_capture("COM1", c.rate, &result);
        ASSERT_EQ(result, 0);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(read_port("COM1", buf, c.size, c.timeout), 0u);
        double took = ms_since(start);
        EXPECT_GE(took, c.total) << c.rate;
        EXPECT_LT(took, c.total + 25) << c.rate;
        close_port();
    }
}

TEST_F(PortTest, ReadReturnsOnceSizeBytesArriveAndDropsNul) {
    int32_t result = 0;
    open_and_capture("COM1", 9600, &result);
    ASSERT_EQ(result, 0);
    uint8_t buf[16] = {};
    device_says(std::string("A\0B\0\0C", 6));
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(read_port("COM1", buf, 3, 2000), 3u);
    EXPECT_LT(ms_since(start), 500);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "ABC");
    // Partial answer: what came, after the whole time-out.
    device_says(std::string("\0x\0", 3));
    EXPECT_EQ(read_port("COM1", buf, 4, 30), 1u);
    EXPECT_EQ(buf[0], 'x');
    // A lone NUL counts as silence.
    device_says(std::string("\0", 1));
    EXPECT_EQ(read_port("COM1", buf, 1, 30), 0u);
}

TEST_F(PortTest, WriteSendsEveryByteAndChecksItsArguments) {
    int32_t result = 0;
    open_and_capture("COM1", 19200, &result);
    ASSERT_EQ(result, 0);
    std::vector<uint8_t> big(3000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t('a' + i % 26);
    EXPECT_EQ(write_port("COM1", big.data(), int32_t(big.size())), 3000);
    std::string heard = device_hears();
    EXPECT_EQ(heard, std::string(big.begin(), big.end()));

    struct { const char* name; const uint8_t* buf; int32_t len; int32_t result; const char* message; } cases[] = {
        {"COM1", big.data(), 0, -1, "write_port: Error: invalid param len: 0\n"},
        {"COM1", big.data(), -5, -1, "write_port: Error: invalid param len: -5\n"},
        {nullptr, big.data(), 1, -1, "write_port: Error: invalid param file port\n"},
        {"COM1", nullptr, 1, -2, "write_port: Error: invalid param buf ptr\n"},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(write_port(c.name, c.buf, c.len), c.result);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message);
    }
    EXPECT_EQ(device_hears(), "");
}

TEST_F(PortTest, WriteToAPeerThatStopsReadingEndsInBoundedTime) {
    // 115200: a write multiplier of 0, so 10 ms plus a one-second grace for
    // a busy machine; the line's buffer fills long before 200000 bytes.
    int32_t result = 0;
    open_and_capture("COM1", 115200, &result);
    ASSERT_EQ(result, 0);
    std::vector<uint8_t> big(200000, 'z');
    auto start = std::chrono::steady_clock::now();
    testing::internal::CaptureStdout();
    EXPECT_EQ(write_port("COM1", big.data(), int32_t(big.size())), -3);
    std::string out = testing::internal::GetCapturedStdout();
    double took = ms_since(start);
    EXPECT_GE(took, 1010);
    EXPECT_LT(took, 1200);
    EXPECT_EQ(out.rfind("\a\aError: wrote ", 0), 0u) << out;
    EXPECT_NE(out.find(" of 200000, got error on port COM1: " + config + "/qspan/ports/com1 -> " +
                       slave_path + ": write timed out\n"),
              std::string::npos)
        << out;
}

TEST_F(PortTest, PurgeDiscardsWhatWasNotRead) {
    int32_t result = 0;
    open_and_capture("COM1", 9600, &result);
    ASSERT_EQ(result, 0);
    device_says("stale bytes");
    usleep(20000);
    purge_port();
    uint8_t buf[32];
    EXPECT_EQ(read_port("COM1", buf, sizeof buf, 20), 0u);
}

TEST_F(PortTest, WriteOnAClosedPortFailsWithItsMessage) {
    const uint8_t byte = 'x';
    testing::internal::CaptureStdout();
    EXPECT_EQ(write_port("COM1", &byte, 1), -3);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("\a\aError: wrote 0 of 1, got error on port COM1: ", 0), 0u) << out;
}

using PortDeathTest = PortTest;

TEST_F(PortDeathTest, HangUpIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    int32_t result = 0;
    open_and_capture("COM1", 9600, &result);
    ASSERT_EQ(result, 0);
    close(master);
    master = -1;
    uint8_t buf[4];
    EXPECT_EXIT(read_port("COM1", buf, 4, 1000), testing::ExitedWithCode(3),
                "Error: could not read on COM port COM1: .*: the device hung up\n"
                "Return code 26, system error code 5\n");
}

}  // namespace
