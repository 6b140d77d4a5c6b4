// Placeholder until the rules land.
#include "rules/rules.h"
#include "config/config.h"
#include <cstdio>
std::array<rule_record, rule_table_capacity> rule_table{};
int32_t rules_processed = 0;
int rules_process(const char*) { return -2; }
void rules_display() { std::printf("No Rules are configured!  Implicit Rule Action is %s\n", conf_record.implicit_action == 'd' ? "Drop" : "Pass"); }
const char* rule_command_name(int) { return "?"; }
const uint8_t* rules_image() { return rule_table[0].data(); }
