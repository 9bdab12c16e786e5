// The device's configuration store: every setting the "cfg" commands read and
// write, with the factory defaults of each model and the value rules.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "sim/model.h"

namespace sim {

constexpr uint32_t GNSS_GPS = 1u << 0;
constexpr uint32_t GNSS_SBAS = 1u << 1;
constexpr uint32_t GNSS_BEIDOU = 1u << 3;
constexpr uint32_t GNSS_QZSS = 1u << 5;
constexpr uint32_t GNSS_GLONASS = 1u << 6;
constexpr uint32_t GNSS_KNOWN = GNSS_GPS | GNSS_SBAS | GNSS_BEIDOU | GNSS_QZSS | GNSS_GLONASS;

constexpr uint32_t VARIATION_AUTO = 0;
constexpr uint32_t VARIATION_USER = 1;
constexpr uint32_t VARIATION_UNKNOWN = 2;
constexpr uint32_t VARIATION_OFF = 3;

struct DeviceConfig {
    uint32_t termination = 0;         // NMEA 2000 bus: 0 open, 1 terminated
    uint32_t gnss_mask = 0;           // takes effect at the next start
    uint32_t calibration_mode = 0;    // 0 standard/on, 1 adaptive, 7 off
    uint32_t calibration_options = 0; // disabling bits 1 ("5deg") and 2 ("pause")
    uint32_t variation_source = VARIATION_AUTO;
    int32_t variation_user = 0;                             // hundredths of a degree, east positive
    uint32_t filter_time = 10;                              // tenths of a second
    std::array<int32_t, 3> rotation = {0, 0, 0};            // R, P, Y: hundredths, inverted sign
    std::array<double, 4> autolevel = {1.0, 0.0, 0.0, 0.0}; // correction, unit quaternion
    int32_t vertical = 0;                                   // tenths of a metre
    uint32_t nmea_baud = 4800;                              // takes effect at the next start
    SentenceTable sentences;                                // what is sent now
    SentenceTable saved_sentences; // what "cfg n s w" stored for the next start
    bool factory_pending = false;  // "cfg f": the defaults are loaded at the next start
};

DeviceConfig factory_config(const ModelProfile& profile);

bool valid_gnss_mask(uint32_t mask);
bool valid_calibration_mode(uint32_t mode);
bool valid_nmea_baud(uint32_t baud);
bool is_fixed_interval(const std::string& formatter); // one-second navigation sentences
bool talker_is_fixed(const std::string& talker);      // holds a '-'

// Checks one "cfg n s" row against the current table; empty when it may be
// stored, else the reason.
std::string check_sentence_setting(const SentenceTable& table, const SentenceSetting& wanted);

// Roll and pitch in degrees of the autolevel rotation.
void quaternion_to_roll_pitch(const std::array<double, 4>& q, double* roll, double* pitch);
std::array<double, 4> roll_pitch_to_quaternion(double roll_deg, double pitch_deg);

} // namespace sim
