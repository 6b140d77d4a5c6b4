// Rules file parser: reads one file line by line into rule_table and the two
// rule fields of conf_record.
//
// Each line is cut into words in place, every word with its own separator set,
// so coordinate groups may hold blanks but must be split by commas or tabs.
// Lines are read in pieces of at most 255 characters (a longer line becomes
// several numbered lines), CR LF counts as one line end. The first fault ends
// the load with one message naming file and line; no rule is then in force.
// Arguments of the geographic kinds are described by constant tables.
#include "rules/rules.h"

#include "angles/angles.h"
#include "angles/numbers.h"
#include "config/config.h"
#include "config/text_file.h"


#include <cctype>
#include <cfloat>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <span>

namespace {

constexpr int line_buffer_size = 256;
constexpr const char* comment_chars = "#/;";
constexpr const char* set_word = " \t,";
constexpr const char* set_angle = "\t,";
constexpr const char* set_last_angle = "#/;\t,";
constexpr const char* set_call = "#/; \t,";

// What one load knows about the line it is on.
struct load_state {
    const char* path;
    int line_no;
    char line[line_buffer_size];
    char copy[line_buffer_size];
    const char* mark;  // first comment character of the line, or nullptr
    char* next;        // where the next word is cut
    int entries;
    int implicits;
};

__attribute__((format(printf, 3, 4)))
int line_fault(const load_state& st, int code, const char* fmt, ...) {
    std::printf("\a\aError: %s[%d]: ", st.path, st.line_no);
    va_list ap;
    va_start(ap, fmt);
    std::vprintf(fmt, ap);
    va_end(ap);
    std::printf(":\n%s\n", st.copy);
    return code;
}

bool in_set(const char* set, char c) { return c != '\0' && std::strchr(set, c) != nullptr; }

// Skips separators, ends the word at the next separator; nullptr when none.
char* cut_word(load_state& st, const char* set) {
    char* p = st.next;
    while (in_set(set, *p)) ++p;
    if (*p == '\0') {
        st.next = p;
        return nullptr;
    }
    char* word = p;
    while (*p != '\0' && !in_set(set, *p)) ++p;
    if (*p != '\0') *p++ = '\0';
    st.next = p;
    return word;
}

bool in_comment(const load_state& st, const char* word) { return st.mark != nullptr && word > st.mark; }

// Word matching: the word is a case-blind prefix of the entry (or all of it).
bool word_matches(std::string_view word, std::string_view entry) {
    if (word.size() > entry.size()) return false;
    for (size_t i = 0; i < word.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(word[i])) != std::tolower(static_cast<unsigned char>(entry[i])))
            return false;
    return true;
}

double decimal_value(const char* s) { return parse_decimal_value(s).value; }

// ---- Calls ----------------------------------------------------------------

int read_call(load_state& st, rule_record& rec, bool destination) {
    char* call = cut_word(st, set_call);
    if (call == nullptr)
        return line_fault(st, rules_missing_argument, destination ? "missing Destination" : "missing Source");
    if (in_comment(st, call))
        return line_fault(st, rules_missing_argument,
                          destination ? "missing Destination string" : "missing Source string");
    if (call[0] == '*') {
        rec[rule_flags_offset] |= rule_flag_prefix | rule_flag_any;
        return 0;
    }
    if (char* star = std::strchr(call, '*')) {
        *star = '\0';
        rec[rule_flags_offset] |= rule_flag_prefix;
    } else if (char* hyphen = std::strchr(call, '-')) {
        *hyphen = '\0';
        const int32_t ssid = parse_decimal_int(hyphen + 1).value;
        if (ssid < 0 || ssid > 15) return line_fault(st, rules_bad_ssid, "invalid SSID range [0..15]: %d", ssid);
        rec[rule_flags_offset] |= rule_flag_ssid;
        rec[rule_arg2] = static_cast<uint8_t>(ssid);
    }
    const size_t len = std::strlen(call);
    if (len > rule_arg_width)
        return line_fault(st, rules_call_too_long,
                          destination ? "Destination is too long: %s" : "Source is too long: %s", call);
    std::memcpy(&rec[rule_arg1], call, len);
    return 0;
}

// ---- Geographic arguments -------------------------------------------------

enum class conv : uint8_t { degrees, radius, direction, inner_range, outer_range };

struct arg_spec {
    conv how;
    const char* set;
    const char* absent;
    const char* in_comment;
    double lo, hi;     // inclusive bounds of degrees
    const char* bad;   // fault text, given the value where it has one
    int code;
    int offset;
};

constexpr arg_spec circle_args[] = {
    {conv::radius, set_word, "missing Radius", "missing Range", 0, 0,
     "invalid Circle Radius, must be > 0: %f", rules_bad_radius, rule_arg1},
    {conv::degrees, set_angle, "missing Latitude", "missing Latitude", -90, 90,
     "invalid Latitude range [-90..90]: %f", rules_bad_latitude, rule_arg2},
    {conv::degrees, set_last_angle, "missing Longitude", "missing Longitude", -180, 180,
     "invalid Longitude range [-180..180]: %f", rules_bad_longitude, rule_arg3},
};

