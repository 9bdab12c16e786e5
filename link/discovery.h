// Finding devices on the serial ports, presenting them, and connecting to one.
#pragma once
#include <cstdint>

#include "link/device.h"

extern int active_mode; // identify actively instead of waiting for NMEA data

constexpr uint8_t FRAME_IDENTIFY_REQUEST = 0x10;
constexpr uint8_t FRAME_IDENTIFY_ANSWER = 0x11;

// Sends the identification request in sentences (raw = 0) or as raw bytes and
// stores the answer in the record. 1, the negated type of a wrong answer, or a
// negative transport code.
int identify_device(DeviceRecord& record, int raw);
// The same with its own time-out instead of the link's.
int identify_device_within(DeviceRecord& record, int raw, uint32_t timeout_ms);

// Two passes (4800, then 38400 baud) over the records: each link ends in one of
// the link states with its port closed, identified devices keep their baud rate.
// Prints progress characters at level 1. Returns the number identified.
int scan_devices(DeviceRecord* records, uint32_t count);
// The same without progress characters or notes, for a search repeated while
// waiting for a device.
int scan_devices_quietly(DeviceRecord* records, uint32_t count);

// At level 0 (-v), a line for each port behind which the system names a USB
// adapter: "<port>: <maker> <product>, serial <serial>".
void describe_ports(const DeviceRecord* records, uint32_t count);

// Lists identified devices (serial_filter 0: all) and numbers them from 1.
uint32_t show_devices(DeviceRecord* records, uint32_t count, uint32_t serial_filter);
// The port table, shown when no device was listed.
void show_ports(const DeviceRecord* records, uint32_t count);
// The only listed device, or the one the technician picks; nullptr when standard
// input ends before a valid choice.
DeviceRecord* select_device(DeviceRecord* records, uint32_t count, uint32_t listed);

// Opens the port and logs in (unless in rescue mode), then asks for the
// configuration-protocol version. 0 when the tool may go on, -1 on failure.
int connect_device(DeviceRecord& record);
// Closes the port, looks for the device again on that port only, and connects;
// with -w (device_wait_seconds) waits for it on every port instead.
int reconnect_device(DeviceRecord& record);
