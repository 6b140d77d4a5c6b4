// connect, baud and disconnect through the real qspan against qspan-sim.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e.h"
#include "serial/serial.h"

namespace {

const std::string prompt = "Command> ";
const std::string not_connected = "\a\aError: not Connected!\n";
const std::string connected_9600 = "Connecting at 9600...\n\aConnected at 9600\n";
const std::string no_product =
    "Connecting at 9600...\n\n\a\aError: did not receive the Brelvanode prompt!\n"
    "Expected: Brelvanode\n";

// The session's output after the start-up text, prompts removed.
std::string session(const std::vector<std::string>& sim_args, const std::string& input,
                    int* status = nullptr) {
    run_result r = run_session(sim_args, input);
    EXPECT_EQ(r.err, "");
    if (status != nullptr) *status = r.status;
    if (r.out.rfind(startup_text(), 0) != 0) return "unexpected start: " + r.out;
    std::string out = r.out.substr(startup_text().size());
    for (size_t at; (at = out.find(prompt)) != std::string::npos;) out.erase(at, prompt.size());
    return out;
}

std::string dump_of(const std::string& bytes) {
    char* text = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&text, &size);
    hexdump(f, 1, "Got", reinterpret_cast<const uint8_t*>(bytes.data()), int(bytes.size()), 10);
    fclose(f);
    std::string s(text, size);
    free(text);
    return s;
}

struct version_case {
    std::vector<std::string> sim_args;
    std::string expected;  // for "connect 1", then "disconnect"
};

void PrintTo(const version_case& c, std::ostream* os) {
    for (const auto& a : c.sim_args) *os << a << ' ';
}

class ConnectVersions : public testing::TestWithParam<version_case> {};

TEST_P(ConnectVersions, AcceptsTwoPointTwoAndLaterOnly) {
    int status = -1;
    std::string out = session(GetParam().sim_args, "connect 1\ndisconnect\nexit\n", &status);
    EXPECT_EQ(out, GetParam().expected);
    EXPECT_EQ(status, 0);
}

const std::string refused(const char* version) {
    return std::string("Connecting at 9600...\n\n\a\aError: received Brelvanode version ") +
           version + " but minimal is 2.2!\n" + not_connected;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConnectVersions,
    testing::Values(
        version_case{{"--version", "2.2"}, connected_9600 + "Disconnected\n"},
        version_case{{"--version", "2.10"}, connected_9600 + "Disconnected\n"},
        version_case{{"--version", "3.0"}, connected_9600 + "Disconnected\n"},
        version_case{{"--version", "2.1"}, refused("2.1")},
        version_case{{"--version", "1.9"}, refused("1.9")},
        version_case{{"--version", "3"},  // no period: no minor number to vouch for
                     "Connecting at 9600...\n\n\a\aError: did not receive the Brelvanode version "
                     "(minimum 2.2)!\n" + not_connected},
        // NUL bytes between the device's characters never reach the program.
        version_case{{"--nul"}, connected_9600 + "Disconnected\n"},
        // A device held to the line rate both ways still answers in time.
        version_case{{"--pace", "--nul"}, connected_9600 + "Disconnected\n"},
        // A device at another rate is heard as silence.
        version_case{{"--rate", "19200"}, no_product + "Got: length 0 (0x0):\n" + not_connected},
        version_case{{"--silent"}, no_product + "Got: length 0 (0x0):\n" + not_connected}));

TEST(Connect, BytesAboveSevenBitsShowAsHashInTheDump) {
    // The lone "\n" before "version" earns a prompt, then the identification
    // follows with its product word spoilt.
    std::string reply = "\r\nBrelva> \r\n########## APRS Digipeater\r\nVersion 2.2\r\nBrelva> ";
    EXPECT_EQ(session({"--high"}, "connect 1\nexit\n"), no_product + dump_of(reply));
}

TEST(Connect, LineNoiseIsDumpedWhole) {
    // Prompt (10 bytes) and identification (51 bytes), each turned to noise.
    std::string out = session({"--garbage"}, "connect 1\nexit\n");
    EXPECT_EQ(out.rfind(no_product + "Got: length 61 (0x3d):\n", 0), 0u) << out;
    EXPECT_EQ(out.find("Connected"), std::string::npos);
}

TEST(Connect, AlreadyConnectedIsRefusedInsideConnectDevice) {
    // The shell refuses a second connect itself; the port stays usable.
    std::string out = session({}, "connect 1\nconnect 1\nserialtest 1\nexit\n");
    EXPECT_EQ(out, connected_9600 + "\a\aError: already Connected!\n"
                   ".\nSerial test passed: wrote 63 characters\n");
}

TEST(Baud, ChangesTheRateOnBothEndsAndReconnects) {
    std::string out = session({}, "connect 1\nbaud 19200\nserialtest 1\nbaud 4800\ndisconnect\nexit\n");
    EXPECT_EQ(out, connected_9600 + "Connecting at 19200...\n\aConnected at 19200\n"
                   ".\nSerial test passed: wrote 63 characters\n"
                   "Connecting at 4800...\n\aConnected at 4800\nDisconnected\n");
}

TEST(Baud, DeviceThatKeepsItsRateLosesTheConnection) {
    std::string out = session({"--keep-rate"}, "connect 1\nbaud 19200\ndisconnect\nserialtest 1\nexit\n");
    EXPECT_EQ(out, connected_9600 + "Connecting at 19200...\n"
                   "\a\aError: did not receive the Brelvanode prompt!\n" +
                   not_connected + not_connected);
}

TEST(Connect, SecondProgramOnTheSamePortIsRefused) {
    // While the session holds COM1, a second qspan with the same alias
    // folder cannot open it. The sim's child runs a shell that starts both.
    std::string script =
        "{ sleep 3; printf 'connect 1\\nexit\\n' | " + qspan_bin + " | tr -d '\\a' | "
        "grep -a 'cannot open\\|could not open'; } & "
        "{ printf 'connect 1\\n'; sleep 5; printf 'exit\\n'; } | " + qspan_bin +
        " > /dev/null; wait";
    run_result r = run_program({qspan_sim_bin, "--com", "1", "--", "/bin/sh", "-c", script}, "");
    EXPECT_NE(r.out.find("Error: cannot open COM port COM1: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(": port is in use by another program\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Error: could not open COM port COM1\n"), std::string::npos) << r.out;
}

}  // namespace
