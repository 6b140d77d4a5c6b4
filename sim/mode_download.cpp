// Download receiver after "download\n": framed packets answered with ACK/NAK.
// Placeholder: hears everything and answers nothing.
#include "sim.h"

namespace {

void on_byte(uint8_t) {}

}  // namespace

const sim_mode download_mode = {"download", {}, nullptr, on_byte, nullptr};
