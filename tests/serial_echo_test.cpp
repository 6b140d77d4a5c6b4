// serialtest through the real qspan against qspan-sim's echo mode.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"

namespace {

const std::string prompt = "Command> ";
const std::string connected = "Connecting at 9600...\n\aConnected at 9600\n";
const std::string not_connected = "\a\aError: not Connected!\n";

std::string session(const std::vector<std::string>& sim_args, const std::string& input) {
    run_result r = run_session(sim_args, input);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    if (r.out.rfind(startup_text(), 0) != 0) return "unexpected start: " + r.out;
    std::string out = r.out.substr(startup_text().size());
    for (size_t at; (at = out.find(prompt)) != std::string::npos;) out.erase(at, prompt.size());
    return out;
}

// The bytes the device heard during each stay in echo mode, from its log.
std::vector<std::string> echo_mode_input(const std::string& log) {
    std::vector<std::string> stays;
    std::istringstream lines(log);
    std::string line;
    bool in_echo = false;
    while (std::getline(lines, line)) {
        if (line.find("note mode text -> echo") != std::string::npos) {
            stays.emplace_back();
            in_echo = true;
        } else if (line.find("note mode echo -> text") != std::string::npos) {
            in_echo = false;
        } else if (in_echo && line.find(" host>dev ") != std::string::npos &&
                   line.find("unheard") == std::string::npos) {
            size_t at = line.find(" host>dev ") + 10;
            stays.back().push_back(char(std::stoi(line.substr(at, 2), nullptr, 16)));
        }
    }
    return stays;
}

std::string pattern(int iterations) {
    std::string one;
    for (int c = 0x40; c <= 0x7E; ++c) one.push_back(char(c));
    std::string all;
    for (int i = 0; i < iterations; ++i) all += one;
    return all + "\x03";
}

TEST(SerialTest, CountsAreCheckedAndEachByteGoesOutAlone) {
    std::string log = make_temp_dir() + "/sim.log";
    std::string out = session({"--log", log},
                              "connect 1\nserialtest 0\nserialtest -2\nserialtest abc\n"
                              "serialtest 1\nserialtest 3x\ndisconnect\nexit\n");
    EXPECT_EQ(out, connected +
                       "\a\aError: Invalid iteration count: 0\n"
                       "\a\aError: Invalid iteration count: -2\n"
                       "\a\aError: Invalid iteration count: 0\n"
                       ".\nSerial test passed: wrote 63 characters\n"
                       "...\nSerial test passed: wrote 189 characters\n"
                       "Disconnected\n");
    // The refused counts sent nothing; each test sent exactly its pattern
    // and the closing interrupt.
    std::vector<std::string> stays = echo_mode_input(read_file(log));
    ASSERT_EQ(stays.size(), 2u);
    EXPECT_EQ(stays[0], pattern(1));
    EXPECT_EQ(stays[1], pattern(3));
}

struct failure_case {
    const char* name;
    std::vector<std::string> sim_args;
    std::string message;
};

void PrintTo(const failure_case& c, std::ostream* os) { *os << c.name; }

class SerialTestFailures : public testing::TestWithParam<failure_case> {};

TEST_P(SerialTestFailures, EndTheConnectionWithoutDisconnectedLine) {
    std::string out = session(GetParam().sim_args, "connect 1\nserialtest 2\nserialtest 1\nexit\n");
    EXPECT_EQ(out, connected + GetParam().message + not_connected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SerialTestFailures,
    testing::Values(
        failure_case{"altered_first", {"--echo-alter", "1:0x41"},
                     "\n\a\aError: serialtest mismatch character 0x40, got 0x41\n"},
        failure_case{"altered_high_in_second_pass", {"--echo-alter", "65:0xC1"},
                     ".\n\a\aError: serialtest mismatch character 0x41, got 0xc1\n"},
        failure_case{"stops_echoing", {"--echo-stop", "70"},
                     ".\n\a\aError: did not receive the serialtest response on port COM1!\n"},
        failure_case{"no_banner", {"--echo-no-banner"},
                     "\n\a\aError: did not receive the serialtest response!\n"
                     "Got: length 0 (0x0):\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
