// The download over a pseudo-terminal: this test plays the device on the
// master side in a thread, the code under test talks through the port layer
// on the slave side, reached as COM7 through a port alias.
//
// Covers the ACK/NAK/time-out/wrong-byte paths of one packet and the whole
// packet sequence of a download, including chatter before the first packet
// and the message chain when a packet is refused.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "download/download.h"
#include "e2e.h"
#include "rules/rules.h"
#include "serial/serial.h"

namespace {

using bytes = std::vector<uint8_t>;
constexpr uint8_t ack = 0x06, nak = 0x15;
constexpr int no_answer = -1;

// The line: a pseudo-terminal whose slave is aliased as COM7. The test keeps
// a slave descriptor open so the master never sees a hang-up while the host
// closes and reopens.
struct pty_line {
    int master = -1;
    int slave = -1;
};

pty_line open_line_as_com7() {
    pty_line line;
    char name[128];
    if (openpty(&line.master, &line.slave, name, nullptr, nullptr) != 0) return line;
    std::string home = make_temp_dir();
    std::filesystem::create_directories(home + "/qspan/ports");
    std::filesystem::create_symlink(name, home + "/qspan/ports/com7");
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    return line;
}

void close_line(pty_line& line) {
    close(line.master);
    close(line.slave);
}

// Reads exactly n bytes from fd, giving up when stop is set or after wait_ms.
bool read_exact(int fd, uint8_t* buf, size_t n, const std::atomic<bool>& stop, int wait_ms) {
    size_t got = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    while (got < n && !stop && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        ssize_t r = read(fd, buf + got, n - got);
        if (r <= 0) return false;
        got += size_t(r);
    }
    return got == n;
}

// The device's side: optionally reads "download\n", sends chatter, then reads
// framed packets and answers each with what answer() returns for it.
struct fake_device {
    size_t preamble_len = 0;
    bytes chatter;
    std::function<int(const bytes& pkt, size_t index)> answer =
        [](const bytes&, size_t) { return int(ack); };

