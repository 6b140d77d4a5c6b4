// End-to-end firmware updates against qspan-sim's boot loader: the clean run
// with files from objcopy and srec_cat, resends of every kind, the error
// budget, the two aborts and a silent loader. The stored image is compared
// with the records of the file. Progress lines carry wall-clock seconds, so
// each one is checked against firmware_progress_text for the seconds it shows.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"
#include "firmware/firmware.h"

namespace {

const std::string built_fixtures = std::string(QSPAN_BINARY_DIR) + "/tests/fixtures/firmware/";

const std::string confirm_question =
    "\a\aWARNING! This will alter the Brelvanode firmware!\nDo you want to continue (n or y)? [n]: ";
const std::string warning = firmware_warning_text;
const std::string connected = "\a\nConnected at 19200\n\n\n";
const std::string succeeded =
    "\a\aFirmware update succeeded!\n\nDon't forget to Configure Operating Parameters, Process "
    "Rules\nand Download these to the Brelvanode!\n";
const std::string failed = "Error: Firmware update failed!\n\tTry again!\n";

// The record lines of a HEX file, without their line ends.
std::vector<std::string> records_of(const std::string& text) {
    std::vector<std::string> records;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == ':') records.push_back(line);
    }
    return records;
}

std::string joined(const std::vector<std::string>& lines, size_t count) {
    std::string out;
    for (size_t i = 0; i < count && i < lines.size(); ++i) out += lines[i] + "\n";
    return out;
}

// Replaces the k-th progress line with "<k>" when it is exactly what
// firmware_progress_text gives for its own elapsed seconds, "<bad ...>" if not.
std::string mark_progress(const std::string& out, uint32_t total) {
    std::string marked;
    uint32_t done = 0;
    for (size_t at = 0; at < out.size();) {
        if (out[at] != '\r') {
            marked += out[at++];
            continue;
        }
        size_t end = out.find_first_of("\r\n", at + 1);
        if (end == std::string::npos) end = out.size();
        std::string line = out.substr(at, end - at);
        char expected[128];
        firmware_progress_text(expected, sizeof expected, std::atoll(line.c_str() + 1), ++done,
                               total);
        marked += line == expected ? "<" + std::to_string(done) + ">" : "<bad " + line + ">";
        at = end;
    }
    return marked;
}

std::string progress_marks(uint32_t from, uint32_t to) {
    std::string s;
    for (uint32_t k = from; k <= to; ++k) s += "<" + std::to_string(k) + ">";
    return s;
}

struct session {
    std::string out;    // from the confirmation question to the next prompt, progress marked
    std::string image;  // what the device stored
    int status;
};

session update(const std::string& hex_path, uint32_t records, std::vector<std::string> sim_args) {
    std::string store = make_temp_dir();
    sim_args.insert(sim_args.begin(), {"--store", store});
    run_result r = run_session(sim_args, "firmware 1 " + hex_path + "\ny\n\n");
    size_t from = r.out.find(confirm_question);
    size_t to = r.out.rfind("Command> ");
    std::string part = from == std::string::npos || to == std::string::npos || to < from
                           ? "<unexpected output>\n" + r.out + r.err
                           : r.out.substr(from + confirm_question.size(),
                                          to - from - confirm_question.size());
    return {mark_progress(part, records), read_file(store + "/firmware.hex"), r.status};
}

std::string error_line(const char* what, int line) {
    return "\n\a\aError: Firmware updating error: " + std::string(what) + " on Line " +
           std::to_string(line) + ", resending.\n";
}

TEST(FirmwareUpdate, CleanRunWithObjcopyFile) {
    std::string path = built_fixtures + "image16.hex";
    std::vector<std::string> records = records_of(read_file(path));
    ASSERT_EQ(records.size(), 39u);
    session s = update(path, 39, {});
    EXPECT_EQ(s.out, warning + connected + progress_marks(1, 39) + "\nDisconnected\n" + succeeded);
    EXPECT_EQ(s.image, joined(records, records.size()));
}

// 128-byte records (267-character lines) across a 64 KiB boundary, with
// comment and blank lines that are neither sent nor shown.
TEST(FirmwareUpdate, CleanRunWithSrecCatFileAndComments) {
    std::string source = built_fixtures + "image128.hex";
    if (!std::filesystem::exists(source)) GTEST_SKIP() << "srec_cat was not available at build time";
    std::vector<std::string> records = records_of(read_file(source));
    ASSERT_EQ(records.size(), 8u);
    ASSERT_EQ(records[1].size(), 267u);
    std::string text = "# firmware 2.3\n\n";
    for (size_t i = 0; i < records.size(); ++i) text += records[i] + (i == 3 ? "\n; half\n" : "\n");
    session s = update(write_temp_file("fw.hex", text), 8, {});
    EXPECT_EQ(s.out, warning + connected + progress_marks(1, 8) + "\nDisconnected\n" + succeeded);
    EXPECT_EQ(s.image, joined(records, records.size()));
}

