// conf_process: the configuration file, one keyword line at a time, into
// conf_record.
//
// Lines are read in pieces of at most 255 characters (a longer line goes on
// as the next numbered line), with CR LF read as LF on every platform. Each
// line is cut by one tokenizer that continues where the previous token ended,
// with a separator set chosen per token. The first faulty line ends the parse
// with one message naming it; the record then keeps what was stored so far.
#include "angles/angles.h"
#include "angles/numbers.h"
#include "config/config.h"
#include "config/text_file.h"
#include "serial/serial.h"


#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr int line_buffer_size = 256;
constexpr int call_max = 6;
constexpr int bcomment_max = int(sizeof conf_record.bcomment) - 1;

constexpr int err_no_path = -1;
constexpr int err_open = -2;
constexpr int err_read = -3;  // the file opened but reading it failed part way
constexpr int err_keyword = -7;
constexpr int err_after_mark = -8;
constexpr int err_argument = -11;

// Separator sets, one per kind of token.
constexpr const char* keyword_set = " \t,";
constexpr const char* argument_set = "#/; \t,";
constexpr const char* angle_set = " \t,";
constexpr const char* text_set = "#/;\t";
constexpr const char* icon_set = " \t";
constexpr const char* path_element_set = ", ";
constexpr const char* comment_marks = "#/;";

struct line_state {
    char text[line_buffer_size];  // cut into tokens in place
    char copy[line_buffer_size];  // untouched, for messages
    const char* mark;             // first comment mark of the line, or nullptr
    char* cursor;                 // where the next token search starts
    int32_t number;               // counted in full: a 16-bit count would wrap to negative
};

int line_no(const line_state& line) { return line.number; }

// Skips separators, cuts the token at the next separator and consumes that
// separator; nullptr when only separators are left.
char* cut_token(char*& cursor, const char* seps) {
    char* p = cursor + std::strspn(cursor, seps);
    if (*p == '\0') {
        cursor = p;
        return nullptr;
    }
    char* token = p;
    p += std::strcspn(p, seps);
    if (*p != '\0') *p++ = '\0';
    cursor = p;
    return token;
}

// Takes the next argument; prints "missing <what>" when there is none (-11)
// or, with the mark check, when it stands after the comment mark (-8).
int take_argument(line_state& line, const char* seps, bool mark_check, const char* what,
                  char*& token) {
    token = cut_token(line.cursor, seps);
    const bool after_mark = token != nullptr && mark_check && line.mark != nullptr &&
                            token > line.mark;
    if (token != nullptr && !after_mark) return 0;
    std::printf("\a\aError: line %d: missing %s argument: %s\n", line_no(line), what, line.copy);
    return after_mark ? err_after_mark : err_argument;
}

char to_upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }
char to_lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

void upper_case(char* s) {
    for (; *s != '\0'; ++s) *s = to_upper(*s);
}

struct keyword_row;
using handler_fn = int (*)(line_state&, const keyword_row&);

struct keyword_row {
    const char* name;
    handler_fn handler;
    uint16_t conf_record_t::*word = nullptr;  // switches
    uint32_t conf_record_t::*baud = nullptr;  // baud rates
};

int handle_call(line_state& line, const keyword_row&) {
    char* token = nullptr;
    if (int rc = take_argument(line, argument_set, true, "Call Sign", token)) return rc;
    if (std::strlen(token) > call_max) {
        std::printf("\a\aError: line %d: invalid Call Sign argument: too long: %s\n",
                    line_no(line), line.copy);
        return err_argument;
    }
    upper_case(token);
    // Only the call and its terminator are written; later bytes stay.
    std::memcpy(conf_record.call, token, std::strlen(token) + 1);
    return 0;
}

int handle_ssid(line_state& line, const keyword_row&) {
    char* token = nullptr;
    if (int rc = take_argument(line, argument_set, true, "SSID", token)) return rc;
    const int32_t value = parse_prefixed_int(token).value;
    if (value < 0 || value > 15) {
        std::printf("\a\aError: line %d: invalid SSID argument range [0..15]: %d: %s\n",
                    line_no(line), int(value), line.copy);
        return err_argument;
    }
    conf_record.ssid = uint16_t(value);
    return 0;
}

// One latitude or longitude through the angle parser into its field.
int read_angle(line_state& line, const char* seps, bool mark_check, const char* what,
               float& field) {
    char* token = nullptr;
    if (int rc = take_argument(line, seps, mark_check, what, token)) return rc;
    const double degrees = dmctodeg(token);
    if (degrees == angle_invalid) {
        std::printf("\a\aError: line %d: invalid %s argument: %s: %s\n", line_no(line), what,
                    token, line.copy);
        return err_argument;
    }
    field = float(degrees);
    return 0;
}

int handle_position(line_state& line, const keyword_row&) {
    if (int rc = read_angle(line, angle_set, false, "Station Latitude", conf_record.lat))
        return rc;
    return read_angle(line, argument_set, true, "Station Longitude", conf_record.lon);
}

