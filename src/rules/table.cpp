// The rule table: 50 device images in static storage, with the little-endian
// packing of the unaligned single-precision reals and the command-name lookup.
// The table is sent as one byte block, so its records must sit back to back.
#include "rules/rules.h"

#include <bit>
#include <cstring>

static_assert(sizeof(rule_record) == rule_record_size);
static_assert(sizeof(rule_table) == rule_record_size * rule_table_capacity);

std::array<rule_record, rule_table_capacity> rule_table{};
int32_t rules_processed = 0;

void rule_put_real(rule_record& rec, int offset, float value) {
    const uint32_t bits = std::bit_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) rec[offset + i] = static_cast<uint8_t>(bits >> (8 * i));
    rec[offset + 4] = 0;
    rec[offset + 5] = 0;
}

float rule_get_real(const rule_record& rec, int offset) {
    uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) bits |= static_cast<uint32_t>(rec[offset + i]) << (8 * i);
    return std::bit_cast<float>(bits);
}

int16_t rule_get_line(const rule_record& rec) {
    const uint16_t raw = static_cast<uint16_t>(rec[rule_line_offset] | (rec[rule_line_offset + 1] << 8));
    return static_cast<int16_t>(raw);
}

const char* rule_command_name(int kind) {
    for (const auto& row : rule_command_table)
        if (row.code == kind) return row.word.data();
    return "?";
}

const uint8_t* rules_image() { return reinterpret_cast<const uint8_t*>(&rule_table); }
