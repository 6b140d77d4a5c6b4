// Packet-filter rules: the rule table, the rules file parser and the display.
//
// Each rule is held as its 28-byte device image (little-endian, reals at the
// unaligned offsets 0, 6, 12 and 18), so the table is sent as it stands.
#pragma once

#include <array>
#include <cstdint>

inline constexpr int rule_record_size = 28;
inline constexpr int rule_table_capacity = 50;

using rule_record = std::array<uint8_t, rule_record_size>;

extern std::array<rule_record, rule_table_capacity> rule_table;
extern int32_t rules_processed;

// Reads a rules file into the table, the rule count and the implicit action;
// 0 on success, negative after a message.
int rules_process(const char* path);

// Prints the rules as the device will get them.
void rules_display();

// The command word shown for a rule kind, or "?".
const char* rule_command_name(int kind);

// The first count records as one contiguous block of count * 28 bytes.
const uint8_t* rules_image();
