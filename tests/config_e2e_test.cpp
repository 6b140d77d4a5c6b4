// Configuration files through the real binary: `configure FILE`, then
// `dconfigure`, compared byte for byte; one session per scenario.
#include "angles/angles.h"
#include "e2e.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string prompt = "Command> ";

// What the session printed after the start-up text, prompts removed.
std::string session_output(const std::string& input) {
    const run_result r = run_qspan(input);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    std::string out = r.out;
    EXPECT_TRUE(out.starts_with(startup_text()));
    out.erase(0, startup_text().size());
    for (size_t at; (at = out.find(prompt)) != std::string::npos;) out.erase(at, prompt.size());
    return out;
}

// The display of the default record (Milan, as the default image holds it)
// with the lines a test changes given in full.
struct display_lines {
    std::string call = "Station Call\tNOTSET\tSSID 0\n";
    std::string position = "Base Lat  45.464169\tLon     9.19000    Altitude 0 meters\n";
    std::string rates = "Host  baud\t19200\nDSTAR baud\t9600\nTNC   baud\t19200\n";
    std::string windows = "Dupe Window 28 sec.\tCall Rate Limit 0 sec.\n";
    std::string beacon = "Beacon 600 sec.\tIcon /#\n";
    std::string comment = "Beacon Comment: \n";
    std::string nsr = "NSR: Disabled\n";
    std::string path = "Digi Path[0]: \n";
    std::string switches = "Log Port: Yes\nFix Valid: Yes\tPass packets without valid position: No\n"
                           "Halt On Error: No\tDrop Mangled Packet: Yes\n";
    std::string rules = "Rule count 0\tImplicit Rule Action: Pass\n";

    std::string text() const {
        return "Configuration Version 2.2\n" + call + position + rates + windows + beacon +
               comment + nsr + path + switches + rules;
    }
};

TEST(ConfigureE2E, ExampleStationFileSetsEveryItem) {
    display_lines d;
    d.call = "Station Call\tN0CALL\tSSID 10\n";
    d.position = "Base Lat  45.703499\tLon     9.66250    Altitude 365 meters\n";
    d.rates = "Host  baud\t38400\nDSTAR baud\t9600\nTNC   baud\t4800\n";
    d.windows = "Dupe Window 30 sec.\tCall Rate Limit 10 sec.\n";
    d.beacon = "Beacon 1800 sec.\tIcon /#\n";
    d.comment = "Beacon Comment: Brelvanode digi - Bergamo Citta Alta\n";
    d.nsr = "NSR: Enabled\n";
    d.path = "Digi Path[2]: WIDE1-1,WIDE2-1\n";
    const std::string cfg = source_dir + "/examples/station.cfg";
    EXPECT_EQ(session_output("configure " + cfg + "\ndconfigure\n"),
              "Configuration items processed 21\n" + d.text() + "\n");
}

// A failing line reports itself and the shell adds its own message; the
// display then shows the defaults, the earlier lines and what the failing
// line stored. A later good file leaves nothing of the failed one.
TEST(ConfigureE2E, FailedFileThenGoodFile) {
    const std::string bad = write_temp_file(
        "bad.cfg",
        "call ve3xyz\r\n# the path is fine, the switch too\r\n"
        "digipath relay,wide,TOOLONG99\r\nhaltonerr y\r\n");
    const std::string good = write_temp_file("good.cfg", "SSID 0x7\nbcomment  QTH near the river\n");

    display_lines failed;
    failed.call = "Station Call\tVE3XYZ\tSSID 0\n";
    failed.path = "Digi Path[2]: RELAY,WIDE\n";
    display_lines later;
    later.call = "Station Call\tNOTSET\tSSID 7\n";
    later.comment = "Beacon Comment:  QTH near the river\n";

    EXPECT_EQ(session_output("configure " + bad + "\ndconfigure\nconfigure " + good +
                             "\ndconfigure\n"),
              "\a\aError: line 3: Digi Path[3]: TOOLONG99 exceeds length 8: "
              "digipath relay,wide,TOOLONG99\n"
              "\a\aError: Configuration processing failed\n" +
                  failed.text() + "Configuration items processed 2\n" + later.text() + "\n");
}

TEST(ConfigureE2E, UnreadablePathsLeaveTheRecord) {
    const std::string dir = make_temp_dir();
    const std::string good = write_temp_file("one.cfg", "ssid 12\n");
    display_lines d;
    d.call = "Station Call\tNOTSET\tSSID 12\n";
    EXPECT_EQ(session_output("configure " + good + "\nconfigure " + dir + "/absent.cfg\nconfigure " +
                             dir + "\ndconfigure\n"),
              "Configuration items processed 1\n"
              "\a\aError: cannot open " + dir + "/absent.cfg\n"
              "\a\aError: Configuration processing failed\n"
              "\a\aError: cannot open " + dir + "\n"
              "\a\aError: Configuration processing failed\n" +
                  d.text() + "\n");
}

TEST(ConfigureE2E, AngleErrorsComeBeforeTheLineMessage) {
    const std::string cfg = write_temp_file("angle.cfg", "position N45dW9d 9d\n");
    EXPECT_EQ(session_output("configure " + cfg + "\n"),
              "\a\aError: DMC format: both direction chars N and W cannot be specified\n"
              "\a\aError: line 1: invalid Station Latitude argument: N45dW9d: position N45dW9d 9d\n"
              "\a\aError: Configuration processing failed\n\n");
}

TEST(ConfigureE2E, AnglesCommandPrintsTheHelpText) {
    EXPECT_EQ(session_output("angles\n"), std::string(angles_help_text) + "\n\n");
}

}  // namespace
