// Runs the real binaries with a scripted standard input and collects what they print.
#pragma once

#include <string>
#include <vector>

struct run_result {
    std::string out;   // everything written to standard output
    std::string err;   // everything written to standard error
    int status = -1;   // exit status, or 128 + signal
    double seconds = 0;
};

// Runs argv with the given input on standard input (then end of input), with
// extra "NAME=value" entries in the environment. Kills it after timeout_s.
run_result run_program(const std::vector<std::string>& argv, const std::string& input,
                       const std::vector<std::string>& extra_env = {}, int timeout_s = 60);

// The utility alone, with an empty private configuration folder, so no COM
// alias of the machine leaks in.
run_result run_qspan(const std::string& input);

// The utility against a simulated device on COM1:
// qspan-sim --com 1 SIM_ARGS... -- qspan
run_result run_session(const std::vector<std::string>& sim_args, const std::string& input,
                       int timeout_s = 120);

// A fresh folder below the system's temporary folder, removed when the test
// program ends.
std::string make_temp_dir();
// Writes content to name inside a fresh temporary folder; returns the path.
std::string write_temp_file(const std::string& name, const std::string& content);
std::string read_file(const std::string& path);

// Paths of the binaries and of the source tree, as the build knows them.
inline const std::string qspan_bin = QSPAN_BIN;
inline const std::string qspan_sim_bin = QSPAN_SIM_BIN;
inline const std::string source_dir = QSPAN_SOURCE_DIR;

// The start-up text: banner, summary with the default rates and the blank line.
std::string startup_text();
// The warning the firmware update prints before it resets the device.
inline const std::string firmware_warning_text =
    "\n\a\aWARNING! The Brelvanode Firmware is about to be updated!\n"
    "This will take less than 5 minutes.\n"
    "Do NOT interrupt the process once started!\n"
    "If power is interrupted during this process you may not be able\n"
    "to communicate with the Brelvanode due to firmware corruption.\n"
    "If this happens correct the power problem and restart this entire process.\n"
    "\nType the Enter key when you are ready to continue...";

// What dconfigure prints for the default configuration.
std::string default_configuration_text();
// The command summary as `help` prints it with 9600 as the default link rate.
std::string summary_text(const char* rates = "4800 [9600] 19200 38400 57600 ");