constexpr arg_spec compass_args[] = {
    {conv::direction, set_word, "missing Compass Direction", "missing Direction", 0, 0,
     "invalid compass Direction %s", rules_bad_direction, rule_arg1},
    circle_args[1],
    circle_args[2],
};

constexpr arg_spec rectangle_args[] = {
    {conv::degrees, set_angle, "missing Latitude1", "missing Latitude1", -90, 90,
     "invalid Latitude1 range [-90..90]: %f", rules_bad_latitude, rule_arg1},
    {conv::degrees, set_angle, "missing Longitude1", "missing Longitude1", -180, 180,
     "invalid Longitude1 range [-180..180]: %f", rules_bad_longitude, rule_arg2},
    {conv::degrees, set_angle, "missing Latitude2", "missing Latitude2", -90, 90,
     "invalid Latitude2 range [-90..90]: %f", rules_bad_latitude, rule_arg3},
    {conv::degrees, set_last_angle, "missing Longitude2", "missing Longitude2", -180, 180,
     "invalid Longitude2 range [-180..180]: %f", rules_bad_longitude, rule_arg4},
};

constexpr arg_spec sector_args[] = {
    {conv::degrees, set_angle, "missing Angle1", "missing Angle1", 0, 360,
     "invalid Angle1, range [0..360]: %f", rules_bad_angle, rule_arg1},
    {conv::degrees, set_angle, "missing Angle2", "missing Angle2", 0, 360,
     "invalid Angle2, range [0..360]: %f", rules_bad_angle, rule_arg2},
    {conv::inner_range, set_call, "missing Inner Range", "missing Inner Range", 0, 0,
     "invalid or missing Inner Range", rules_bad_inner_range, rule_arg3},
    {conv::outer_range, set_call, nullptr, nullptr, 0, 0,
     "invalid Outer Range, must be > Inner Range: %f", rules_bad_outer_range, rule_arg4},
};

std::span<const arg_spec> args_of_kind(uint8_t kind) {
    switch (kind) {
        case rule_kind_circle: return circle_args;
        case rule_kind_compass: return compass_args;
        case rule_kind_rectangle: return rectangle_args;
        case rule_kind_sector: return sector_args;
        default: return {};
    }
}

// The whole word, any case; 0 when it names no direction.
int direction_code(std::string_view word) {
    for (size_t code = 1; code < compass_names.size(); ++code)
        if (word.size() == compass_names[code].size() && word_matches(word, compass_names[code]))
            return static_cast<int>(code);
    return 0;
}

// Reals are stored in single precision; a value beyond its range would be
// stored as infinity, so it fails its test like any other bad value.
bool fits_single(double v) { return v <= FLT_MAX && v >= -FLT_MAX; }

int convert_arg(load_state& st, const arg_spec& a, const char* word, rule_record& rec) {
    double v = 0;
    switch (a.how) {
        case conv::direction: {
            const int code = direction_code(word);
            if (code == 0) return line_fault(st, a.code, a.bad, word);
            rec[a.offset] = static_cast<uint8_t>(code);
            return 0;
        }
        case conv::degrees:
            v = dmctodeg(word);
            if (!(v >= a.lo && v <= a.hi)) return line_fault(st, a.code, a.bad, v);
            break;
        case conv::radius:
            v = decimal_value(word);
            if (!(v > 0 && fits_single(v))) return line_fault(st, a.code, a.bad, v);
            break;
        case conv::inner_range:
            v = decimal_value(word);
            if (!std::isdigit(static_cast<unsigned char>(word[0])) || !fits_single(v))
                return line_fault(st, a.code, "%s", a.bad);
            break;
        case conv::outer_range:
            v = decimal_value(word);
            if (!(v > rule_get_real(rec, rule_arg3) && fits_single(v))) return line_fault(st, a.code, a.bad, v);
            break;
    }
    rule_put_real(rec, a.offset, static_cast<float>(v));
    return 0;
}

int read_geo_args(load_state& st, rule_record& rec, std::span<const arg_spec> args) {
    for (const arg_spec& a : args) {
        const char* word = cut_word(st, a.set);
        const bool missing = word == nullptr || in_comment(st, word);
        if (missing && a.absent == nullptr) return 0;  // optional: the stored zero stands
        if (word == nullptr) return line_fault(st, rules_missing_argument, "%s", a.absent);
        if (missing) return line_fault(st, rules_missing_argument, "%s", a.in_comment);
        if (int rc = convert_arg(st, a, word, rec); rc != 0) return rc;
    }
    return 0;
}

// ---- Lines ----------------------------------------------------------------

