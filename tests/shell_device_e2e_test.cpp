// The shell's questions before a download, and leaving while connected,
// against the simulated device. One connection serves several questions.
#include <gtest/gtest.h>

#include <filesystem>

#include "e2e.h"

namespace {

const std::string prompt = "Command> ";
const std::string connected_9600 = "Connecting at 9600...\n\aConnected at 9600\n";
const std::string conf_question =
    "\a\aWarning: Configuration file has not yet been processed!\n"
    "Do you want to use the Default Configuration? (yes|no) [no]: ";
const std::string rules_question =
    "\n\a\aWarning: Rules file has not yet been processed!\n"
    "Do you  want to use the Implicit Rule only without specific rules?\n(yes|no) [no]: ";
const std::string aborted = "\a\aDownload Aborted!\n";
const std::string downloaded =
    "Downloading Configuration succeeded\nDownloading Rules succeeded\nDisconnected\n";

std::string after_startup(const run_result& r) {
    EXPECT_EQ(r.out.substr(0, startup_text().size()), startup_text());
    return r.out.substr(std::min(r.out.size(), startup_text().size()));
}

TEST(ShellDownloadQuestions, OnlyAnAnswerStartingWithYGoesOn) {
    std::string store = make_temp_dir();
    run_result r = run_session({"--store", store},
                               "connect 1\n"
                               "download\nn\n"          // no to the first question
                               "download\n\n"           // an empty answer is no
                               "download\n y\n"         // so is a y after a blank
                               "download\nyellow\nno\n" // yes, then no to the second
                               "download\nY\nyes\n"     // both yes: the download runs
                               "download\n"             // not connected any more
                               "connect 1\n"
                               "download\nyes\n");      // end of input at the second question
    EXPECT_EQ(after_startup(r),
              prompt + connected_9600 +
              prompt + conf_question + aborted +
              prompt + conf_question + aborted +
              prompt + conf_question + aborted +
              prompt + conf_question + rules_question + aborted +
              prompt + conf_question + rules_question + downloaded +
              prompt + "\a\aError: not Connected!\n" +
              prompt + connected_9600 +
              prompt + conf_question + rules_question + "\n" + aborted +
              prompt + "\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::filesystem::file_size(store + "/conf.bin"), 178u) << "one download reached the device";
}

TEST(ShellDownloadQuestions, NoQuestionForAFileThatWasProcessed) {
    std::string conf = write_temp_file("station.cfg", "call ab1c\n");
    std::string rules = write_temp_file("filter.txt", "implicit drop\n");
    run_result r = run_session({},
                               "configure " + conf + "\n"
                               "connect 1\n"
                               "download\nyes\n"        // only the rules question is asked
                               "rules " + rules + "\n"
                               "connect 1\n"
                               "download\n");           // no question at all
    EXPECT_EQ(after_startup(r),
              prompt + "Configuration items processed 1\n" +
              prompt + connected_9600 +
              prompt + rules_question + downloaded +
              prompt + "Rules processed 0, implicit 1\n" +
              prompt + connected_9600 +
              prompt + downloaded +
              prompt + "\n");
}

TEST(ShellExitWhileConnected, LeavesWithStatusZeroAndNoDisconnectLine) {
    run_result r = run_session({}, "connect 1\nexit\nhelp\n");
    EXPECT_EQ(after_startup(r), prompt + connected_9600 + prompt);
    EXPECT_EQ(r.status, 0);
}

TEST(ShellConnectChecks, ConnectedStateRefusesConnectAndFirmware) {
    run_result r = run_session({}, "connect com1,9600\nconnect 1\nfirmware 1 a.hex\nbaud 115200\nbaud\n"
                                   "serialtest\ndisconnect\ndisconnect\n");
    EXPECT_EQ(after_startup(r),
              prompt + connected_9600 +
              prompt + "\a\aError: already Connected!\n" +
              prompt + "\a\aError: already Connected, Disconnect first!\n" +
              prompt + "\a\aError: invalid baud rate: 115200\n" +
              prompt + "\a\aError: missing argument: baud\n" +
              prompt + "\a\aError: missing argument: iteration\n" +
              prompt + "Disconnected\n" +
              prompt + "\a\aError: not Connected!\n" +
              prompt + "\n");
}

TEST(ShellConnectChecks, DefaultRateFollowsTheConfiguration) {
    std::string fast = write_temp_file("fast.cfg", "dstar 38400\n");
    std::string odd = write_temp_file("odd.cfg", "dstar 14400\n");
    run_result r = run_session({"--rate", "38400"},
                               "configure " + fast + "\nconnect 1\ndisconnect\n"
                               "configure " + odd + "\nconnect 1\n");
    EXPECT_EQ(after_startup(r),
              prompt + "Configuration items processed 1\n" +
              prompt + "Connecting at 38400...\n\aConnected at 38400\n" +
              prompt + "Disconnected\n" +
              prompt + "Configuration items processed 1\n" +
              prompt + "\a\aError: invalid baud rate: 14400\n" +
              prompt + "\n");
}

}  // namespace
