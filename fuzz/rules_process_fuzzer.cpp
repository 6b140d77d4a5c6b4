// Any file into the rules parser, then the display of whatever it loaded.
#include "config/config.h"
#include "file_input.h"
#include "rules/rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rules_process(fuzz_input_file(data, size));
    if (conf_record.rule_count > rule_table_capacity) __builtin_trap();
    rules_display();
    return 0;
}
