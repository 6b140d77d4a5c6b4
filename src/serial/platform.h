// The operating system's side of the port layer: one open serial port, driven
// through these few calls. port.cpp holds every check, formula and message;
// one file per platform (platform_posix.cpp, later platform_win32.cpp) holds
// the system calls, so no caller needs an #ifdef.
//
// Each call that can fail returns false (or a non-zero code) and records the
// system's error, which plat_error_code and plat_error_text then report.
#pragma once

#include <cstddef>
#include <cstdint>

// The port's capability masks, in the Win32 COMMPROP bit layout; a platform
// without such a record reports what it can actually do.
struct plat_caps {
    uint32_t settable_params;       // SP_PARITY | SP_BAUD | SP_DATABITS | SP_STOPBITS = 0x0F
    uint16_t settable_data;         // DATABITS_8 = 0x0008
    uint16_t settable_stop_parity;  // STOPBITS_10 = 0x0001, PARITY_NONE = 0x0100
    uint32_t provider_caps;         // PCF_INTTIMEOUTS = 0x40, PCF_TOTALTIMEOUTS = 0x80
};

// Time-outs in milliseconds, in the order the Win32 COMMTIMEOUTS record uses.
struct plat_timeouts {
    uint32_t read_interval;
    uint32_t read_total_multiplier;  // per byte requested
    uint32_t read_total_constant;
    uint32_t write_total_multiplier;  // per byte written
    uint32_t write_total_constant;
};

// Opens the port named like "COM3" for exclusive, blocking-free use. Nothing
// stays open on failure.
bool plat_open(const char* name);
bool plat_is_open();
// Closes the port if open; safe to call twice.
void plat_close();
// 0, or the set_comm_prop code of the step that failed (-3 .. -6).
int plat_read_caps(plat_caps* caps);
// Reads the current line settings (kept by the platform until plat_set_line).
bool plat_get_line();
// Raw 8N1 at the rate, receiver on, no flow control, DTR and RTS off.
bool plat_set_line(int32_t rate);
bool plat_set_timeouts(const plat_timeouts& t);
// Reads up to size bytes within size * multiplier + constant ms of the
// time-outs last set; received NUL bytes are dropped. False on a failed read
// or a hang-up; *got holds the count in both cases.
bool plat_read(uint8_t* buf, uint32_t size, uint32_t* got);
// Writes all len bytes within the write time-out; *written holds the count.
bool plat_write(const uint8_t* buf, uint32_t len, uint32_t* written);
// Discards pending input and output.
void plat_purge();
// The last recorded error and its one-line text (no line end), written into buf.
int plat_error_code();
void plat_error_text(char* buf, size_t size);
void plat_sleep_ms(uint32_t ms);