int handle_lat(line_state& line, const keyword_row&) {
    return read_angle(line, angle_set, false, "Station Latitude", conf_record.lat);
}

int handle_lon(line_state& line, const keyword_row&) {
    return read_angle(line, angle_set, false, "Station Longitude", conf_record.lon);
}

int handle_altitude(line_state& line, const keyword_row&) {
    char* token = nullptr;
    if (int rc = take_argument(line, argument_set, true, "Altitude", token)) return rc;
    const parsed_int n = parse_prefixed_int(token);
    int32_t metres = n.value;
    // The device tools convert feet with this single-precision factor
    // (nearest to 1/3.28); the product of a 32-bit value always fits.
    if (*n.end == 'f' || *n.end == 'F') metres = int32_t(float(n.value) * 0.30487806f);
    conf_record.altitude = metres;
    return 0;
}

int handle_switch(line_state& line, const keyword_row& row) {
    char* token = nullptr;
    if (int rc = take_argument(line, argument_set, true, "y | n", token)) return rc;
    const bool on = std::strchr("yY1tTeE", token[0]) != nullptr;
    conf_record.*row.word = on ? 1 : 0;
    return 0;
}

int handle_baud(line_state& line, const keyword_row& row) {
    char* token = nullptr;
    if (int rc = take_argument(line, argument_set, true, "Baud", token)) return rc;
    const int32_t value = parse_decimal_int(token).value;
    if (get_baud(value) == nullptr) {
        std::printf("\a\aError: line %d: invalid Baud argument: %d: %s\n", line_no(line),
                    int(value), line.copy);
        return err_argument;
    }
    conf_record.*row.baud = uint32_t(value);
    return 0;
}

int handle_dupewin(line_state& line, const keyword_row&) {
    char* token = nullptr;
    if (int rc = take_argument(line, argument_set, true, "seconds", token)) return rc;
    const int32_t value = parse_decimal_int(token).value;
    if (value < 5 || value > 500) {
        std::printf("\a\aError: line %d: invalid seconds argument range [5..500]: %d: %s\n",
                    line_no(line), int(value), line.copy);
        return err_argument;
    }
    conf_record.dupewin = uint16_t(value);
    return 0;
}

int handle_ratelimcall(line_state& line, const keyword_row&) {
    char* token = nullptr;
    if (int rc = take_argument(line, argument_set, true, "seconds", token)) return rc;
    const int32_t value = parse_decimal_int(token).value;
    if (value < 0 || value > 65535) {
        std::printf("\a\aError: line %d: invalid seconds argument range [0..%d]: %d: %s\n",
                    line_no(line), 65535, int(value), line.copy);
        return err_argument;
    }
    conf_record.ratelimcall = uint16_t(value);
    return 0;
}

int handle_beacon(line_state& line, const keyword_row&) {
    char* token = nullptr;
    if (int rc = take_argument(line, argument_set, true, "seconds", token)) return rc;
    const int32_t value = parse_prefixed_int(token).value;
    if (value != 0 && (value < 10 || value > 65535)) {
        std::printf("\a\aError: line %d: invalid seconds argument range [0, %d..%d]: %d: %s\n",
                    line_no(line), 10, 65535, int(value), line.copy);
        return err_argument;
    }
    conf_record.beacon = uint16_t(value);
    return 0;
}

// The path count follows the slots as they fill, so a path that fails part
// way still shows exactly the elements that were stored.
int handle_digipath(line_state& line, const keyword_row&) {
    char* token = nullptr;
    if (int rc = take_argument(line, text_set, true, "Digi Path", token)) return rc;
    std::memset(conf_record.digipath, 0, sizeof conf_record.digipath);
    digipath_count = 0;
    char* cursor = token;
    while (digipath_count < digipath_slots) {
        char* element = cut_token(cursor, path_element_set);
        if (element == nullptr) break;
        const size_t length = std::strlen(element);
        if (length > size_t(digipath_slot_width)) {
            std::printf("\a\aError: line %d: Digi Path[%d]: %s exceeds length %d: %s\n",
                        line_no(line), int(digipath_count + 1), element, digipath_slot_width,
                        line.copy);
            return err_argument;
        }
        upper_case(element);
        std::memcpy(conf_record.digipath[digipath_count], element, length);
        ++digipath_count;
    }
    return 0;
}

bool is_icon_table(char c) {
    return c == '/' || c == '\\' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'j') ||
           (c >= 'A' && c <= 'Z');
}

int handle_icon(line_state& line, const keyword_row&) {
    char* token = nullptr;
    if (take_argument(line, icon_set, false, "Beacon Icon", token) != 0) return err_after_mark;
    if (!is_icon_table(token[0])) {
        std::printf("\a\aError: line %d: Icon Symbol ID must be one of / \\ 0..9 a..j A..Z: %s\n",
                    line_no(line), line.copy);
        return err_after_mark;
    }
    const unsigned char code = static_cast<unsigned char>(token[1]);
    if (code < '!' || code > '~') {
        std::printf("\a\aError: line %d: Icon Code must be in range [!..~]: %s\n", line_no(line),
                    line.copy);
        return err_after_mark;
    }
    conf_record.icon = uint16_t(static_cast<unsigned char>(token[0]) * 256 + code);
    return 0;
}

