// How the port list is read from the kernel's tty class directory.
#pragma once
#include <string>
#include <vector>

// The ttys under class_dir (normally /sys/class/tty) that belong to a device,
// without unfitted legacy UARTs, in natural order (ttyS2 < ttyS10 < ttyUSB0).
std::vector<std::string> serial_ports_in(const std::string& class_dir);

// The USB adapter behind the tty of that name under class_dir: its maker,
// product and serial number as the adapter reports them ("FTDI FT232R USB UART,
// serial A50285BI"), made printable. Empty for a tty that is no USB device.
std::string usb_adapter_description(const std::string& class_dir, const std::string& tty_name);
