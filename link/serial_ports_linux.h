// How the port list is read from the kernel's tty class directory.
#pragma once
#include <string>
#include <vector>

// The ttys under class_dir (normally /sys/class/tty) that belong to a device,
// without unfitted legacy UARTs, in natural order (ttyS2 < ttyS10 < ttyUSB0).
std::vector<std::string> serial_ports_in(const std::string& class_dir);
