// The shell through the real binary: start-up text, the prompt loop, word
// matching, the repeat line and every argument check that needs no device.
#include <gtest/gtest.h>

#include <cstdio>

#include "e2e.h"

namespace {

const std::string prompt = "Command> ";

// Output of a session that types `lines` and then ends the input: the
// start-up text, one prompt per line read, the final prompt and its newline.
struct shell_case {
    const char* name;
    const char* input;
    const char* expected;  // what the commands print, prompts excluded
};

void PrintTo(const shell_case& c, std::ostream* os) { *os << c.name; }

std::string strip_prompts(std::string out) {
    for (size_t at; (at = out.find(prompt)) != std::string::npos;) out.erase(at, prompt.size());
    return out;
}

TEST(ShellStartup, BannerSummaryAndPromptThenEndOfInputGivesStatusOne) {
    run_result r = run_qspan("");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, startup_text() + prompt + "\n");
    EXPECT_EQ(r.err, "");
}

TEST(ShellStartup, ArgumentsAreIgnored) {
    run_result r = run_program({qspan_bin, "--help", "x"}, "", {"XDG_CONFIG_HOME=" + make_temp_dir()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, startup_text() + prompt + "\n");
}

TEST(ShellExit, ExitWordsEndWithStatusZeroAtOnce) {
    for (const char* word : {"exit", "quit", "x", "EXIT", "ex", "q", "Qu"}) {
        run_result r = run_qspan(std::string(word) + "\nhelp\n");
        EXPECT_EQ(r.status, 0) << word;
        EXPECT_EQ(r.out, startup_text() + prompt) << word;
    }
}

TEST(ShellLoop, EachPromptPrintedOncePerLineRead) {
    run_result r = run_qspan("\n\n   \n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, startup_text() + prompt + prompt + prompt + prompt + "\n");
}

TEST(ShellLoop, HelpAndQuestionMarkPrintTheSummary) {
    run_result r = run_qspan("help\n?\nHE\n");
    EXPECT_EQ(r.out, startup_text() + prompt + summary_text() + prompt + summary_text() + prompt +
                         summary_text() + prompt + "\n");
}

class ShellCases : public testing::TestWithParam<shell_case> {};

TEST_P(ShellCases, PrintsExactly) {
    const shell_case& c = GetParam();
    run_result r = run_qspan(c.input);
    ASSERT_EQ(r.out.substr(0, startup_text().size()), startup_text());
    EXPECT_EQ(strip_prompts(r.out.substr(startup_text().size())), std::string(c.expected) + "\n");
    EXPECT_EQ(r.status, 1);
}

const shell_case word_cases[] = {
    {"unknown", "zz\n", "\a\aError: unknown command: zz\n"},
    {"longer_than_every_name", "serialtests 3\n", "\a\aError: unknown command: serialtests\n"},
    {"ambiguous_d", "d\n", "\a\aError: ambiguous command: d\n"},
    {"ambiguous_c", "c\n", "\a\aError: ambiguous command: c\n"},
    {"ambiguous_con", "con 3\n", "\a\aError: ambiguous command: con\n"},
    {"conf_is_configure", "conf\n", "\a\aError: missing argument: file_name\n"},
    {"case_ignored", "CONN\n", "\a\aError: missing argument: com_port\n"},
    {"comma_and_tab_separate", ",\t,conn\n", "\a\aError: missing argument: com_port\n"},
    {"unique_prefixes", "disc\ndr\n",
     "\a\aError: not Connected!\nNo Rules are configured!  Implicit Rule Action is Pass\n"},
};
INSTANTIATE_TEST_SUITE_P(Words, ShellCases, testing::ValuesIn(word_cases),
                         [](const auto& info) { return std::string(info.param.name); });

const shell_case repeat_cases[] = {
    {"first_line_dot_does_nothing", ".\n", ""},
    {"dot_repeats_with_arguments", "connect 0\n.\n",
     "\a\aError: invalid COM port number (1..20): 0\n"
     "\a\aError: invalid COM port number (1..20): 0\n"},
    {"text_after_dot_ignored", "connect 21\n. anything\n.5\n",
     "\a\aError: invalid COM port number (1..20): 21\n"
     "\a\aError: invalid COM port number (1..20): 21\n"
     "\a\aError: invalid COM port number (1..20): 21\n"},
    {"empty_line_keeps_previous", "baud\n\n.\n",
     "\a\aError: must be Connected before changing the Baud!\n"
     "\a\aError: must be Connected before changing the Baud!\n"},
    {"invalid_command_is_repeated_too", "zz top\n.\n",
     "\a\aError: unknown command: zz\n\a\aError: unknown command: zz\n"},
    {"space_then_dot_is_internal_error", " .\n", "\a\aInternal Error: command 33 is invalid!\n"},
};
INSTANTIATE_TEST_SUITE_P(Repeat, ShellCases, testing::ValuesIn(repeat_cases),
                         [](const auto& info) { return std::string(info.param.name); });

const shell_case argument_cases[] = {
    {"connect_missing_port", "connect\n", "\a\aError: missing argument: com_port\n"},
    {"connect_port_zero", "connect 0\n", "\a\aError: invalid COM port number (1..20): 0\n"},
    {"connect_com0", "connect com0\n", "\a\aError: invalid COM port number (1..20): com0\n"},
    {"connect_21", "connect 21\n", "\a\aError: invalid COM port number (1..20): 21\n"},
    {"connect_COM21", "connect COM21\n", "\a\aError: invalid COM port number (1..20): COM21\n"},
    {"connect_word_not_a_port", "connect port3\n", "\a\aError: invalid COM port number (1..20): port3\n"},
    {"connect_rate_not_a_link_rate", "connect 3 115200\n", "\a\aError: invalid baud rate: 115200\n"},
    {"connect_rate_text", "connect com3,fast\n", "\a\aError: invalid baud rate: 0\n"},
    {"connect_huge_port_clamped", "connect 99999999999999999999\n",
     "\a\aError: invalid COM port number (1..20): 99999999999999999999\n"},
    {"disconnect_not_connected", "disconnect\n", "\a\aError: not Connected!\n"},
    {"baud_not_connected", "baud 9600\n", "\a\aError: must be Connected before changing the Baud!\n"},
    {"serialtest_not_connected", "serialtest 3\n", "\a\aError: not Connected!\n"},
    {"download_not_connected", "download\n", "\a\aError: not Connected!\n"},
    {"configure_missing_file", "configure\n", "\a\aError: missing argument: file_name\n"},
    {"configure_only_separators", "configure ,\t,\n", "\a\aError: missing argument: file_name\n"},
    {"rules_missing_file", "rules\n", "\a\aError: missing argument: file_name\n"},
    {"firmware_missing_arguments", "firmware\n", "\a\aError: missing arguments: com_port file_name\n"},
    {"firmware_bad_port", "firmware com0 a.hex\n", "\a\aError: invalid COM port number (1..20): com0\n"},
    {"firmware_missing_file", "firmware Com03\n", "\a\aError: missing argument: file_name\n"},
};
INSTANTIATE_TEST_SUITE_P(Arguments, ShellCases, testing::ValuesIn(argument_cases),
                         [](const auto& info) { return std::string(info.param.name); });

const char* const firmware_question =
    "\a\aWARNING! This will alter the Brelvanode firmware!\nDo you want to continue (n or y)? [n]: ";

const shell_case firmware_answer_cases[] = {
    {"no", "firmware 3 a.hex\nn\n",
     "\a\aWARNING! This will alter the Brelvanode firmware!\nDo you want to continue (n or y)? [n]: "
     "Brelvanode Firmware will NOT be updated!\n"},
    {"empty_answer_is_no", "firmware 3 a.hex\n\n",
     "\a\aWARNING! This will alter the Brelvanode firmware!\nDo you want to continue (n or y)? [n]: "
     "Brelvanode Firmware will NOT be updated!\n"},
    {"leading_space_is_no", "firmware 3 a.hex\n y\n",
     "\a\aWARNING! This will alter the Brelvanode firmware!\nDo you want to continue (n or y)? [n]: "
     "Brelvanode Firmware will NOT be updated!\n"},
    {"end_of_input_is_no", "firmware 3 a.hex\n",
     "\a\aWARNING! This will alter the Brelvanode firmware!\nDo you want to continue (n or y)? [n]: "
     "\nBrelvanode Firmware will NOT be updated!\n"},
    // 39 characters are the answer; the rest of the line comes back as a command.
    {"long_answer_leaves_rest_for_next_prompt",
     "firmware 3 a.hex\nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnzz\n",
     "\a\aWARNING! This will alter the Brelvanode firmware!\nDo you want to continue (n or y)? [n]: "
     "Brelvanode Firmware will NOT be updated!\n\a\aError: unknown command: zz\n"},
};
INSTANTIATE_TEST_SUITE_P(FirmwareAnswer, ShellCases, testing::ValuesIn(firmware_answer_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ShellDisplays, DefaultConfigurationAndNoRules) {
    run_result r = run_qspan("dconfigure\ndrules\n");
    EXPECT_EQ(strip_prompts(r.out.substr(startup_text().size())),
              default_configuration_text() +
                  "No Rules are configured!  Implicit Rule Action is Pass\n\n");
}

TEST(ShellSummary, BracketsTheConfiguredRateOrNone) {
    std::string fast = write_temp_file("fast.cfg", "dstar 38400\n");
    std::string odd = write_temp_file("odd.cfg", "dstar 14400\n");
    run_result r = run_qspan("configure " + fast + "\nhelp\nconfigure " + odd + "\nhelp\n");
    EXPECT_EQ(strip_prompts(r.out.substr(startup_text().size())),
              "Configuration items processed 1\n" + summary_text("4800 9600 19200 [38400] 57600 ") +
                  "Configuration items processed 1\n" + summary_text("4800 9600 19200 38400 57600 ") +
                  "\n");
}

TEST(ShellFileNames, SpacesBelongToTheNameCommasAndTabsEndIt) {
    std::string dir = make_temp_dir();
    std::string conf = dir + "/a b.cfg";
    std::FILE* f = std::fopen(conf.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("call ab1c\n", f);
    std::fclose(f);
    run_result r = run_qspan("configure " + conf + ",ignored\nconfigure\t" + conf + "\tx\n"
                             "configure  " + conf + "\n");
    EXPECT_EQ(strip_prompts(r.out.substr(startup_text().size())),
              "Configuration items processed 1\nConfiguration items processed 1\n"
              "\a\aError: cannot open  " + conf + "\n\a\aError: Configuration processing failed\n\n")
        << "a second blank after the command word starts the name";
}

TEST(ShellFirmware, YesWithAMissingFileFailsBeforeTouchingThePort) {
    run_result r = run_qspan("firmware 3 no such.hex\nyes\n");
    EXPECT_EQ(strip_prompts(r.out.substr(startup_text().size())),
              std::string(firmware_question) +
                  "\a\aError: cannot open no such.hex\nError: Firmware update failed!\n\tTry again!\n\n");
}

TEST(ShellLongLines, PiecesOf255CharactersAreLinesOfTheirOwn) {
    // 255 characters of one word, then "help" arrives as the next piece.
    std::string word(255, 'z');
    run_result r = run_qspan(word + "x\n");
    EXPECT_EQ(r.out, startup_text() + prompt + "\a\aError: unknown command: " + word + "\n" + prompt);
    EXPECT_EQ(r.status, 0) << "the second piece is the word x, which exits";
}

}  // namespace
