// The command shell: banner, command table, help summary and the prompt loop.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

struct command_entry {
    int shown;                 // non-zero: the summary lists the row
    int id;                    // dispatch code
    std::string_view name;     // the command word
    std::string_view args;     // argument names, for the summary only
    std::string_view comment;  // description, for the summary only
};

extern const std::array<command_entry, 17> command_table;
extern const std::array<int32_t, 5> link_baud_rates;

// Prints the command summary with the valid link rates, the default bracketed.
void command_summary();

// Runs the prompt loop until exit (status 0) or the end of input (status 1).
int run_shell();
