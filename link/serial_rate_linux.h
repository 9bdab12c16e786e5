// Line speeds outside the standard table. The kernel's termios2 interface and
// the C library's termios cannot share one translation unit, so this lives apart.
#pragma once
#include <cstdint>

// Sets both speeds of the open tty fd to baud, keeping every other setting.
// Returns the rate the driver actually took (it may round to its nearest
// divisor), or 0 when the driver refused.
uint32_t apply_custom_rate(int fd, uint32_t baud);
// The output speed the driver runs at now, in baud; 0 when it cannot be read.
uint32_t read_line_rate(int fd);
