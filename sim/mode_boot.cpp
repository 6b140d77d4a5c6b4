// Boot loader after "reset\n": ENQ until SYN, identifier, record status bytes.
// Placeholder: hears everything and answers nothing.
#include "sim.h"

namespace {

void on_byte(uint8_t) {}

}  // namespace

const sim_mode boot_mode = {"boot", {}, nullptr, on_byte, nullptr};
