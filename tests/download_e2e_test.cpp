// The download through the real binaries: qspan against qspan-sim --store, with
// the stored images compared to bytes derived by hand (the configuration
// fixture) or built here from the rules file text, and the message chains of
// the refused, timed-out and wrongly answered packets. Each connect costs
// about 2 s, so one session carries several downloads.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"

namespace {

using bytes = std::string;  // images as byte strings, compared with read_file

const std::string prompt = "Command> ";
const std::string fixtures = source_dir + "/tests/fixtures/download/";
const std::string connect_9600 = "Connecting at 9600...\n\aConnected at 9600\n";
const std::string success = "Downloading Configuration succeeded\nDownloading Rules succeeded\n"
                            "Disconnected\n";

// The hand-written hex fixture: "offset: hex bytes  # comment" lines.
bytes read_hex_fixture(const std::string& path) {
    std::istringstream in(read_file(path));
    bytes out;
    for (std::string line; std::getline(in, line);) {
        line = line.substr(0, line.find('#'));
        size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::istringstream hex(line.substr(colon + 1));
        for (std::string pair; hex >> pair;) out.push_back(char(std::stoi(pair, nullptr, 16)));
    }
    return out;
}

// The station image with the rule fields a rules file sets.
bytes conf_image(int rule_count, char implicit) {
    bytes image = read_hex_fixture(fixtures + "station_conf.hex");
    image[64] = implicit;
    image[66] = char(rule_count & 0xFF);
    image[67] = char(rule_count >> 8);
    return image;
}

// One destin or source rule as the device gets it.
bytes call_rule(char kind, const std::string& call, int ssid, uint8_t flags, int line) {
    bytes r(28, '\0');
    r.replace(0, call.size(), call);
    if (ssid >= 0) r[6] = char(ssid);
    r[24] = kind;
    r[25] = char(flags);
    r[26] = char(line & 0xFF);
    r[27] = char(line >> 8);
    return r;
}

// Fifty call rules, alternately dropped sources and passed destinations with
// an SSID, and their image.
void fifty_rules(std::string& text, bytes& image) {
    char line[64];
    for (int i = 0; i < 50; ++i) {
        std::string call = (i % 2 ? "D" : "S") + std::to_string(10 + i);
        if (i % 2 == 0) {
            std::snprintf(line, sizeof line, "drop source %s\n", call.c_str());
            image += call_rule('3', call, -1, 0x04, i + 1);
        } else {
            std::snprintf(line, sizeof line, "pass destin %s-%d\n", call.c_str(), i % 16);
            image += call_rule('2', call, i % 16, 0x08 | 0x40, i + 1);
        }
        text += line;
    }
}

TEST(DownloadE2e, ZeroOneAndFiftyRulesReachTheDevice) {
    std::string store = make_temp_dir();
    std::string one = write_temp_file("one.txt", "# a single rule\npass destin APRS\n");
    std::string fifty_text;
    bytes fifty_image;
    fifty_rules(fifty_text, fifty_image);
    std::string fifty = write_temp_file("fifty.txt", fifty_text);

    // The first download also meets chatter after "download\n" and a data
    // packet refused four times, which the fifth transmission gets through.
    run_result r = run_session({"--store", store, "--dl-chatter", "64", "--dl-nak", "2:4@1"},
                               "configure " + fixtures + "station.cfg\n"
                               "connect 1 9600\ndownload\nyes\n"
                               "rules " + one + "\nconnect 1 9600\ndownload\n"
                               "rules " + fifty + "\nconnect 1 9600\ndownload\nexit\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, startup_text() + prompt + "Configuration items processed 19\n" +
                         prompt + connect_9600 + prompt +
                         "\n\a\aWarning: Rules file has not yet been processed!\n"
                         "Do you  want to use the Implicit Rule only without specific rules?\n"
                         "(yes|no) [no]: " + success +
                         prompt + "Rules processed 1, implicit 0\n" + prompt + connect_9600 +
                         prompt + success +
                         prompt + "Rules processed 50, implicit 0\n" + prompt + connect_9600 +
                         prompt + success + prompt);

    EXPECT_EQ(read_file(store + "/conf.1.bin"), conf_image(0, 'p'));
    EXPECT_EQ(read_file(store + "/rules.1.bin"), "");
    EXPECT_EQ(read_file(store + "/conf.2.bin"), conf_image(1, 'p'));
    EXPECT_EQ(read_file(store + "/rules.2.bin"), call_rule('2', "APRS", -1, 0x08, 2));
    EXPECT_EQ(read_file(store + "/conf.3.bin"), conf_image(50, 'p'));
    EXPECT_EQ(read_file(store + "/rules.3.bin"), fifty_image);
    EXPECT_EQ(read_file(store + "/conf.bin"), conf_image(50, 'p'));
    EXPECT_EQ(read_file(store + "/rules.bin"), fifty_image);
}

TEST(DownloadE2e, RefusedSilentAndWrongAnswersEndTheConnectionWithTheirChain) {
    std::string store = make_temp_dir();
    std::string one = write_temp_file("one.txt", "pass destin APRS\n");
    // Download 1: the second configuration data packet is refused five times.
    // Download 2: the "rules" command (packet 5) gets no answer; 5 s time-out.
    // Download 3: the "conf" command is answered with 'A'.
    run_result r = run_session({"--store", store, "--dl-nak", "3:5@1", "--dl-silent", "5@2",
                                "--dl-answer", "1:0x41@3"},
                               "configure " + fixtures + "station.cfg\nrules " + one + "\n"
                               "connect 1 9600\ndownload\nconnect 1 9600\ndownload\n"
                               "connect 1 9600\ndownload\ndisconnect\nexit\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, startup_text() + prompt + "Configuration items processed 19\n" +
                         prompt + "Rules processed 1, implicit 0\n" +
                         prompt + connect_9600 + prompt +
                         "\a\aError: writing data pkt: -6\n"
                         "\a\aError: writing Configuration file failed: -3\n"
                         "\a\aError: Download failed: -2\n"
                         "Disconnected\n" +
                         prompt + connect_9600 + prompt +
                         "Downloading Configuration succeeded\n"
                         "\a\aError: reading ack or nak: 0\n"
                         "\a\aError: writing Rules command failed: -4\n"
                         "\a\aError: Download failed: -3\n"
                         "Disconnected\n" +
                         prompt + connect_9600 + prompt +
                         "\a\aError: reading ack or nak: got 0x41\n"
                         "\a\aError: writing Configuration command failed: -5\n"
                         "\a\aError: Download failed: -1\n"
                         "Disconnected\n" +
                         prompt + "\a\aError: not Connected!\n" + prompt);
    // No finish packet ever arrived, so the device stored nothing.
    EXPECT_EQ(read_file(store + "/conf.bin"), "");
    EXPECT_EQ(read_file(store + "/rules.bin"), "");
}

}  // namespace
