// Firmware update: Intel HEX verification and the boot-loader dialogue.
#pragma once

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
