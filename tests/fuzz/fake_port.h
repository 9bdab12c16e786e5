// A serial port played from memory for the fuzz targets: what the tool writes
// is swallowed, and each shell command line it sends is answered with the next
// scripted reply, wrapped in shell sentences and ended by a prompt. Reads hand
// out the queued bytes in pieces and fail, as a hung-up line does, once the
// queue is empty, so that no wait ever sleeps.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "link/device.h"

namespace fake_port {

// Bytes that are there before anything is sent, the replies to the shell lines
// sent in turn, and the largest piece one read returns.
void script(const std::string& waiting, std::vector<std::string> replies, uint32_t piece);
// A connected device on the fake port.
DeviceRecord& device(const char* model, uint16_t version);
// Frees what the script holds, so that a run ends with every allocation it
// made freed: the leak check then costs nothing.
void release();
// The replies of a reply-parsing target: its input split at each 0xFF byte.
// What the target prints goes to /dev/null.
void script_replies(const uint8_t* data, size_t size);

} // namespace fake_port