int handle_bcomment(line_state& line, const keyword_row&) {
    char* token = nullptr;
    if (int rc = take_argument(line, text_set, true, "Beacon Comment", token)) return rc;
    std::memset(conf_record.bcomment, 0, sizeof conf_record.bcomment);
    std::memcpy(conf_record.bcomment, token, std::min(std::strlen(token), size_t(bcomment_max)));
    return 0;
}

constexpr std::array<keyword_row, 21> keywords = {{
    {"call", handle_call},
    {"ssid", handle_ssid},
    {"position", handle_position},
    {"base", handle_position},
    {"lat", handle_lat},
    {"lon", handle_lon},
    {"altitude", handle_altitude},
    {"log", handle_switch, &conf_record_t::log_port},
    {"dropmangld", handle_switch, &conf_record_t::dropmangld},
    {"haltonerr", handle_switch, &conf_record_t::haltonerr},
    {"fixvalid", handle_switch, &conf_record_t::fixvalid},
    {"host", handle_baud, nullptr, &conf_record_t::host_baud},
    {"tnc", handle_baud, nullptr, &conf_record_t::tnc_baud},
    {"dstar", handle_baud, nullptr, &conf_record_t::dstar_baud},
    {"nsr", handle_switch, &conf_record_t::nsr},
    {"dupewin", handle_dupewin},
    {"ratelimcall", handle_ratelimcall},
    {"digipath", handle_digipath},
    {"beacon", handle_beacon},
    {"icon", handle_icon},
    {"bcomment", handle_bcomment},
}};

// A keyword matches when the word is the keyword or a beginning of it,
// without regard to case.
bool keyword_matches(const char* word, const char* keyword) {
    for (; *word != '\0'; ++word, ++keyword)
        if (*keyword == '\0' || to_lower(*word) != *keyword) return false;
    return true;
}

// Every row is compared and every match counts: a whole keyword that begins
// a longer one is still ambiguous.
int process_keyword(line_state& line, char* word, int& items) {
    const keyword_row* found = nullptr;
    int matches = 0;
    for (const keyword_row& row : keywords) {
        if (keyword_matches(word, row.name)) {
            found = &row;
            ++matches;
        }
    }
    if (matches != 1) {
        std::printf(matches > 1 ? "\a\aError: line %d: Ambiguous command: %s: %s\n"
                                : "\a\aError: line %d: command %s invalid: %s\n",
                    line_no(line), word, line.copy);
        return err_keyword;
    }
    ++items;
    return found->handler(line, *found);
}

// Prepares a freshly read piece: newline off, copy kept, comment mark found.
void start_line(line_state& line) {
    const size_t length = std::strlen(line.text);
    if (length > 0 && line.text[length - 1] == '\n') line.text[length - 1] = '\0';
    std::memcpy(line.copy, line.text, sizeof line.copy);
    line.mark = std::strpbrk(line.text, comment_marks);
    line.cursor = line.text;
    if (line.number < INT32_MAX) ++line.number;
}

// Runs the lines of an open file; 0 at its end or the first failure's code.
int process_lines(FILE* file, const char* path) {
    line_state line{};
    int items = 0;
    for (;;) {
        const piece_status status = read_text_piece(file, line.text, line_buffer_size);
        if (status == piece_status::end) break;
        if (status == piece_status::error) {
            std::printf("\a\aError: cannot read %s: %s\n", path, std::strerror(errno));
            return err_read;
        }
        start_line(line);
        char* word = cut_token(line.cursor, keyword_set);
        if (word == nullptr || std::strchr(comment_marks, word[0]) != nullptr) continue;
        if (int rc = process_keyword(line, word, items)) return rc;
    }
    conf_processed = 1;
    std::printf("Configuration items processed %d\n", items);
    return 0;
}

// Back to the defaults, keeping what the rules parser owns.
void reset_keeping_rules() {
    const uint16_t rule_count = conf_record.rule_count;
    const uint16_t implicit_action = conf_record.implicit_action;
    conf_reset();
    conf_record.rule_count = rule_count;
    conf_record.implicit_action = implicit_action == 'd' ? 'd' : 'p';
}

}  // namespace

int conf_process(const char* path) {
    if (path == nullptr) {
        std::fputs("conf_process: Error: param rfp is invalid\n", stdout);
        return err_no_path;
    }
    FILE* file = open_text_file(path);
    if (file == nullptr) {
        std::printf("\a\aError: cannot open %s\n", path);
        return err_open;
    }
    reset_keeping_rules();
    const int rc = process_lines(file, path);
    std::fclose(file);
    return rc;
}
