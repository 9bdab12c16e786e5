#include "sim/diag.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>

#include "sim/format.h"

namespace sim {
namespace {

using Words = std::vector<std::string>;

std::string uptime_text(double uptime) {
    const uint64_t s = static_cast<uint64_t>(uptime);
    return format("%" PRIu64 "d %02" PRIu64 ":%02" PRIu64 ":%02" PRIu64, s / 86400, s / 3600 % 24,
                  s / 60 % 60, s % 60);
}

CommandResult usage_of(const char* text) {
    return {format("usage: %s\r\n", text), STATUS_USAGE};
}

CommandResult can(ShellContext& c, const Words&) {
    if (!(c.profile->features & FEATURE_N2K))
        return {"CAN: no controller\r\n", STATUS_UNSUPPORTED};
    const uint64_t frames = static_cast<uint64_t>(c.uptime * 20);
    return {format("CAN1 500 kbit/s, state active, termination %s\r\n"
                   "  tx frames %" PRIu64 ", rx frames %" PRIu64 ", errors tx 0 rx 0\r\n",
                   c.config->termination ? "on" : "off", frames, frames / 3),
            STATUS_OK};
}

const char* const ffs_files[] = {"config.bin", "sentences.bin", "calib.bin",
                                 "events.log", "flog.txt",      "appdata.bin"};

CommandResult ffs(ShellContext&, const Words& words) {
    if (words.size() == 2 && words[1] == "i")
        return {"Flash file system: 1024 KiB, 412 KiB used, 6 files, 0 bad blocks\r\n", STATUS_OK};
    if (words.size() != 3 || words[1] != "l")
        return usage_of("ffs i | ffs l p|d|1..9");
    const std::string& what = words[2];
    if (what == "p")
        return {"Partitions: 0 boot 64K, 1 app 448K, 2 data 512K\r\n", STATUS_OK};
    if (what == "d") {
        std::string text = "Directory of /data\r\n";
        unsigned size = 212;
        for (const char* file : ffs_files) {
            text += format("  %-16s %6u\r\n", file, size);
            size = size * 3 + 40;
        }
        return {text, STATUS_OK};
    }
    if (what.size() == 1 && what[0] >= '1' && what[0] <= '9')
        return {
            format("Log level of module %c: %s\r\n", what[0], what[0] <= '2' ? "info" : "warning"),
            STATUS_OK};
    return usage_of("ffs l p|d|1..9");
}

CommandResult flog(ShellContext& c, const Words&) {
    return {format("0d 00:00:01 I boot: application started\r\n"
                   "0d 00:00:04 I cfg: configuration loaded\r\n"
                   "0d 00:00:09 I nmea: output at %u baud\r\n",
                   c.line_baud),
            STATUS_OK};
}

CommandResult lps(ShellContext& c, const Words&) {
    return {format("Low power state: running, supply 12.%u V, %u mA\r\n",
                   static_cast<unsigned>(c.uptime) % 3, 180 + static_cast<unsigned>(c.uptime) % 7),
            STATUS_OK};
}

CommandResult n1(ShellContext& c, const Words&) {
    const LinkCounters& n = *c.counters;
    return {format("NMEA 0183 port 1: %u baud, 8N1\r\n"
                   "  tx sentences %" PRIu64 ", dropped %" PRIu64 "\r\n"
                   "  rx sentences %" PRIu64 ", checksum errors %" PRIu64 "\r\n",
                   c.line_baud, n.tx_sentences, n.dropped_sentences, n.rx_sentences,
                   n.checksum_errors),
            STATUS_OK};
}

CommandResult pool(ShellContext&, const Words&) {
    return {"Pool      size  used  peak\r\n"
            "small       64    12    21\r\n"
            "medium      32     5     9\r\n"
            "large        8     1     3\r\n",
            STATUS_OK};
}

CommandResult queue(ShellContext&, const Words&) {
    return {"Queue     depth  used  peak\r\n"
            "nmea_tx      32     1     6\r\n"
            "shell        16     0     2\r\n"
            "sensor       64     3    11\r\n",
            STATUS_OK};
}

CommandResult rxs(ShellContext& c, const Words&) {
    return {format("Receiver status: fix 3D, satellites %s, receivers %x\r\n",
                   (c.profile->features & FEATURE_GNSS) ? "in use" : "none", c.active_gnss),
            STATUS_OK};
}

CommandResult sched(ShellContext& c, const Words&) {
    return {format("Task        prio  cpu%%  runs\r\n"
                   "sensor         5   21.4  %u\r\n"
                   "nmea           4    6.2  %u\r\n"
                   "shell          2    0.3  %u\r\n"
                   "idle           0   72.1  -\r\n",
                   static_cast<unsigned>(c.uptime * 100), static_cast<unsigned>(c.uptime * 10),
                   static_cast<unsigned>(c.uptime)),
            STATUS_OK};
}

CommandResult spi(ShellContext&, const Words& words) {
    if (words.size() == 2 && words[1] == "d")
        return {"SPI devices: 0 imu ok, 1 magnetometer ok, 2 flash ok\r\n", STATUS_OK};
    if (words.size() == 2 && words[1] == "b")
        return {"SPI bus: 8 MHz, transfers ok, errors 0\r\n", STATUS_OK};
    return usage_of("spi d|b");
}

CommandResult stack(ShellContext&, const Words&) {
    return {"Task        size  free\r\n"
            "sensor      2048   612\r\n"
            "nmea        1536   508\r\n"
            "shell       4096  1880\r\n",
            STATUS_OK};
}

CommandResult ublox(ShellContext& c, const Words&) {
    if (!(c.profile->features & FEATURE_GNSS))
        return {"GNSS module: none\r\n", STATUS_UNSUPPORTED};
    return {format("GNSS module: protocol 18.00, antenna ok, systems %x\r\n", c.active_gnss),
            STATUS_OK};
}

CommandResult uptime(ShellContext& c, const Words& words) {
    if (words.size() == 2 && words[1] == "r")
        return {format("Uptime %s, reset cause: power on\r\n", uptime_text(c.uptime).c_str()),
                STATUS_OK};
    return {format("Uptime %s\r\n", uptime_text(c.uptime).c_str()), STATUS_OK};
}

CommandResult utctime(ShellContext& c, const Words&) {
    const time_t seconds = static_cast<time_t>(c.utc);
    std::tm t{};
    gmtime_r(&seconds, &t);
    return {format("UTC %04d-%02d-%02d %02d:%02d:%02d (GNSS)\r\n", t.tm_year + 1900, t.tm_mon + 1,
                   t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec),
            STATUS_OK};
}

CommandResult uart(ShellContext& c, const Words&) {
    return {format("UART1 %u baud: tx %" PRIu64 " bytes, rx %" PRIu64 " bytes, overruns 0\r\n",
                   c.line_baud, c.counters->tx_bytes, c.counters->rx_bytes),
            STATUS_OK};
}

CommandResult shell(ShellContext&, const Words&) {
    return {"Shell sessions: tunnel, console; line length 255\r\n", STATUS_OK};
}

using DiagHandler = CommandResult (*)(ShellContext&, const Words&);

struct DiagEntry {
    const char* name;
    DiagHandler handler;
};

const DiagEntry diag_table[] = {
    {"can", can},       {"ffs", ffs},         {"flog", flog},   {"lps", lps},
    {"n1", n1},         {"pool", pool},       {"queue", queue}, {"rxs", rxs},
    {"sched", sched},   {"spi", spi},         {"stack", stack}, {"ublox", ublox},
    {"uptime", uptime}, {"utctime", utctime}, {"uart", uart},   {"shell", shell},
};

} // namespace

bool diag_command(ShellContext& context, const std::vector<std::string>& words,
                  CommandResult* result) {
    for (const DiagEntry& entry : diag_table) {
        if (words[0] == entry.name) {
            *result = entry.handler(context, words);
            return true;
        }
    }
    return false;
}

std::vector<std::string> diag_command_names() {
    std::vector<std::string> names;
    for (const DiagEntry& entry : diag_table)
        names.push_back(entry.name);
    return names;
}

} // namespace sim
