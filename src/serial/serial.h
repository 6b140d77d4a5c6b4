// Serial link: the one port, the device connection, the echo test and the hex dump.
//
// Results follow one convention: 0 (or a count) for success, a negative code
// after a printed message for failure. Reads are always bounded by their
// time-out; a failed read ends the program (fatal_port_error).
#pragma once

#include <cstdint>
#include <cstdio>

// ---- port layer -----------------------------------------------------------

// The rates the port accepts, ending with 0.
extern const int32_t baud_table[14];

// Opens the named port ("COM3") at a rate of baud_table, 8N1, no flow control,
// DTR and RTS off, then purges it. 0, or -1/-2/-3/-14 after a message.
// On POSIX, COMn is $XDG_CONFIG_HOME/qspan/ports/comn when that exists (a
// link to the device), else /dev/ttyS<n-1>; a second user is refused.
int32_t open_port(const char* name, int32_t rate);
// Applies the line settings to the open port; called by open_port only.
int32_t set_comm_prop(const char* name, int32_t rate);
// Reads until size bytes arrived or size * (10000 / B) + timeout_ms + 10 ms passed.
uint32_t read_port(const char* name, uint8_t* buf, uint32_t size, int32_t timeout_ms);
// Writes every byte; the length, or a negative code after a message.
int32_t write_port(const char* name, const uint8_t* buf, int32_t len);
// Discards pending input and output.
void purge_port();
// Closes the port if open; safe to call twice.
void close_port();
// The baud_table entry of the rate, or nullptr.
const int32_t* get_baud(int32_t rate);
// The text of the last platform error, valid until the next call.
const char* system_error_text();
// Reports to standard error, waits 5 s and exits with status 3.
[[noreturn]] void fatal_port_error(int code, const char* message);

// ---- device connection ----------------------------------------------------

extern int32_t connected;
extern char port_name[16];
extern uint8_t reply_buffer[1024];

int32_t connect_device(int32_t rate, int reconnect);
void disconnect_device();
void change_link_baud(int32_t rate);

// ---- serial test ----------------------------------------------------------

void serial_test(int command_id, const char* count_text);

// ---- hex dump -------------------------------------------------------------

void hexdump(FILE* stream, int flags, const char* name, const uint8_t* buf, int length,
             int header_every);
