// Rules display: decodes the records in force from their device images and
// prints one line per rule after the implicit rule.
//
// Argument texts are 64 characters wide rather than the 19 that every
// accepted latitude, longitude and angle needs: a radius or range can be as
// large as the largest single-precision value (39 integer digits), and it is
// shown whole rather than cut, since a cut number would read as another value.
#include "rules/rules.h"

#include "config/config.h"

#include <cstdio>

namespace {

constexpr int arg_text_size = 64;

using arg_texts = char[4][arg_text_size];

const char* implicit_word(uint16_t action, const char* otherwise) {
    if (action == implicit_drop) return "Drop";
    if (action == implicit_pass) return "Pass";
    return otherwise;
}

const char* action_word(uint8_t flags) {
    switch (flags & 0x0F) {
        case rule_action_pass: return "Pass";
        case rule_action_drop: return "Drop";
        default: return "?";
    }
}

void call_text(const rule_record& rec, char* out) {
    const uint8_t flags = rec[rule_flags_offset];
    const char* call = reinterpret_cast<const char*>(&rec[rule_arg1]);
    if (flags & rule_flag_any)
        std::snprintf(out, arg_text_size, "*");
    else if (flags & rule_flag_prefix)
        std::snprintf(out, arg_text_size, "%-.*s*", rule_arg_width, call);
    else if (flags & rule_flag_ssid)
        std::snprintf(out, arg_text_size, "%-.*s-%d", rule_arg_width, call, rec[rule_arg2]);
    else
        std::snprintf(out, arg_text_size, "%-.*s", rule_arg_width, call);
}

double real_at(const rule_record& rec, int offset) { return rule_get_real(rec, offset); }

void position_texts(const rule_record& rec, char* lat, char* lon) {
    std::snprintf(lat, arg_text_size, "%-10.6f D Lat,", real_at(rec, rule_arg2));
    std::snprintf(lon, arg_text_size, "%-11.5f D Lon", real_at(rec, rule_arg3));
}

void fill_arg_texts(const rule_record& rec, arg_texts& t) {
    switch (rec[rule_kind_offset]) {
        case rule_kind_destin:
        case rule_kind_source:
            call_text(rec, t[0]);
            break;
        case rule_kind_circle:
            std::snprintf(t[0], arg_text_size, "%-.3f mi R,", real_at(rec, rule_arg1));
            position_texts(rec, t[1], t[2]);
            break;
        case rule_kind_compass: {
            const uint8_t code = rec[rule_arg1];
            const std::string_view name = code < compass_names.size() ? compass_names[code] : compass_names[0];
            std::snprintf(t[0], arg_text_size, "%-2s Dir,", name.data());
            position_texts(rec, t[1], t[2]);
            break;
        }
        case rule_kind_rectangle:
            std::snprintf(t[0], arg_text_size, "%-10.6f D Lat1,", real_at(rec, rule_arg1));
            std::snprintf(t[1], arg_text_size, "%-11.5f D Lon1,", real_at(rec, rule_arg2));
            std::snprintf(t[2], arg_text_size, "%-10.6f D Lat2,", real_at(rec, rule_arg3));
            std::snprintf(t[3], arg_text_size, "%-11.5f D Lon2", real_at(rec, rule_arg4));
            break;
        case rule_kind_sector:
            std::snprintf(t[0], arg_text_size, "%-.3f D Ang1,", real_at(rec, rule_arg1));
            std::snprintf(t[1], arg_text_size, "%-.3f D Ang2,", real_at(rec, rule_arg2));
            std::snprintf(t[2], arg_text_size, "%-.3f In R,", real_at(rec, rule_arg3));
            std::snprintf(t[3], arg_text_size, "%-.3f Out R", real_at(rec, rule_arg4));
            break;
        default:
            break;
    }
}

void display_rule(const rule_record& rec) {
    arg_texts t{};
    fill_arg_texts(rec, t);
    const uint8_t flags = rec[rule_flags_offset];
    std::printf("%-6s %-9s %02x   %s %s %s %s\n", action_word(flags), rule_command_name(rec[rule_kind_offset]),
                flags & 0xF0, t[0], t[1], t[2], t[3]);
}

}  // namespace

void rules_display() {
    const int count = conf_record.rule_count;
    if (count == 0) {
        std::printf("No Rules are configured!  Implicit Rule Action is %s\n",
                    implicit_word(conf_record.implicit_action, "?"));
        return;
    }
    std::printf("Rule count %d plus Implicit\n", count);
    std::printf("\n%-6s %-9s %-s Arguments\n", "Action", "Command", "Mods");
    std::printf("%-6s %-9s\n", implicit_word(conf_record.implicit_action, "Pass"), "Implicit");
    // rule_count is a field of a record that could be filled from elsewhere;
    // never read past the table.
    for (int i = 0; i < count && i < rule_table_capacity; ++i) display_rule(rule_table[i]);
}
