#include "fake_port.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/results.h"
#include "link/nmea.h"
#include "link/serial.h"
#include "link/transport.h"
#include "tests/nmea_text.h"

struct SerialPort {
    int unused = 0;
};

namespace {

SerialPort the_port;
std::string queued;
std::vector<std::string> replies;
size_t next_reply = 0;
uint32_t piece_size = 82;
DeviceRecord the_device;

// A reply as a device sends it: its text in shell sentences, then the prompt.
std::string shell_reply(const std::string& text) { return shell_sentences(text + "\r\nNC> "); }

} // namespace

namespace fake_port {

void script(const std::string& waiting, std::vector<std::string> answers, uint32_t piece) {
    queued = waiting;
    replies = std::move(answers);
    next_reply = 0;
    piece_size = std::max<uint32_t>(1, piece);
    transport_init();
}

DeviceRecord& device(const char* model, uint16_t version) {
    the_device = DeviceRecord{};
    the_device.model_name = model;
    the_device.identification[2] = 68; // payload length
    uint8_t* entry = the_device.identification + 4 + IDENT_SOFTWARE_1;
    entry[3] = PREFIX_APPLICATION;
    entry[4] = static_cast<uint8_t>(version);
    entry[5] = static_cast<uint8_t>(version >> 8);
    the_device.link.baud_rate = 38400;
    the_device.link.state = LINK_CONNECTED;
    the_device.link.port = &the_port;
    return the_device;
}

void release() {
    std::string().swap(queued);
    std::vector<std::string>().swap(replies);
    next_reply = 0;
}

void script_replies(const uint8_t* data, size_t size) {
    static const bool quiet = std::freopen("/dev/null", "w", stdout) != nullptr;
    (void)quiet;
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF)
            parts.emplace_back();
        else
            parts.back() += static_cast<char>(data[i]);
    }
    script("", std::move(parts), 82);
}

} // namespace fake_port

std::vector<std::string> serial_list_ports() { return {}; }

PortHandle serial_open(const char*, uint32_t) { return &the_port; }

std::string serial_permission_hint(const char*) { return {}; }

int serial_read(PortHandle, uint8_t* buffer, uint32_t size) {
    if (queued.empty())
        return RESULT_PORT_ERROR;
    const uint32_t n = std::min<uint32_t>({size, piece_size, static_cast<uint32_t>(queued.size())});
    std::memcpy(buffer, queued.data(), n);
    queued.erase(0, n);
    return static_cast<int>(n);
}

// A shell line's last sentence carries its escaped CR: then the next reply comes.
int serial_write(PortHandle, const uint8_t* bytes, uint32_t length) {
    const std::string sent(reinterpret_cast<const char*>(bytes), length);
    if (sent.rfind("$PNCX,SH,", 0) == 0 && sent.find("^0D*") != std::string::npos &&
        next_reply < replies.size()) {
        queued += shell_reply(replies[next_reply++]);
    }
    return static_cast<int>(length);
}

void serial_purge_rx(PortHandle) {}

int serial_set_read_timeout(PortHandle, uint32_t) { return 1; }

int serial_set_baud(PortHandle, uint32_t) { return 1; }

void serial_close(PortHandle) {}

void print_system_error(const char*) {}
