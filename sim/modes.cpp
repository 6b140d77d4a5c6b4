// The device's modes, one line each, indexed by sim_mode_id.
#include "sim.h"

const sim_mode* const sim_modes[mode_count] = {
    &text_mode,      // mode_text
    &echo_mode,      // mode_echo
    &download_mode,  // mode_download
    &boot_mode,      // mode_boot
};