    std::mutex lock;
    bytes preamble;
    std::vector<bytes> received;
    std::atomic<bool> stop{false};
    std::thread worker;
};

void device_loop(fake_device& d, int master) {
    bytes pre(d.preamble_len);
    if (d.preamble_len > 0 && !read_exact(master, pre.data(), pre.size(), d.stop, 10000)) return;
    d.preamble = pre;
    if (!d.chatter.empty() && write(master, d.chatter.data(), d.chatter.size()) < 0) return;
    for (size_t index = 0; !d.stop; ++index) {
        uint8_t head[2];
        if (!read_exact(master, head, 2, d.stop, 60000)) return;
        bytes pkt(head, head + 2);
        pkt.resize(size_t(head[0] << 8 | head[1]));
        if (pkt.size() < 2 || !read_exact(master, pkt.data() + 2, pkt.size() - 2, d.stop, 2000))
            return;
        int a;
        {
            std::lock_guard g(d.lock);
            d.received.push_back(pkt);
            a = d.answer(pkt, index);
        }
        uint8_t byte = uint8_t(a);
        if (a != no_answer && write(master, &byte, 1) != 1) return;
    }
}

void start_device(fake_device& d, int master) {
    d.worker = std::thread([&d, master] { device_loop(d, master); });
}

void stop_device(fake_device& d) {
    d.stop = true;
    if (d.worker.joinable()) d.worker.join();
}

struct DownloadPty : testing::Test {
    pty_line line;
    void SetUp() override {
        line = open_line_as_com7();
        ASSERT_GE(line.master, 0);
        std::snprintf(port_name, sizeof port_name, "COM7");
        ASSERT_EQ(open_port(port_name, 19200), 0);
    }
    void TearDown() override {
        close_port();
        connected = 0;
        close_line(line);
        conf_reset();
        rule_table = {};
    }
};

bytes packet_of(std::initializer_list<uint8_t> payload) {
    bytes pkt(payload.size() + 4);
    std::copy(payload.begin(), payload.end(), pkt.begin() + 2);
    return pkt;
}

// ---- one packet -----------------------------------------------------------

TEST_F(DownloadPty, OnePacketAnswers) {
    const bytes framed = {0x00, 0x05, 0x41, 0xb6, 0x1c};
    struct {
        const char* name;
        std::vector<int> answers;  // per transmission; the last repeats
        int result;
        size_t transmissions;
        const char* message;
    } cases[] = {
        {"ACK at once", {ack}, 5, 1, ""},
        {"NAK four times, then ACK", {nak, nak, nak, nak, ack}, 5, 5, ""},
        {"NAK five times", {nak}, -6, 5, ""},
        {"wrong answer byte", {0x41}, -5, 1, "\a\aError: reading ack or nak: got 0x41\n"},
    };
    for (const auto& c : cases) {
        fake_device dev;
        dev.answer = [&](const bytes&, size_t i) {
            return c.answers[std::min(i, c.answers.size() - 1)];
        };
        start_device(dev, line.master);
        bytes pkt = packet_of({0x41});
        testing::internal::CaptureStdout();
        int r = dwn_write_pkt(pkt.data(), int(pkt.size()));
        std::string out = testing::internal::GetCapturedStdout();
        stop_device(dev);
        EXPECT_EQ(r, c.result) << c.name;
        EXPECT_EQ(out, c.message) << c.name;
        ASSERT_EQ(dev.received.size(), c.transmissions) << c.name;
        for (const auto& got : dev.received) EXPECT_EQ(got, framed) << c.name;
    }
}

TEST_F(DownloadPty, NulBeforeTheAckIsNotAnAnswer) {
    fake_device dev;
    dev.answer = [&](const bytes&, size_t) {
        const uint8_t nul_then_ack[2] = {0x00, ack};
        if (write(line.master, nul_then_ack, 2) != 2) ADD_FAILURE() << "write to the line";
        return no_answer;
    };
    start_device(dev, line.master);
    bytes pkt = packet_of({0x41});
    testing::internal::CaptureStdout();
    int r = dwn_write_pkt(pkt.data(), int(pkt.size()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    stop_device(dev);
    EXPECT_EQ(r, 5);
}

TEST_F(DownloadPty, SilentDeviceTimesOutAfterFiveSeconds) {
    fake_device dev;
    dev.answer = [](const bytes&, size_t) { return no_answer; };
    start_device(dev, line.master);
    bytes pkt = packet_of({0x41});
    auto t0 = std::chrono::steady_clock::now();
    testing::internal::CaptureStdout();
    int r = dwn_write_pkt(pkt.data(), int(pkt.size()));
    std::string out = testing::internal::GetCapturedStdout();
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    stop_device(dev);
    EXPECT_EQ(r, -4);
    EXPECT_EQ(out, "\a\aError: reading ack or nak: 0\n");
    EXPECT_EQ(dev.received.size(), 1u);
    EXPECT_GE(s, 5.0);
    EXPECT_LT(s, 6.5);
}

// ---- the whole sequence ----------------------------------------------------

bytes command_packet(const char* word, const char* count) {
    bytes pkt(21);
    std::memcpy(pkt.data() + 2, word, std::strlen(word));
    std::memcpy(pkt.data() + 14, count, std::strlen(count));
    dwn_frame_packet(pkt.data(), 21);
    return pkt;
}

void fill_rules_with_pattern() {
    for (size_t r = 0; r < rule_table.size(); ++r)
        for (size_t b = 0; b < rule_record_size; ++b) rule_table[r][b] = uint8_t(r * 7 + b + 1);
}

// Checks the data packets from index first on: sizes, framing, and that their
// payloads put together give the image.
void expect_data_packets(const std::vector<bytes>& got, size_t first, const bytes& image,
                         const std::vector<size_t>& sizes, const std::string& what) {
    ASSERT_GE(got.size(), first + sizes.size()) << what;
    bytes joined;
    for (size_t i = 0; i < sizes.size(); ++i) {
        const bytes& p = got[first + i];
        EXPECT_EQ(p.size(), sizes[i]) << what << " packet " << i;
        EXPECT_EQ(dwn_crc16(0xFFFF, p.data(), p.size(), dwn_crc_table), 0) << what;
        joined.insert(joined.end(), p.begin() + 2, p.end() - 2);
    }
    EXPECT_EQ(joined, image) << what;
}

TEST_F(DownloadPty, SequenceForZeroOneAndFiftyRules) {
    struct { int rules; const char* count; std::vector<size_t> sizes; } cases[] = {
        {0, "0", {}},
        {1, "28", {32}},
        {50, "1400", std::vector<size_t>(23, 64)},
    };
    cases[2].sizes.push_back(24);
    fill_rules_with_pattern();
    for (const auto& c : cases) {
        conf_reset();
        conf_record.rule_count = uint16_t(c.rules);
        const auto conf = conf_pack(conf_record);
        fake_device dev;
        dev.chatter = bytes(64, '>');  // the device's reply to "download\n"
        start_device(dev, line.master);
        testing::internal::CaptureStdout();
        int r = dwn_download();
        std::string out = testing::internal::GetCapturedStdout();
        stop_device(dev);
        std::string what = std::to_string(c.rules) + " rules";
        EXPECT_EQ(r, 0) << what;
        EXPECT_EQ(out, "Downloading Configuration succeeded\nDownloading Rules succeeded\n") << what;
        const auto& got = dev.received;
        ASSERT_EQ(got.size(), 1 + 3 + 1 + c.sizes.size() + 1) << what;
        EXPECT_EQ(got[0], command_packet("conf", "178")) << what;
        expect_data_packets(got, 1, bytes(conf.begin(), conf.end()), {64, 64, 62}, what);
        EXPECT_EQ(got[4], command_packet("rules", c.count)) << what;
        bytes rules(rule_table[0].data(), rule_table[0].data() + 28 * c.rules);
        expect_data_packets(got, 5, rules, c.sizes, what);
        EXPECT_EQ(got.back(), command_packet("-cestfini-", "")) << what;
    }
}

TEST_F(DownloadPty, RefusedPacketStopsTheSequenceWithItsMessageChain) {
    // Transmission index of the refused packet: 0 conf command, 1..3 conf data,
    // 4 rules command, 5 the one rule, 6 finish.
    struct { size_t packet; int result; const char* messages; } cases[] = {
        {0, -1, "\a\aError: writing Configuration command failed: -6\n"},
        {2, -2, "\a\aError: writing data pkt: -6\n"
                "\a\aError: writing Configuration file failed: -3\n"},
        {4, -3, "Downloading Configuration succeeded\n"
                "\a\aError: writing Rules command failed: -6\n"},
        {5, -4, "Downloading Configuration succeeded\n"
                "\a\aError: writing data pkt: -6\n"
                "\a\aError: writing Rules file failed: -3\n"},
        {6, -5, "Downloading Configuration succeeded\nDownloading Rules succeeded\n"
                "\a\aError: error writing finish pkt: -6\n"},
    };
    conf_reset();
    conf_record.rule_count = 1;
    for (const auto& c : cases) {
        fake_device dev;
        size_t distinct = 0;
        bytes last;
        dev.answer = [&](const bytes& pkt, size_t) {
            if (pkt != last) ++distinct;
            last = pkt;
            return distinct - 1 == c.packet ? int(nak) : int(ack);
        };
        start_device(dev, line.master);
        testing::internal::CaptureStdout();
        int r = dwn_download();
        std::string out = testing::internal::GetCapturedStdout();
        stop_device(dev);
        EXPECT_EQ(r, c.result) << "packet " << c.packet;
        EXPECT_EQ(out, c.messages) << "packet " << c.packet;
        EXPECT_EQ(dev.received.size(), c.packet + 5) << "nothing is sent after the refusal";
    }
}

TEST_F(DownloadPty, CommandWritesDownloadAndAlwaysDisconnects) {
    conf_reset();
    fake_device dev;
    dev.preamble_len = 9;
    dev.chatter = {'o', 'k', '\r', '\n'};
    start_device(dev, line.master);
    connected = 1;
    testing::internal::CaptureStdout();
    download_command();
    std::string out = testing::internal::GetCapturedStdout();
    stop_device(dev);
    EXPECT_EQ(std::string(dev.preamble.begin(), dev.preamble.end()), "download\n");
    EXPECT_EQ(out, "Downloading Configuration succeeded\nDownloading Rules succeeded\n"
                   "Disconnected\n");
    EXPECT_EQ(connected, 0);
    EXPECT_EQ(dev.received.size(), 6u);
}

TEST_F(DownloadPty, FailedWriteOfTheCommandKeepsTheConnection) {
    close_port();  // the write then fails in the port layer
    connected = 1;
    testing::internal::CaptureStdout();
    download_command();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("\a\aError: wrote Download command, got error on port COM7\n"),
              std::string::npos) << out;
    EXPECT_EQ(out.find("Disconnected"), std::string::npos);
    EXPECT_EQ(connected, 1);
}

}  // namespace
