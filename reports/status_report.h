// The status report: a short health and configuration summary of the device,
// one labelled line per item, to the console (status) or into the diagnostic
// report file.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "link/device.h"

// Writes the report for the device's model to the stream. Failing queries
// print their own errors and the report goes on, unless the port failed: it
// stops there, before the value that could not be read, with
// RESULT_PORT_ERROR. Else 0.
int write_status_report(FILE* out, DeviceRecord& device);

// The magnetometer calibration text for a "hsiron" reply that was answered
// (after its label, with its line ends).
std::string hsiron_text(const char* reply);

// How many lines after the echo of an "event" reply report an active event.
uint32_t active_event_count(const char* reply);
