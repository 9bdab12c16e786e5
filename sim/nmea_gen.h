// The device's NMEA 0183 sentences, one formatter each, from the motion state
// and the configuration (offsets, variation, receivers).
#pragma once
#include <string>
#include <vector>

#include "sim/config.h"
#include "sim/motion.h"

namespace sim {

struct NmeaContext {
    MotionState motion;
    double utc = 0; // seconds since 1970
    const DeviceConfig* config = nullptr;
    uint32_t gnss_mask = 0; // receivers in use now
    std::vector<Satellite> satellites;
    bool calibrated = true; // deviation calibration done
};

// The sentences of one table row (GSV gives a group per talker, GSA one per
// constellation); empty for a formatter the device does not know.
std::vector<std::string> format_sentences(const SentenceSetting& row, const NmeaContext& context);
bool known_formatter(const std::string& formatter);

// "$" + body + "*" + checksum + CR LF.
std::string finish_sentence(const std::string& body);

// Heading, roll and pitch as sent: raw values with the mounting offsets applied.
double output_heading(const NmeaContext& context);
double output_roll(const NmeaContext& context);
double output_pitch(const NmeaContext& context);
// Magnetic variation in degrees (east positive) and whether one is known.
bool current_variation(const NmeaContext& context, double* degrees);

} // namespace sim