// Every resend kind, with line numbers that count the comment lines; the
// loader's ACK comes late in its answers to SYN and the identifier.
TEST(FirmwareUpdate, ResendsEachKindAndSendsEveryRecordOnce) {
    std::vector<std::string> records = records_of(read_file(built_fixtures + "image16.hex"));
    std::vector<std::string> rec(records.begin(), records.begin() + 6);
    rec.push_back(records.back());  // the end-of-file record
    std::string text = "; test image\n" + rec[0] + "\n\n" + rec[1] + "\n" + rec[2] + "\n# note\n" +
                       rec[3] + "\n" + rec[4] + "\n" + rec[5] + "\n" + rec[6] + "\n";
    session s = update(write_temp_file("fw.hex", text), 7,
                       {"--boot-status", "2:0x12:3", "--boot-status", "3:0xC3", "--boot-status",
                        "4:0x11", "--boot-status", "5:0x15", "--boot-status", "6:none",
                        "--boot-ack-at", "7"});
    std::string checksum = error_line("bad record checksum", 4);
    EXPECT_EQ(s.out, warning + connected + "<1>" + checksum + checksum + checksum + "<2>" +
                         "\n\a\aError: Firmware updating error: unknown (0xc3) on Line 5, "
                         "resending.\n<3>" +
                         error_line("didn't get start character", 7) + "<4>" +
                         error_line("validation", 8) + "<5>" + error_line("timed out", 9) +
                         "<6><7>\nDisconnected\n" + succeeded);
    EXPECT_EQ(s.image, joined(rec, rec.size()));
}

// Ten non-ACK answers over three records end the update; the tenth is not shown.
TEST(FirmwareUpdate, ErrorBudgetOfTenAborts) {
    std::vector<std::string> records = records_of(read_file(built_fixtures + "image16.hex"));
    session s = update(built_fixtures + "image16.hex", 39,
                       {"--boot-status", "1:none:3", "--boot-status", "2:none:3", "--boot-status",
                        "3:0x12:4"});
    std::string timeout1 = error_line("timed out", 1), timeout2 = error_line("timed out", 2);
    std::string checksum = error_line("bad record checksum", 3);
    EXPECT_EQ(s.out, warning + connected + timeout1 + timeout1 + timeout1 + "<1>" + timeout2 +
                         timeout2 + timeout2 + "<2>" + checksum + checksum + checksum +
                         "\n\a\aError: maximum Firmware updating errors (10) encountered- "
                         "aborting!\nDisconnected\n" +
                         failed);
    EXPECT_EQ(s.image, joined(records, 2));
}

TEST(FirmwareUpdate, BufferFullAbortsAtOnce) {
    std::vector<std::string> records = records_of(read_file(built_fixtures + "image16.hex"));
    session s = update(built_fixtures + "image16.hex", 39, {"--boot-status", "2:0x17"});
    EXPECT_EQ(s.out, warning + connected +
                         "<1>\n\a\aError: Firmware updating error: buffer full on Line 2- "
                         "aborting!\nDisconnected\n" +
                         failed);
    EXPECT_EQ(s.image, joined(records, 1));
}

TEST(FirmwareUpdate, FatalAbortsAfterResends) {
    session s = update(built_fixtures + "image16.hex", 39,
                       {"--boot-status", "1:0x12:2", "--boot-status", "1:0x18"});
    std::string checksum = error_line("bad record checksum", 1);
    EXPECT_EQ(s.out, warning + connected + checksum + checksum +
                         "\n\a\aError: Firmware updating error: fatal on Line 1- aborting!\n"
                         "Disconnected\n" +
                         failed);
    EXPECT_EQ(s.image, "");
}

// The identifier wait is 5 s: the one silent step tested end to end.
TEST(FirmwareUpdate, SilentIdentifierAcknowledgement) {
    session s = update(built_fixtures + "image16.hex", 39, {"--boot-silent", "ident"});
    std::string area;
    for (int i = 0; i < 20; ++i) area += "[00] ";
    EXPECT_EQ(s.out, warning + "\a\nConnected at 19200\n" +
                         "\n\a\aError: did not receive bRvNoD identifier acknowledgement!\n"
                         "\nRead #1 got 0 chars\nRead #2 got 0 chars:\n" +
                         area + "\nDisconnected\n" + failed);
    EXPECT_EQ(s.image, "");
}

// A bad file is refused before the port is touched: the simulator hears nothing.
TEST(FirmwareUpdate, BadFileNeverOpensThePort) {
    std::string log = make_temp_dir() + "/sim.log";
    run_result r = run_session({"--log", log},
                               "firmware 1 " + source_dir +
                                   "/tests/fixtures/firmware/bad_offset.hex\ny\n"
                                   "firmware 1 /nonexistent/fw.hex\ny\n");
    EXPECT_NE(r.out.find(confirm_question +
                         "\a\aError: data record offset boundary error for line 1 in Firmware "
                         "file!\n\a\aError: Firmware file has some kind of error!\n" +
                         failed),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(confirm_question + "\a\aError: cannot open /nonexistent/fw.hex\n" + failed),
              std::string::npos)
        << r.out;
    EXPECT_EQ(read_file(log).find("host>dev"), std::string::npos);
}

}  // namespace