int rule_line(load_state& st, uint8_t kind, uint8_t action) {
    const int index = st.entries - st.implicits;
    rule_record& rec = rule_table[index];
    rec[rule_kind_offset] = kind;
    rec[rule_flags_offset] = action;
    // The field is 16-bit signed; a later line keeps the largest number it can hold.
    const uint16_t line = static_cast<uint16_t>(st.line_no > INT16_MAX ? INT16_MAX : st.line_no);
    rec[rule_line_offset] = static_cast<uint8_t>(line);
    rec[rule_line_offset + 1] = static_cast<uint8_t>(line >> 8);
    int rc = 0;
    if (kind == rule_kind_destin || kind == rule_kind_source)
        rc = read_call(st, rec, kind == rule_kind_destin);
    else
        rc = read_geo_args(st, rec, args_of_kind(kind));
    if (rc == 0) ++st.entries;
    return rc;
}

void set_implicit(load_state& st, uint8_t command, uint8_t action) {
    bool drop = command == rule_cmd_drop;
    if (command == rule_cmd_implicit) drop = action == rule_action_drop;
    conf_record.implicit_action = drop ? implicit_drop : implicit_pass;
    ++st.entries;
    ++st.implicits;
}

// Returns the matched code through code; 0 or a fault.
int match_command(load_state& st, const char* word, uint8_t& code) {
    int matches = 0;
    for (const auto& row : rule_command_table)
        if (word_matches(word, row.word)) {
            ++matches;
            code = row.code;
        }
    if (matches > 1) return line_fault(st, rules_ambiguous_command, "Ambiguous command: %s", word);
    if (matches == 0) return line_fault(st, rules_command_invalid, "command %s invalid", word);
    return 0;
}

int process_line(load_state& st) {
    char* word1 = cut_word(st, set_word);
    if (word1 == nullptr || in_set(comment_chars, word1[0])) return 0;
    uint8_t action = 0;
    for (const auto& row : rule_action_table)
        if (word_matches(word1, row.word)) action = row.code;
    if (action == 0) return line_fault(st, rules_action_invalid, "action %s invalid", word1);
    char* word2 = cut_word(st, set_word);
    if (word2 == nullptr) return line_fault(st, rules_missing_arguments, "missing arguments");
    if (in_set(comment_chars, word2[0])) return line_fault(st, rules_missing_command, "missing command");
    if (st.entries >= rule_table_capacity)
        return line_fault(st, rules_limit_exceeded, "rule limit (%d) exceeded", rule_table_capacity);
    uint8_t command = 0;
    if (int rc = match_command(st, word2, command); rc != 0) return rc;
    if (command <= rule_cmd_drop) {
        set_implicit(st, command, action);
        return 0;
    }
    // "implicit" names no action a rule could carry: its code would land on
    // the prefix modifier bit.
    if (action == rule_action_implicit) return line_fault(st, rules_action_invalid, "action %s invalid", word1);
    return rule_line(st, command, action);
}

int load_lines(std::FILE* f, load_state& st) {
    // A read error ends the loop like the end of the file; the caller tells them apart.
    while (read_text_piece(f, st.line, line_buffer_size) == piece_status::line) {
        size_t len = std::strlen(st.line);
        if (len > 0 && st.line[len - 1] == '\n') st.line[len - 1] = '\0';
        if (st.line_no < INT_MAX) ++st.line_no;
        std::memcpy(st.copy, st.line, sizeof st.copy);
        st.mark = std::strpbrk(st.line, comment_chars);
        st.next = st.line;
        if (int rc = process_line(st); rc != 0) return rc;
    }
    return 0;
}

std::FILE* open_rules_file(const char* path) {
    std::FILE* f = open_text_file(path);
    if (f == nullptr) std::printf("\a\aError: cannot open %s\n", path);
    return f;
}

void reset_rules() {
    conf_record.implicit_action = implicit_pass;
    conf_record.rule_count = 0;
    rules_processed = 0;
    for (auto& rec : rule_table) rec.fill(0);
}

}  // namespace

int rules_process(const char* path) {
    if (path == nullptr) {
        std::printf("rules_process: Error: param rfp is invalid\n");
        return rules_bad_param;
    }
    std::FILE* f = open_rules_file(path);
    if (f == nullptr) return rules_cannot_open;
    reset_rules();
    load_state st{};
    st.path = path;
    int rc = load_lines(f, st);
    if (rc == 0 && std::ferror(f)) {
        std::printf("\a\aError: cannot read %s after line %d\n", path, st.line_no);
        rc = rules_read_failed;
    }
    std::fclose(f);
    if (rc != 0) return rc;
    conf_record.rule_count = static_cast<uint16_t>(st.entries - st.implicits);
    std::printf("Rules processed %d, implicit %d\n", st.entries - st.implicits, st.implicits);
    rules_processed = 1;
    return 0;
}
