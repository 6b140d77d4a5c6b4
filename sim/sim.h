// qspan-sim: a simulated Brelvanode on a pseudo-terminal.
//
// The framework (sim/main.cpp) owns the pseudo-terminal, the options, the
// child command, the log, the line rate and the clock. The device's
// behaviour is a set of modes, one state machine each, one file each:
//
//   sim/mode_text.cpp      the running firmware's text dialogue (start mode)
//   sim/mode_echo.cpp      the serial test's echo
//   sim/mode_download.cpp  the framed-packet receiver after "download\n"
//   sim/mode_boot.cpp      the boot loader after "reset\n"
//
// Writing a mode
//   1. In your own file define `const sim_mode NAME_mode = {...}` (declared
//      below) with its callbacks; keep the mode's state in file-static
//      variables and reset it in `enter`.
//   2. Registration is the one line per mode in sim/modes.cpp (sim_modes[],
//      indexed by sim_mode_id); add an id below for a new mode.
//   3. Options: give the mode a `constexpr sim_option NAME_options[]` and
//      point `options` at it. The framework parses every mode's table, so a
//      mode's switches live in the mode's own file. Each `take` stores the
//      value in the mode's statics and returns false for a bad value.
//
// What a mode sees and does
//   - `on_byte` gets each byte the device hears from the host, one at a time,
//     in order. Bytes sent while the host's line rate differs from the
//     device's rate are never delivered (the device cannot hear them).
//   - `sim_send*` queues bytes to the host. They are tagged with the device's
//     rate at that moment and dropped if the host's rate differs when they go
//     out; with --pace they go out no faster than the line rate.
//   - 0x03 is the firmware's interrupt: every mode of the running firmware
//     should drop what it does and `sim_switch(mode_text)` when it sees 0x03
//     where 0x03 cannot be data (the host's connect sends 0x03 "\nversion\n").
//   - Timers: `sim_set_tick(ms)` asks for `on_tick` every ms milliseconds
//     while the mode is active (0 stops them); a switch of mode stops them.
//     The boot loader uses this to repeat ENQ until it hears SYN.
//   - `sim_set_device_rate` moves the device's host port (e.g. "host N", or
//     the boot loader's 19200); `sim_host_rate` is what the host has set.
//   - `sim_store` writes a file into the --store folder (nothing without one).
//   - `sim_note` adds a line to the --log file, for faults and decisions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

enum sim_mode_id : int { mode_text, mode_echo, mode_download, mode_boot, mode_count };

struct sim_option {
    const char* name;        // "--echo-alter"; also accepted as "--echo-alter=VALUE"
    const char* value_name;  // "K:BYTE" for an option with a value, nullptr for a switch
    const char* help;        // one line for --help
    bool (*take)(const char* value);  // value is nullptr for a switch; false: bad value
};

struct sim_mode {
    const char* name;
    std::span<const sim_option> options;
    void (*enter)();               // when the device switches into the mode; may be null
    void (*on_byte)(uint8_t byte);  // each byte heard from the host
    void (*on_tick)();             // every sim_set_tick interval while active; may be null
};

extern const sim_mode text_mode, echo_mode, download_mode, boot_mode;
extern const sim_mode* const sim_modes[mode_count];

// ---- what the framework offers to modes -----------------------------------

void sim_send(const uint8_t* bytes, size_t count);
void sim_send_text(std::string_view text);
void sim_send_byte(uint8_t byte);

// Switches mode at once: the new mode's enter runs before this returns.
void sim_switch(sim_mode_id id);
sim_mode_id sim_current_mode();

int32_t sim_device_rate();
void sim_set_device_rate(int32_t rate);
int32_t sim_host_rate();

void sim_set_tick(int32_t interval_ms);
// Milliseconds on a monotonic clock since the simulator started.
int64_t sim_now_ms();

// Writes name inside the --store folder; true when written or when no
// folder was given, false (with a log note and a message) on failure.
bool sim_store(const char* name, const uint8_t* bytes, size_t count);
bool sim_storing();

// printf-style line in the --log file (no line end needed).
void sim_note(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Number parsing for option values: decimal, or 0x-prefixed hexadecimal.
// False when the text is not entirely a number in [min, max].
bool sim_parse_number(const char* text, long min, long max, long* value);

// The line rate on the pseudo-terminal comes from the port layer's termios2
// calls (serial/posix_rate.h): read through the master it is the rate the
// host set on the slave, custom rates included.
