// Waiting for a device that went away (-w): an adapter pulled and put back, a
// device power-cycled. It is looked for by its serial number, again and again,
// on the port it was on and on every serial port that appears meanwhile.
#pragma once
#include <cstdint>
#include <functional>

#include "link/device.h"

extern uint32_t device_wait_seconds; // -w; 0: the single search on the same port

// One line: what is awaited, for how long, and how to stop.
void announce_wait(const char* what);

// Calls look about every quarter of a second until it returns true, the clock
// (clock_ms) reaches deadline_ms or ESC is pressed. The time left is shown on a
// terminal only, and blanked again before this returns. 1 when look succeeded,
// 0 when the wait ended without, RESULT_QUIT when the program was asked to end.
int wait_until_found(uint64_t deadline_ms, const std::function<bool()>& look);

// The reconnect with -w: waits for the record's device, then connects. A device
// that answers but does not take the login yet (still starting) is waited for
// further. 0 connected, RESULT_FAILED when it did not come back in time,
// RESULT_QUIT when the program was asked to end.
int wait_and_reconnect(DeviceRecord& record);
