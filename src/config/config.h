// Station configuration: the one record the device takes, its default image,
// the configuration file parser and the display.
//
// The record is held with natural C++ types and turned into the device's
// 178-byte little-endian image only by conf_pack, so the bytes are right on
// any host. Texts keep their fixed widths, as the device expects them.
#pragma once

#include <array>
#include <cstdint>

inline constexpr int conf_image_size = 178;
inline constexpr int digipath_slots = 8;
inline constexpr int digipath_slot_width = 8;

struct conf_record_t {
    uint32_t host_baud;                   // offset 0
    uint32_t dstar_baud;                  // 4
    uint32_t tnc_baud;                    // 8
    int32_t altitude;                     // 12, metres
    float lat;                            // 16, decimal degrees, north positive
    float lon;                            // 20, decimal degrees, east positive
    char call[8];                         // 24, NUL-terminated, bytes after it kept
    uint16_t ssid;                        // 32
    uint16_t word_34;                     // 34..40: device parameters we only pass on
    uint16_t word_36;
    uint16_t word_38;
    uint16_t word_40;
    uint16_t nsr;                         // 42
    uint16_t use_dstar_baud;              // 44
    uint16_t dupewin;                     // 46
    uint16_t beacon;                      // 48
    uint16_t icon;                        // 50: table id * 256 + symbol code
    uint16_t log_port;                    // 52
    uint16_t haltonerr;                   // 54
    uint16_t dropmangld;                  // 56
    uint16_t fixvalid;                    // 58
    uint16_t pass_no_position;            // 60
    uint16_t ratelimcall;                 // 62
    uint16_t implicit_action;             // 64: 'p' or 'd'
    uint16_t rule_count;                  // 66
    uint16_t word_68;                     // 68
    char digipath[digipath_slots][digipath_slot_width];  // 70, no terminator in a full slot
    char bcomment[44];                    // 134, always NUL-terminated
};

extern conf_record_t conf_record;
extern int32_t digipath_count;
extern int32_t conf_processed;

extern const conf_record_t conf_default;

// The record as the device receives it.
std::array<uint8_t, conf_image_size> conf_pack(const conf_record_t& rec);
// The inverse, for tests and tools that read a stored image.
conf_record_t conf_unpack(const std::array<uint8_t, conf_image_size>& image);

// Fills the record from the default image and empties the path count.
void conf_reset();

// Reads a configuration file into the record; 0 on success, negative on failure
// after printing its message.
int conf_process(const char* path);

// Prints the record in its fixed layout.
void conf_display();

// The link rate used when the user names none.
uint32_t default_link_baud();
