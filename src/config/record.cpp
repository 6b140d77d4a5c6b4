// The configuration record, its default image and its little-endian packing.
#include "config/config.h"

#include <bit>
#include <cstring>

conf_record_t conf_record;
int32_t digipath_count = 0;
int32_t conf_processed = 0;

// Default station position: the cathedral square of Milan.
const conf_record_t conf_default = {
    .host_baud = 19200,
    .dstar_baud = 9600,
    .tnc_baud = 19200,
    .altitude = 0,
    .lat = 45.464167f,
    .lon = 9.190000f,
    .call = {'N', 'O', 'T', 'S', 'E', 'T', 0, 0},
    .ssid = 0,
    .word_34 = 3,
    .word_36 = 6,
    .word_38 = 0,
    .word_40 = 0,
    .nsr = 0,
    .use_dstar_baud = 1,
    .dupewin = 28,
    .beacon = 600,
    .icon = '/' * 256 + '#',
    .log_port = 1,
    .haltonerr = 0,
    .dropmangld = 1,
    .fixvalid = 1,
    .pass_no_position = 0,
    .ratelimcall = 0,
    .implicit_action = 'p',
    .rule_count = 0,
    .word_68 = 0,
    .digipath = {},
    .bcomment = {},
};

namespace {

struct le_writer {
    uint8_t* out;
    void u16(uint16_t v) { *out++ = uint8_t(v); *out++ = uint8_t(v >> 8); }
    void u32(uint32_t v) { u16(uint16_t(v)); u16(uint16_t(v >> 16)); }
    void f32(float v) { u32(std::bit_cast<uint32_t>(v)); }
    void bytes(const void* p, size_t n) { std::memcpy(out, p, n); out += n; }
};

struct le_reader {
    const uint8_t* in;
    uint16_t u16() { uint16_t v = uint16_t(in[0] | in[1] << 8); in += 2; return v; }
    uint32_t u32() { uint32_t lo = u16(); return lo | uint32_t(u16()) << 16; }
    float f32() { return std::bit_cast<float>(u32()); }
    void bytes(void* p, size_t n) { std::memcpy(p, in, n); in += n; }
};

// One walk over the fields in image order serves both directions, so the two
// can never disagree about the layout.
template <typename Io, typename Rec>
void walk(Io& io, Rec& r, auto u16, auto u32, auto f32) {
    u32(io, r.host_baud); u32(io, r.dstar_baud); u32(io, r.tnc_baud);
    u32(io, r.altitude); f32(io, r.lat); f32(io, r.lon);
    io.bytes_field(r.call, sizeof r.call);
    for (auto* w : {&r.ssid, &r.word_34, &r.word_36, &r.word_38, &r.word_40, &r.nsr,
                    &r.use_dstar_baud, &r.dupewin, &r.beacon, &r.icon, &r.log_port,
                    &r.haltonerr, &r.dropmangld, &r.fixvalid, &r.pass_no_position,
                    &r.ratelimcall, &r.implicit_action, &r.rule_count, &r.word_68})
        u16(io, *w);
    io.bytes_field(r.digipath, sizeof r.digipath);
    io.bytes_field(r.bcomment, sizeof r.bcomment);
}

}  // namespace

std::array<uint8_t, conf_image_size> conf_pack(const conf_record_t& rec) {
    std::array<uint8_t, conf_image_size> image{};
    struct io_t : le_writer {
        void bytes_field(const void* p, size_t n) { bytes(p, n); }
    } io{{image.data()}};
    walk(io, rec,
         [](io_t& w, uint16_t v) { w.u16(v); },
         [](io_t& w, auto v) { w.u32(uint32_t(v)); },
         [](io_t& w, float v) { w.f32(v); });
    return image;
}

conf_record_t conf_unpack(const std::array<uint8_t, conf_image_size>& image) {
    conf_record_t rec{};
    struct io_t : le_reader {
        void bytes_field(void* p, size_t n) { bytes(p, n); }
    } io{{image.data()}};
    walk(io, rec,
         [](io_t& r, uint16_t& v) { v = r.u16(); },
         [](io_t& r, auto& v) { v = static_cast<std::remove_reference_t<decltype(v)>>(r.u32()); },
         [](io_t& r, float& v) { v = r.f32(); });
    return rec;
}

void conf_reset() {
    conf_record = conf_default;
    digipath_count = 0;
}

uint32_t default_link_baud() {
    return conf_record.use_dstar_baud != 0 ? conf_record.dstar_baud : conf_record.host_baud;
}
