// Placeholder until the port layer and the connection land.
#include "serial/serial.h"
#include <cstdlib>
const int32_t baud_table[14] = {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 0};
int32_t connected = 0;
char port_name[16] = "";
uint8_t reply_buffer[1024];
int32_t open_port(const char*, int32_t) { return -2; }
int32_t set_comm_prop(const char*, int32_t) { return -1; }
uint32_t read_port(const char*, uint8_t*, uint32_t, int32_t) { return 0; }
int32_t write_port(const char*, const uint8_t*, int32_t) { return -3; }
void purge_port() {}
void close_port() {}
const int32_t* get_baud(int32_t rate) {
    for (const int32_t* p = baud_table; *p != 0; ++p) if (*p == rate) return p;
    return nullptr;
}
const char* system_error_text() { return ""; }
void fatal_port_error(int, const char*) { std::exit(3); }
int32_t connect_device(int32_t, int) { return 2; }
void disconnect_device() {}
void change_link_baud(int32_t) {}
void serial_test(int, const char*) {}
void hexdump(FILE*, int, const char*, const uint8_t*, int, int) {}
