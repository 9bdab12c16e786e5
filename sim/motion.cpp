#include "sim/motion.h"

#include <cmath>
#include <cstring>

#include "sim/config.h"

namespace sim {
namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double STEP_S = 0.1;
constexpr double METRES_PER_DEGREE = 1852.0 * 60.0;
constexpr double KNOT = 1852.0 / 3600.0;

double wave(double t, double period, double phase) {
    return std::sin(2 * PI * t / period + phase);
}

// Deterministic small pseudo-random numbers for the start conditions.
double unit_random(uint32_t* state) {
    *state = *state * 1664525u + 1013904223u;
    return static_cast<double>(*state >> 8) / 16777216.0;
}

struct Constellation {
    const char* talker;
    uint32_t mask_bit;
    uint32_t first_prn;
    uint32_t count;
};

const Constellation constellations[] = {
    {"GP", GNSS_GPS, 2, 9},      {"GP", GNSS_SBAS, 44, 2},  {"GL", GNSS_GLONASS, 66, 6},
    {"GB", GNSS_BEIDOU, 201, 5}, {"GQ", GNSS_QZSS, 193, 1},
};

double heading_at(double t, const double* phase) {
    return 45.0 + 25.0 * wave(t, 600.0, phase[0]) + 2.0 * wave(t, 17.0, phase[1]);
}

// Degrees per minute: the time derivative of heading_at.
double rot_at(double t, const double* phase) {
    return 60.0 * (25.0 * 2 * PI / 600.0 * std::cos(2 * PI * t / 600.0 + phase[0]) +
                   2.0 * 2 * PI / 17.0 * std::cos(2 * PI * t / 17.0 + phase[1]));
}

double sog_at(double t, const double* phase) {
    return 12.0 + 0.4 * wave(t, 45.0, phase[5]);
}

} // namespace

double wrap360(double degrees) {
    const double wrapped = std::fmod(degrees, 360.0);
    return wrapped < 0 ? wrapped + 360.0 : wrapped;
}

MotionModel::MotionModel(uint32_t seed) {
    uint32_t state = seed ^ 0x9E3779B9u;
    for (double& p : phase_)
        p = 2 * PI * unit_random(&state);
    mount_roll_ = 2.0 * unit_random(&state) - 1.0;
    mount_pitch_ = 2.0 * unit_random(&state) - 1.0;
    latitude_ = 57.5 + 0.2 * unit_random(&state);
    longitude_ = 11.6 + 0.2 * unit_random(&state);
}

void MotionModel::integrate_to(double t) {
    while (t_ < t) {
        const double dt = std::min(STEP_S, t - t_);
        const double mid = t_ + dt / 2;
        const double cog = (heading_at(mid, phase_) + 2.0) * PI / 180.0;
        const double metres = sog_at(mid, phase_) * KNOT * dt;
        latitude_ += metres * std::cos(cog) / METRES_PER_DEGREE;
        longitude_ += metres * std::sin(cog) / (METRES_PER_DEGREE * std::cos(latitude_ * PI / 180));
        t_ += dt;
    }
}

MotionState MotionModel::at(double t) {
    integrate_to(t);
    MotionState s;
    s.heading = wrap360(heading_at(t, phase_));
    s.rot = rot_at(t, phase_);
    s.roll = 4.0 * wave(t, 8.5, phase_[2]) + 0.02 * s.rot + mount_roll_;
    s.pitch = 1.5 * wave(t, 6.3, phase_[3]) + mount_pitch_;
    s.heave = 0.6 * wave(t, 7.1, phase_[4]) + 0.2 * wave(t, 3.3, phase_[1]);
    s.sog = sog_at(t, phase_);
    s.cog = wrap360(s.heading + 2.0);
    s.latitude = latitude_;
    s.longitude = longitude_;
    if (held_) {
        s.heading = held_heading_;
        s.rot = 0;
        s.roll = held_roll_;
        s.pitch = held_pitch_;
        s.heave = 0;
        s.sog = 0;
        s.cog = wrap360(s.heading + 2.0);
    }
    s.altitude = 18.4 + 0.6 * s.heave;
    s.air_temperature = 14.0 + 1.5 * wave(t, 3600.0, phase_[0]);
    s.pressure = 1013.2 + 2.0 * wave(t, 7200.0, phase_[1]);
    s.humidity = 72.0 + 5.0 * wave(t, 1800.0, phase_[2]);
    return s;
}

void MotionModel::hold(double heading, double roll, double pitch) {
    held_ = true;
    held_heading_ = wrap360(heading);
    held_roll_ = roll;
    held_pitch_ = pitch;
}

std::vector<Satellite> MotionModel::satellites(double t, uint32_t gnss_mask) const {
    std::vector<Satellite> in_view;
    for (const Constellation& c : constellations) {
        if (!(gnss_mask & c.mask_bit))
            continue;
        for (uint32_t i = 0; i < c.count; ++i) {
            const double phase = phase_[i % 6] + i * 0.7 + c.first_prn;
            Satellite sat{};
            std::memcpy(sat.talker, c.talker, 3);
            sat.prn = c.first_prn + i * (c.mask_bit == GNSS_GPS ? 3 : 1);
            sat.elevation = static_cast<uint32_t>(10 + 35 * (1 + wave(t, 21600.0, phase)));
            sat.azimuth = static_cast<uint32_t>(wrap360(i * 47.0 + c.first_prn + t / 240.0));
            // Low satellites are weak; the weakest is lost now and then.
            const double snr = 22 + sat.elevation * 0.3 + 3 * wave(t, 13.0 + i, phase);
            sat.snr =
                (sat.elevation < 15 && wave(t, 40.0, phase) > 0.5) ? 0 : static_cast<uint32_t>(snr);
            in_view.push_back(sat);
        }
    }
    return in_view;
}

} // namespace sim
