// The port layer: argument checks, the rate table, the time-out formulas and
// every message, over the platform calls of platform.h. It keeps the one port
// and its current rate; opening while a port is open is the caller's fault,
// though the platform closes the old one first rather than leak it.
#include "serial/platform.h"
#include "serial/serial.h"

#include <cstdio>
#include <cstdlib>

const int32_t baud_table[14] = {110,   300,   600,   1200,  2400,  4800,   9600,
                                14400, 19200, 38400, 56000, 57600, 115200, 0};

namespace {

int32_t current_rate = 9600;  // B of the time-out formulas
plat_timeouts port_timeouts{};
char error_text[1024];

constexpr uint32_t required_params = 0x0F;     // parity, rate, data bits, stop bits
constexpr uint16_t required_data = 0x0008;     // 8 data bits
constexpr uint16_t required_stop_par = 0x0101;  // 1 stop bit, no parity
constexpr uint32_t required_prov = 0xC0;       // interval and total time-outs

int32_t check_caps(const char* name) {
    plat_caps caps{};
    int step = plat_read_caps(&caps);
    if (step == -3 || step == -5) {
        printf("\a\aError: could not malloc comm properties buffer for port %s: %s\n", name,
               system_error_text());
        return step;
    }
    if (step != 0) {
        printf("\a\aError: could not get comm properties for port %s: %s\n", name,
               system_error_text());
        return step;
    }
    if ((caps.settable_params & required_params) != required_params) {
        printf("\a\aError: required comm properties for port %s not settable: Settable Params "
               "0x%08x\n", name, unsigned(caps.settable_params));
        return -7;
    }
    if ((caps.settable_data & required_data) != required_data) {
        printf("\a\aError: 8 data bits comm properties for port %s not settable: Settable Data "
               "0x%04x\n", name, unsigned(caps.settable_data));
        return -9;
    }
    if ((caps.settable_stop_parity & required_stop_par) != required_stop_par) {
        printf("\a\aError: 1 stop bit, no parity comm properties for port %s not settable: "
               "Settable Stop & Parity 0x%04x\n", name, unsigned(caps.settable_stop_parity));
        return -10;
    }
    if ((caps.provider_caps & required_prov) != required_prov) {
        printf("\a\aError: timeouts comm properties for port %s not settable: Settable Prov "
               "Cap 0x%08x\n", name, unsigned(caps.provider_caps));
        return -11;
    }
    return 0;
}

}  // namespace

const int32_t* get_baud(int32_t rate) {
    if (rate == 0) {
        printf("get_baud: Error: invalid baud: %ld\n", long(rate));
        return nullptr;
    }
    for (const int32_t* p = baud_table; *p != 0; ++p)
        if (*p == rate) return p;
    return nullptr;
}

namespace {

// The checks and settings of set_comm_prop, in order; 0 or the failing code.
int32_t configure_line(const char* name, int32_t rate) {
    if (get_baud(rate) == nullptr) {
        printf("\a\aError: Invalid baud rate %ld\n", long(rate));
        return -2;
    }
    if (int32_t caps = check_caps(name); caps != 0) return caps;
    if (!plat_get_line()) {
        printf("\a\aError: could not get the comm state for port %s: %s\n", name,
               system_error_text());
        return -12;
    }
    if (!plat_set_line(rate)) {
        printf("\a\aError: could not set the comm state for port %s: %s\n", name,
               system_error_text());
        return -13;
    }
    return 0;
}

}  // namespace

int32_t set_comm_prop(const char* name, int32_t rate) {
    if (name == nullptr) {
        printf("set_comm_prop: Error: port null argument\n");
        return -1;
    }
    int32_t result = configure_line(name, rate);
    if (result != 0) {
        plat_close();
        return result;
    }
    current_rate = rate;
    return 0;
}

int32_t open_port(const char* name, int32_t rate) {
    if (name == nullptr) {
        printf("open_port: Error: port null argument\n");
        return -1;
    }
    if (!plat_open(name)) {
        printf("\a\aError: cannot open COM port %s: %s\n", name, system_error_text());
        return -2;
    }
    if (set_comm_prop(name, rate) != 0) return -3;
    port_timeouts = {0, uint32_t(10000 / current_rate), 1, uint32_t(20000 / current_rate), 10};
    if (!plat_set_timeouts(port_timeouts)) {
        printf("\a\aError: could not set the comm timeouts for port %s: %s\n", name,
               system_error_text());
        plat_close();
        return -14;
    }
    purge_port();
    return 0;
}

uint32_t read_port(const char* name, uint8_t* buf, uint32_t size, int32_t timeout_ms) {
    char message[1200];
    if (name == nullptr) fatal_port_error(25, "read_port: Error: invalid param port\n");
    if (buf == nullptr) fatal_port_error(25, "read_port: Error: invalid param buf ptr\n");
    if (size == 0) fatal_port_error(25, "read_port: Error: invalid param size: 0\n");
    plat_timeouts t = port_timeouts;
    t.read_total_multiplier = uint32_t(10000 / current_rate);
    t.read_total_constant = uint32_t(timeout_ms) + 10;
    if (!plat_set_timeouts(t)) {
        snprintf(message, sizeof message,
                 "\a\aError: could not set the comm timeouts for port %s: %s\n", name,
                 system_error_text());
        fatal_port_error(25, message);
    }
    uint32_t got = 0;
    if (!plat_read(buf, size, &got)) {
        snprintf(message, sizeof message, "\a\aError: could not read on COM port %s: %s\n", name,
                 system_error_text());
        fatal_port_error(26, message);
    }
    return got;
}

int32_t write_port(const char* name, const uint8_t* buf, int32_t len) {
    if (name == nullptr) {
        printf("write_port: Error: invalid param file port\n");
        return -1;
    }
    if (buf == nullptr) {
        printf("write_port: Error: invalid param buf ptr\n");
        return -2;
    }
    if (len <= 0) {
        printf("write_port: Error: invalid param len: %d\n", int(len));
        return -1;
    }
    uint32_t written = 0;
    if (!plat_write(buf, uint32_t(len), &written)) {
        printf("\a\aError: wrote %d of %d, got error on port %s: %s\n", int(written), int(len),
               name, system_error_text());
        return -3;
    }
    return len;
}

void purge_port() { plat_purge(); }

void close_port() { plat_close(); }

const char* system_error_text() {
    plat_error_text(error_text, sizeof error_text);
    return error_text;
}

void fatal_port_error(int code, const char* message) {
    fprintf(stderr, "%s", message);
    fprintf(stderr, "Return code %d, system error code %d\n", code, plat_error_code());
    if (code != 0) {
        plat_sleep_ms(5000);
        std::exit(3);
    }
    std::abort();  // a zero code is never passed; the declaration promises no return
}
