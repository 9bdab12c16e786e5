// Serial port: the thin layer over the platform's serial interface. Everything
// above it reads and writes the devices only through these operations.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct SerialPort; // platform state of an open port
using PortHandle = SerialPort*;
constexpr PortHandle INVALID_PORT = nullptr;

// The serial ports of this machine in natural order (ttyS0 < ttyS1 < ttyUSB0).
// The environment variable NC_SERIAL_PORTS (colon-separated paths) replaces it.
std::vector<std::string> serial_list_ports();

// What the system tells of the hardware behind a port (a name, path or link
// such as /dev/serial/by-id/...): a USB adapter's maker, product and serial
// number. Empty when it tells nothing.
std::string serial_port_description(const char* name);

// Opens a port (a name such as ttyUSB0 or any device path) at baud with 8N1, no
// flow control, DTR and RTS raised, raw, and exclusive access; any rate the
// driver takes works. On failure returns INVALID_PORT with errno EACCES when the
// port is held by another program, EPERM when the user may not open it, EBADF
// when it cannot be opened or is no serial port ("Error, failed to get serial
// port parameters"), EINVAL when it refused the settings or the rate ("Error,
// failed to set serial port parameters"). serial_close puts back the settings
// found here.
PortHandle serial_open(const char* name, uint32_t baud);

// After serial_open failed with EPERM: what the user can do about it.
std::string serial_permission_hint(const char* name);

// Returns at once with what is queued (up to size); with nothing queued waits up
// to the read time-out for the first byte. 0 after the time-out; -5 when the port
// fails or the other end hung up (after "Error, reading from serial port"); a
// line that hung up or vanished is let go at once, and every later read or
// write fails the same way until serial_close; -4,
// silently, when the program was asked to end (Ctrl-C).
int serial_read(PortHandle port, uint8_t* buffer, uint32_t size);

// Writes all length bytes (0 sends nothing). Returns length, or -5 after
// "Error, writing to serial port".
int serial_write(PortHandle port, const uint8_t* bytes, uint32_t length);

// Discards received input not yet read; pending output is untouched.
void serial_purge_rx(PortHandle port);

// 1 on success, 0 on failure. The time-out applies to serial_read.
int serial_set_read_timeout(PortHandle port, uint32_t milliseconds);

// Changes only the line speed, after the bytes already written have gone out.
// 1 on success, 0 on failure (a rate the driver refuses).
int serial_set_baud(PortHandle port, uint32_t baud);

// What the console can wait on beside its input to see the line hang up (see
// watch_during_input); -1 when there is nothing to wait on.
intptr_t serial_watch_handle(PortHandle port);

// Clears the exclusive flag, waits for the output to go out, puts back the
// settings found at open and closes.
void serial_close(PortHandle port);

// Prints "<text>: <the system's reason for the last failure>\n" to standard error,
// after whatever standard output holds. errno is kept.
void print_system_error(const char* text);
