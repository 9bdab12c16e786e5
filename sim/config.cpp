#include "sim/config.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace sim {
namespace {

constexpr double DEG = 57.29577951308232;
constexpr uint32_t INTERVAL_STEP_MS = 25;
constexpr uint32_t FIXED_INTERVAL_MS = 1000;
constexpr uint32_t MAX_INTERVAL_MS = 60000;

const char* const fixed_interval_formatters[] = {"DTM", "GGA", "GLL", "GSA",
                                                 "GSV", "RMC", "VTG", "ZDA"};

bool valid_talker(const std::string& talker) {
    return talker.size() == 2 && std::isupper(static_cast<unsigned char>(talker[0])) &&
           std::isupper(static_cast<unsigned char>(talker[1]));
}

std::string check_interval(const SentenceSetting& wanted) {
    const uint32_t interval = wanted.interval_ms;
    if (is_fixed_interval(wanted.formatter)) {
        if (interval != 0 && interval != FIXED_INTERVAL_MS)
            return "interval is fixed to 1000 ms";
    } else if (interval != 0 && (interval < INTERVAL_STEP_MS || interval % INTERVAL_STEP_MS != 0 ||
                                 interval > MAX_INTERVAL_MS)) {
        return "interval must be 0 or a multiple of 25 ms up to 60000 ms";
    }
    if (interval != 0 && wanted.offset_ms > interval)
        return "offset must not exceed the interval";
    if (interval == 0 && wanted.offset_ms > MAX_INTERVAL_MS)
        return "offset out of range";
    return {};
}

} // namespace

DeviceConfig factory_config(const ModelProfile& profile) {
    DeviceConfig config;
    config.gnss_mask = profile.default_gnss_mask;
    config.nmea_baud = profile.default_baud;
    config.sentences = profile.sentences;
    config.saved_sentences = profile.sentences;
    return config;
}

bool valid_gnss_mask(uint32_t mask) {
    if ((mask & ~GNSS_KNOWN) != 0 || mask == 0)
        return false;
    if ((mask & GNSS_BEIDOU) && (mask & GNSS_GLONASS))
        return false;
    if ((mask & GNSS_SBAS) && !(mask & GNSS_GPS))
        return false;
    return ((mask & GNSS_GPS) != 0) == ((mask & GNSS_QZSS) != 0);
}

bool valid_calibration_mode(uint32_t mode) {
    return mode == 0 || mode == 1 || mode == 7;
}

bool valid_nmea_baud(uint32_t baud) {
    return baud == 4800 || baud == 38400;
}

bool is_fixed_interval(const std::string& formatter) {
    return std::find(std::begin(fixed_interval_formatters), std::end(fixed_interval_formatters),
                     formatter) != std::end(fixed_interval_formatters);
}

bool talker_is_fixed(const std::string& talker) {
    return talker.find('-') != std::string::npos;
}

std::string check_sentence_setting(const SentenceTable& table, const SentenceSetting& wanted) {
    const auto row = std::find_if(table.begin(), table.end(),
                                  [&](const SentenceSetting& s) { return s.id == wanted.id; });
    if (row == table.end())
        return "unknown sentence id";
    if (row->formatter != wanted.formatter)
        return "formatter does not match the sentence id";
    if (talker_is_fixed(row->talker) ? wanted.talker != row->talker : !valid_talker(wanted.talker))
        return talker_is_fixed(row->talker) ? "talker can not be changed" : "illegal talker";
    return check_interval(wanted);
}

void quaternion_to_roll_pitch(const std::array<double, 4>& q, double* roll, double* pitch) {
    *roll = std::atan2(2 * (q[0] * q[1] + q[2] * q[3]), 1 - 2 * (q[1] * q[1] + q[2] * q[2])) * DEG;
    *pitch = std::asin(std::clamp(2 * (q[0] * q[2] - q[1] * q[3]), -1.0, 1.0)) * DEG;
}

std::array<double, 4> roll_pitch_to_quaternion(double roll_deg, double pitch_deg) {
    const double cr = std::cos(roll_deg / DEG / 2);
    const double sr = std::sin(roll_deg / DEG / 2);
    const double cp = std::cos(pitch_deg / DEG / 2);
    const double sp = std::sin(pitch_deg / DEG / 2);
    return {cr * cp, sr * cp, cr * sp, -sr * sp};
}

} // namespace sim
