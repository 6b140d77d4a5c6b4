// The simulated device's download receiver, driven byte by byte: this test
// program runs itself as qspan-sim's child (QSPAN_DL_CHILD set), talks to the
// device through the port layer on COM1 and checks each answer; the parent
// checks the child's verdict and the images the device stored.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "download/download.h"
#include "e2e.h"
#include "serial/serial.h"

namespace {

using bytes = std::vector<uint8_t>;

bool in_child() { return std::getenv("QSPAN_DL_CHILD") != nullptr; }

void send_raw(const bytes& b) {
    ASSERT_EQ(write_port(port_name, b.data(), int32_t(b.size())), int32_t(b.size()));
}

void send_text(const std::string& s) { send_raw(bytes(s.begin(), s.end())); }

// The one answer byte, or -1 when none came within wait_ms.
int answer(int wait_ms = 1000) {
    uint8_t a = 0;
    return read_port(port_name, &a, 1, wait_ms) == 1 ? a : -1;
}

bytes framed(bytes payload) {
    bytes p(payload.size() + 4);
    std::copy(payload.begin(), payload.end(), p.begin() + 2);
    dwn_frame_packet(p.data(), int(p.size()));
    return p;
}

bytes command(const char* word, const char* count) {
    bytes payload(17);
    std::memcpy(payload.data(), word, std::strlen(word));
    std::memcpy(payload.data() + 12, count, std::strlen(count));
    return framed(payload);
}

std::string reply_text(int wait_ms) {
    uint8_t buf[256];
    uint32_t n = read_port(port_name, buf, sizeof buf, wait_ms);
    return std::string(buf, buf + n);
}

bytes conf_pattern() {
    bytes image(178);
    for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i * 3 + 1);
    return image;
}

void child_script() {
    std::snprintf(port_name, sizeof port_name, "COM1");
    ASSERT_EQ(open_port(port_name, 9600), 0);
    const int ack = dwn_ack, nak = dwn_nak;
    send_text("download\n");

    bytes conf_cmd = command("conf", "178");
    bytes spoilt = conf_cmd;
    spoilt.back() ^= 0x01;
    send_raw(spoilt);
    EXPECT_EQ(answer(), nak) << "CRC wrong";
    send_raw(command("rules", "0"));
    EXPECT_EQ(answer(), nak) << "rules before conf";
    send_raw(command("conf", "177"));
    EXPECT_EQ(answer(), nak) << "conf of a size the device does not take";
    send_raw(conf_cmd);
    EXPECT_EQ(answer(), ack) << "conf command";

    bytes image = conf_pattern();
    for (size_t at = 0; at < image.size(); at += 60) {
        size_t n = std::min<size_t>(60, image.size() - at);
        send_raw(framed(bytes(image.begin() + long(at), image.begin() + long(at + n))));
        EXPECT_EQ(answer(), ack) << "conf data at " << at;
    }
    send_raw(framed(bytes(1, 0x55)));
    EXPECT_EQ(answer(), nak) << "a data byte beyond the 178";

    send_raw(command("rules", "27"));
    EXPECT_EQ(answer(), nak) << "rules size not a multiple of 28";
    send_raw(command("rules", "1428"));
    EXPECT_EQ(answer(), nak) << "more than 50 rules";
    send_raw({0x00, 0x02, 0x41});
    EXPECT_EQ(answer(), nak) << "impossible length, NAK once the line is quiet";
    send_raw({0x00, 0x15, 0x41});
    EXPECT_EQ(answer(), nak) << "packet that stops half way";
    send_raw(command("rules", "0"));
    EXPECT_EQ(answer(), ack) << "rules command without rules";
    send_raw(command("-cestfini-", ""));
    EXPECT_EQ(answer(), ack) << "finish";

    send_text("version\n");
    EXPECT_NE(reply_text(300).find("Brelvanode"), std::string::npos) << "back in the text dialogue";

    // A second download, given up between packets with the interrupt byte.
    send_text("download\n");
    send_raw(conf_cmd);
    EXPECT_EQ(answer(), ack);
    send_text("\x03\nversion\n");
    EXPECT_NE(reply_text(300).find("Brelvanode"), std::string::npos) << "0x03 ends the download";
    close_port();
}

// The child's script exists as a test only in the child, so normal runs and
// test discovery never see it.
struct ChildScript : testing::Test {
    void TestBody() override { child_script(); }
};
const bool child_registered =
    in_child() && testing::RegisterTest("DownloadSimChild", "Script", nullptr, nullptr, __FILE__,
                                        __LINE__, []() -> testing::Test* { return new ChildScript; });

TEST(DownloadSimDevice, ChecksEveryPacketAndStoresOnlyAFinishedDownload) {
    if (in_child()) return;
    char self[PATH_MAX] = "";
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    std::string store = make_temp_dir();
    run_result r = run_program({qspan_sim_bin, "--com", "1", "--store", store, "--", self,
                                "--gtest_filter=DownloadSimChild.Script"},
                               "", {"QSPAN_DL_CHILD=1"}, 60);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("[  PASSED  ] 1 test"), std::string::npos) << r.out;
    bytes image = conf_pattern();
    EXPECT_EQ(read_file(store + "/conf.bin"), std::string(image.begin(), image.end()));
    EXPECT_EQ(read_file(store + "/rules.bin"), "");
    EXPECT_EQ(read_file(store + "/conf.2.bin"), "") << "the interrupted download stored nothing";
}

}  // namespace
