// Firmware update: Intel HEX verification and the boot-loader dialogue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Verifies the whole file from its start; the number of record lines, or a
// negative code after a message.
int inhexverify(FILE* fp);
// Sum modulo 256 of the two-character pairs of one record after its ':'.
uint8_t inhexsum(const char* text);
// Value of up to count characters of hexadecimal text.
int hexval(const char* text, int count);

// Updates the device's firmware through its boot loader; 0 on success.
int firmware(int com_port, const char* filename);
// Prints one progress line (CR, times, percentage, bar).
void firmware_progress(uint32_t done, uint32_t total);

// ---- helpers shared by the verifier, the update and their tests -------------

// A firmware file is read in pieces of at most 511 characters.
inline constexpr int fw_line_size = 512;
// A read of the firmware file failed (a directory, an I/O error).
inline constexpr int fw_read_error = -8;

// Reads the next piece of the file into buf (at least fw_line_size bytes) and
// removes its line end (LF or CR LF). Its length, or -1 at the end of the file
// or on a read error (ferror tells which).
long fw_read_line(FILE* fp, char* buf);
// Formats the progress line for the given elapsed seconds into out (always
// NUL-terminated); its length.
size_t firmware_progress_text(char* out, size_t size, int64_t elapsed, uint32_t done,
                              uint32_t total);
