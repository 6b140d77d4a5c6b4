// The configuration display: the record in a fixed layout, as the device gets it.
#include "config/config.h"
#include "shell/version.h"

#include <cstdio>

namespace {

const char* yes_no(uint16_t v) { return v != 0 ? "Yes" : "No"; }

const char* implicit_name(uint16_t action) {
    return action == 'd' ? "Drop" : action == 'p' ? "Pass" : "?";
}

}  // namespace

void conf_display() {
    const conf_record_t& c = conf_record;
    // The call field is NUL-terminated by the parser, but bound it anyway.
    std::printf(
        "Configuration %s\nStation Call\t%*.*s\tSSID %ld\nBase Lat %10.6f\tLon %11.5f    "
        "Altitude %ld meters\nHost  baud\t%lu\nDSTAR baud\t%lu\nTNC   baud\t%lu\n"
        "Dupe Window %u sec.\tCall Rate Limit %u sec.\nBeacon %u sec.\tIcon %c%c\n"
        "Beacon Comment: %.*s\nNSR: %sabled",
        program_version, 6, int(sizeof c.call), c.call, long(c.ssid), double(c.lat),
        double(c.lon), long(c.altitude), (unsigned long)c.host_baud,
        (unsigned long)c.dstar_baud, (unsigned long)c.tnc_baud, unsigned(c.dupewin),
        unsigned(c.ratelimcall), unsigned(c.beacon), (c.icon >> 8) & 0xFF, c.icon & 0x7F,
        int(sizeof c.bcomment), c.bcomment, c.nsr != 0 ? "En" : "Dis");

    std::printf("\nDigi Path[%d]: ", int(digipath_count));
    for (int i = 0; i < digipath_count && i < digipath_slots; ++i)
        std::printf("%.*s%s", digipath_slot_width, c.digipath[i],
                    i + 1 < digipath_count ? "," : "");

    std::printf(
        "\nLog Port: %s\nFix Valid: %s\tPass packets without valid position: %s\n"
        "Halt On Error: %s\tDrop Mangled Packet: %s\nRule count %u\tImplicit Rule Action: %s\n",
        yes_no(c.log_port), yes_no(c.fixvalid), yes_no(c.pass_no_position),
        yes_no(c.haltonerr), yes_no(c.dropmangld), unsigned(c.rule_count),
        implicit_name(c.implicit_action));
}
