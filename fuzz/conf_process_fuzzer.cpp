// Any file into the configuration parser: the record must keep its terminators.
#include <cstring>

#include "config/config.h"
#include "file_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    conf_reset();
    conf_process(fuzz_input_file(data, size));
    if (std::memchr(conf_record.call, 0, sizeof conf_record.call) == nullptr) __builtin_trap();
    if (conf_record.bcomment[sizeof conf_record.bcomment - 1] != 0) __builtin_trap();
    if (digipath_count < 0 || digipath_count > digipath_slots) __builtin_trap();
    return 0;
}
