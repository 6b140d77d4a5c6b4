// Packet-filter rules: the rule table, the rules file parser and the display.
//
// Each rule is held as its 28-byte device image (little-endian, reals at the
// unaligned offsets 0, 6, 12 and 18), so the table is sent as it stands.
// The rule count and the implicit action live in conf_record, not here.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

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

// ---- Record layout -------------------------------------------------------

inline constexpr int rule_arg_width = 6;
inline constexpr int rule_arg1 = 0;
inline constexpr int rule_arg2 = 6;
inline constexpr int rule_arg3 = 12;
inline constexpr int rule_arg4 = 18;
inline constexpr int rule_kind_offset = 24;
inline constexpr int rule_flags_offset = 25;
inline constexpr int rule_line_offset = 26;

inline constexpr uint8_t rule_kind_destin = 0x32;
inline constexpr uint8_t rule_kind_source = 0x33;
inline constexpr uint8_t rule_kind_circle = 0x34;
inline constexpr uint8_t rule_kind_compass = 0x35;
inline constexpr uint8_t rule_kind_rectangle = 0x36;
inline constexpr uint8_t rule_kind_sector = 0x37;

inline constexpr uint8_t rule_action_drop = 0x04;
inline constexpr uint8_t rule_action_pass = 0x08;
inline constexpr uint8_t rule_action_implicit = 0x10;
inline constexpr uint8_t rule_flag_prefix = 0x10;
inline constexpr uint8_t rule_flag_any = 0x20;
inline constexpr uint8_t rule_flag_ssid = 0x40;

inline constexpr uint16_t implicit_pass = 'p';
inline constexpr uint16_t implicit_drop = 'd';

// A single-precision real packed little-endian into a field, and read back.
void rule_put_real(rule_record& rec, int offset, float value);
float rule_get_real(const rule_record& rec, int offset);
int16_t rule_get_line(const rule_record& rec);

// ---- Word tables ---------------------------------------------------------

struct rule_word {
    std::string_view word;
    uint8_t code;
};

inline constexpr std::array<rule_word, 3> rule_action_table{{
    {"drop", rule_action_drop},
    {"pass", rule_action_pass},
    {"implicit", rule_action_implicit},
}};

// Order matters: matching counts every row, and the display names a kind by
// the first row that carries its code.
inline constexpr std::array<rule_word, 11> rule_command_table{{
    {"implicit", 0x2F},
    {"pass", 0x30},
    {"drop", 0x31},
    {"destin", rule_kind_destin},
    {"dst", rule_kind_destin},
    {"source", rule_kind_source},
    {"src", rule_kind_source},
    {"circle", rule_kind_circle},
    {"compass", rule_kind_compass},
    {"rectangle", rule_kind_rectangle},
    {"sector", rule_kind_sector},
}};

inline constexpr uint8_t rule_cmd_implicit = 0x2F;
inline constexpr uint8_t rule_cmd_pass = 0x30;
inline constexpr uint8_t rule_cmd_drop = 0x31;

// Index = direction code; slot 0 is never stored.
inline constexpr std::array<std::string_view, 9> compass_names{
    "Error", "N", "NE", "E", "SE", "S", "SW", "W", "NW"};

// ---- Results of rules_process ---------------------------------------------

enum rules_result : int {
    rules_ok = 0,
    rules_bad_param = -1,
    rules_cannot_open = -2,
    rules_read_failed = -3,
    rules_action_invalid = -4,
    rules_missing_arguments = -5,
    rules_missing_command = -6,
    rules_limit_exceeded = -7,
    rules_ambiguous_command = -8,
    rules_command_invalid = -9,
    rules_missing_argument = -10,
    rules_bad_ssid = -11,
    rules_call_too_long = -12,
    rules_bad_radius = -13,
    rules_bad_latitude = -14,
    rules_bad_longitude = -15,
    rules_bad_direction = -16,
    rules_bad_angle = -17,
    rules_bad_inner_range = -18,
    rules_bad_outer_range = -19,
};
