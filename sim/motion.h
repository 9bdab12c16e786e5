// A ship under way: a consistent set of heading, rate of turn, attitude,
// heave, position, speed and course, satellites and weather as functions of
// time, so that every sentence sent at the same moment tells the same story.
#pragma once
#include <cstdint>
#include <vector>

namespace sim {

struct Satellite {
    char talker[3]; // "GP", "GL", "GB", "GQ"
    uint32_t prn;
    uint32_t elevation; // degrees
    uint32_t azimuth;   // degrees
    uint32_t snr;       // dB-Hz, 0 when not tracked
};

struct MotionState {
    double heading = 0;         // true heading, degrees
    double rot = 0;             // rate of turn, degrees per minute, positive to starboard
    double roll = 0;            // sensor roll, degrees, positive starboard down
    double pitch = 0;           // sensor pitch, degrees, positive bow up
    double heave = 0;           // metres, positive up
    double sog = 0;             // knots
    double cog = 0;             // degrees
    double latitude = 0;        // degrees, north positive
    double longitude = 0;       // degrees, east positive
    double altitude = 0;        // metres above the geoid
    double air_temperature = 0; // degrees Celsius
    double pressure = 0;        // hPa
    double humidity = 0;        // percent
};

// Degrees folded into 0 to 360.
double wrap360(double degrees);

class MotionModel {
  public:
    explicit MotionModel(uint32_t seed);
    // The state at t seconds after start. Times normally advance; an earlier
    // time gets the latest integrated position.
    MotionState at(double t);
    // Satellites in view at t of the constellations in the receiver mask.
    std::vector<Satellite> satellites(double t, uint32_t gnss_mask) const;
    // The ship lies still: fixed true heading and sensor roll and pitch (degrees,
    // mounting tilt included), no turn, no heave, until release.
    void hold(double heading, double roll, double pitch);
    void release() { held_ = false; }
    // The raw mounting tilt of the sensor that autolevel measures.
    double mount_roll() const { return mount_roll_; }
    double mount_pitch() const { return mount_pitch_; }

  private:
    void integrate_to(double t);
    double phase_[6];
    double mount_roll_;
    double mount_pitch_;
    bool held_ = false;
    double held_heading_ = 0;
    double held_roll_ = 0;
    double held_pitch_ = 0;
    double t_ = 0;
    double latitude_;
    double longitude_;
};

} // namespace sim
