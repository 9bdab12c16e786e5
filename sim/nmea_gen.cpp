#include "sim/nmea_gen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "sim/format.h"

namespace sim {
namespace {

constexpr double AUTO_VARIATION = 3.4; // what the position's magnetic model gives
constexpr double DEVIATION = -0.6;     // residual deviation of the magnetometer
constexpr size_t SATELLITES_PER_GSV = 4;
constexpr size_t SATELLITES_PER_GSA = 12;

// Hundredths as sent; rounding first keeps a deadline on a whole second from
// showing as .99 of the second before.
double sent_time(double utc) {
    return std::floor(utc * 100 + 0.5) / 100;
}

std::tm utc_calendar(double utc) {
    const time_t seconds = static_cast<time_t>(sent_time(utc));
    std::tm calendar{};
    gmtime_r(&seconds, &calendar);
    return calendar;
}

std::string utc_time_field(double utc) {
    const std::tm c = utc_calendar(utc);
    const double sent = sent_time(utc);
    const int hundredths = static_cast<int>(std::lround((sent - std::floor(sent)) * 100)) % 100;
    return format("%02d%02d%02d.%02d", c.tm_hour, c.tm_min, c.tm_sec, hundredths);
}

std::string latitude_fields(double latitude) {
    const double a = std::fabs(latitude);
    const int degrees = static_cast<int>(a);
    return format("%02d%07.4f,%c", degrees, (a - degrees) * 60.0, latitude < 0 ? 'S' : 'N');
}

std::string longitude_fields(double longitude) {
    const double a = std::fabs(longitude);
    const int degrees = static_cast<int>(a);
    return format("%03d%07.4f,%c", degrees, (a - degrees) * 60.0, longitude < 0 ? 'W' : 'E');
}

std::string position_fields(const NmeaContext& c) {
    return latitude_fields(c.motion.latitude) + "," + longitude_fields(c.motion.longitude);
}

bool dgps(const NmeaContext& c) {
    return (c.gnss_mask & GNSS_SBAS) != 0;
}

std::string talker_of(const SentenceSetting& row, const char* fallback) {
    return talker_is_fixed(row.talker) ? fallback : row.talker;
}

// Magnetic heading the way the magnetometer reports it; with the "5deg" option
// it is coarse until the deviation calibration is done.
double magnetic_heading(const NmeaContext& c) {
    double variation = 0;
    current_variation(c, &variation);
    double heading = wrap360(output_heading(c) - variation - DEVIATION);
    const bool coarse = !c.calibrated && !(c.config->calibration_options & 2u);
    if (coarse)
        heading = wrap360(std::round(heading / 5.0) * 5.0);
    return heading;
}

using Formatter = std::vector<std::string> (*)(const SentenceSetting&, const NmeaContext&);

std::vector<std::string> one(const std::string& body) {
    return {finish_sentence(body)};
}

std::vector<std::string> hdt(const SentenceSetting& row, const NmeaContext& c) {
    return one(format("%sHDT,%.1f,T", talker_of(row, "HE").c_str(), output_heading(c)));
}

std::vector<std::string> ths(const SentenceSetting& row, const NmeaContext& c) {
    return one(format("%sTHS,%.1f,A", talker_of(row, "HE").c_str(), output_heading(c)));
}

std::vector<std::string> rot(const SentenceSetting& row, const NmeaContext& c) {
    return one(format("%sROT,%.1f,A", talker_of(row, "HE").c_str(), c.motion.rot));
}

std::vector<std::string> hdm(const SentenceSetting& row, const NmeaContext& c) {
    return one(format("%sHDM,%.1f,M", talker_of(row, "HE").c_str(), magnetic_heading(c)));
}

std::vector<std::string> hdg(const SentenceSetting& row, const NmeaContext& c) {
    double variation = 0;
    std::string variation_fields = ",";
    if (current_variation(c, &variation))
        variation_fields = format("%.1f,%c", std::fabs(variation), variation < 0 ? 'W' : 'E');
    return one(format("%sHDG,%.1f,%.1f,%c,%s", talker_of(row, "HE").c_str(), magnetic_heading(c),
                      std::fabs(DEVIATION), DEVIATION < 0 ? 'W' : 'E', variation_fields.c_str()));
}

std::vector<std::string> xdr(const SentenceSetting& row, const NmeaContext& c) {
    return one(format("%sXDR,A,%.1f,D,PTCH,A,%.1f,D,ROLL", talker_of(row, "YX").c_str(),
                      output_pitch(c), output_roll(c)));
}

// Field 2 heading, 3 pitch, 4 roll.
std::vector<std::string> att(const SentenceSetting&, const NmeaContext& c) {
    return one(
        format("PFEC,GPatt,%.1f,%.1f,%.1f", output_heading(c), output_pitch(c), output_roll(c)));
}

// Field 2 heave in metres, field 3 'V' while the value is valid.
std::vector<std::string> hev(const SentenceSetting&, const NmeaContext& c) {
    return one(format("PFEC,GPhev,%.2f,V", c.motion.heave));
}

std::vector<std::string> mda(const SentenceSetting& row, const NmeaContext& c) {
    const MotionState& m = c.motion;
    return one(format("%sMDA,%.2f,I,%.4f,B,%.1f,C,,C,%.0f,,,C,,T,,M,,N,,M",
                      talker_of(row, "WI").c_str(), m.pressure * 0.0295300, m.pressure / 1000.0,
                      m.air_temperature, m.humidity));
}

size_t satellites_used(const NmeaContext& c) {
    return static_cast<size_t>(std::count_if(c.satellites.begin(), c.satellites.end(),
                                             [](const Satellite& s) { return s.snr > 0; }));
}

std::vector<std::string> gga(const SentenceSetting& row, const NmeaContext& c) {
    return one(format("%sGGA,%s,%s,%d,%02zu,0.9,%.1f,M,35.2,M,,", talker_of(row, "GN").c_str(),
                      utc_time_field(c.utc).c_str(), position_fields(c).c_str(), dgps(c) ? 2 : 1,
                      std::min<size_t>(satellites_used(c), 99), c.motion.altitude));
}

std::vector<std::string> rmc(const SentenceSetting& row, const NmeaContext& c) {
    const std::tm d = utc_calendar(c.utc);
    return one(format("%sRMC,%s,A,%s,%.1f,%.1f,%02d%02d%02d,%.1f,E,%c",
                      talker_of(row, "GN").c_str(), utc_time_field(c.utc).c_str(),
                      position_fields(c).c_str(), c.motion.sog, c.motion.cog, d.tm_mday,
                      d.tm_mon + 1, d.tm_year % 100, AUTO_VARIATION, dgps(c) ? 'D' : 'A'));
}

std::vector<std::string> vtg(const SentenceSetting& row, const NmeaContext& c) {
    return one(format("%sVTG,%.1f,T,%.1f,M,%.1f,N,%.1f,K,%c", talker_of(row, "GN").c_str(),
                      c.motion.cog, wrap360(c.motion.cog - AUTO_VARIATION), c.motion.sog,
                      c.motion.sog * 1.852, dgps(c) ? 'D' : 'A'));
}

std::vector<std::string> zda(const SentenceSetting& row, const NmeaContext& c) {
    const std::tm d = utc_calendar(c.utc);
    return one(format("%sZDA,%s,%02d,%02d,%04d,00,00", talker_of(row, "GN").c_str(),
                      utc_time_field(c.utc).c_str(), d.tm_mday, d.tm_mon + 1, d.tm_year + 1900));
}

std::vector<std::string> gll(const SentenceSetting& row, const NmeaContext& c) {
    return one(format("%sGLL,%s,%s,A,%c", talker_of(row, "GN").c_str(), position_fields(c).c_str(),
                      utc_time_field(c.utc).c_str(), dgps(c) ? 'D' : 'A'));
}

std::vector<std::string> dtm(const SentenceSetting& row, const NmeaContext&) {
    return one(talker_of(row, "GN") + "DTM,W84,,0.0000,N,0.0000,E,0.0,W84");
}

std::vector<Satellite> of_talker(const NmeaContext& c, const char* talker) {
    std::vector<Satellite> list;
    for (const Satellite& s : c.satellites) {
        if (std::string(s.talker) == talker)
            list.push_back(s);
    }
    return list;
}

std::string satellite_fields(const Satellite& s) {
    if (s.snr == 0)
        return format(",%02u,%02u,%03u,", s.prn, s.elevation, s.azimuth);
    return format(",%02u,%02u,%03u,%02u", s.prn, s.elevation, s.azimuth, s.snr);
}

std::vector<std::string> gsv_group(const std::vector<Satellite>& sats, const char* talker) {
    std::vector<std::string> group;
    const size_t total = (sats.size() + SATELLITES_PER_GSV - 1) / SATELLITES_PER_GSV;
    for (size_t n = 0; n < total; ++n) {
        std::string body = format("%sGSV,%zu,%zu,%02zu", talker, total, n + 1, sats.size());
        for (size_t i = n * SATELLITES_PER_GSV;
             i < std::min(sats.size(), (n + 1) * SATELLITES_PER_GSV); ++i)
            body += satellite_fields(sats[i]);
        group.push_back(finish_sentence(body));
    }
    return group;
}

std::vector<std::string> gsv(const SentenceSetting&, const NmeaContext& c) {
    std::vector<std::string> sentences;
    for (const char* talker : {"GP", "GL", "GB", "GQ"}) {
        const std::vector<std::string> group = gsv_group(of_talker(c, talker), talker);
        sentences.insert(sentences.end(), group.begin(), group.end());
    }
    return sentences;
}

std::string gsa_sentence(const NmeaContext& c, const std::vector<const char*>& talkers) {
    std::string body = "GNGSA,A,3";
    size_t used = 0;
    for (const Satellite& s : c.satellites) {
        const bool member = std::any_of(talkers.begin(), talkers.end(),
                                        [&](const char* t) { return std::string(t) == s.talker; });
        if (member && s.snr > 0 && used < SATELLITES_PER_GSA) {
            body += format(",%02u", s.prn);
            ++used;
        }
    }
    if (used == 0)
        return {};
    for (; used < SATELLITES_PER_GSA; ++used)
        body += ",";
    return finish_sentence(body + ",1.6,0.9,1.3");
}

// One GSA per constellation (GPS with SBAS and QZSS, GLONASS, BeiDou), as
// multi-constellation receivers send them.
std::vector<std::string> gsa(const SentenceSetting&, const NmeaContext& c) {
    std::vector<std::string> sentences;
    for (const std::vector<const char*>& group :
         {std::vector<const char*>{"GP", "GQ"}, {"GL"}, {"GB"}}) {
        std::string sentence = gsa_sentence(c, group);
        if (!sentence.empty())
            sentences.push_back(std::move(sentence));
    }
    return sentences;
}

struct FormatterEntry {
    const char* formatter;
    Formatter make;
};

const FormatterEntry formatters[] = {
    {"HDT", hdt}, {"THS", ths}, {"ROT", rot}, {"HDG", hdg}, {"HDM", hdm}, {"XDR", xdr},
    {"att", att}, {"hev", hev}, {"MDA", mda}, {"GGA", gga}, {"RMC", rmc}, {"VTG", vtg},
    {"ZDA", zda}, {"GLL", gll}, {"DTM", dtm}, {"GSV", gsv}, {"GSA", gsa},
};

const FormatterEntry* find_formatter(const std::string& name) {
    for (const FormatterEntry& entry : formatters) {
        if (name == entry.formatter)
            return &entry;
    }
    return nullptr;
}

} // namespace

std::string finish_sentence(const std::string& body) {
    uint8_t sum = 0;
    for (char ch : body)
        sum ^= static_cast<uint8_t>(ch);
    return "$" + body + format("*%02X\r\n", sum);
}

std::vector<std::string> format_sentences(const SentenceSetting& row, const NmeaContext& context) {
    const FormatterEntry* entry = find_formatter(row.formatter);
    return entry ? entry->make(row, context) : std::vector<std::string>{};
}

bool known_formatter(const std::string& formatter) {
    return find_formatter(formatter) != nullptr;
}

double output_heading(const NmeaContext& context) {
    return wrap360(context.motion.heading - context.config->rotation[2] / 100.0);
}

double output_roll(const NmeaContext& context) {
    double roll = 0;
    double pitch = 0;
    quaternion_to_roll_pitch(context.config->autolevel, &roll, &pitch);
    return context.motion.roll + roll - context.config->rotation[0] / 100.0;
}

double output_pitch(const NmeaContext& context) {
    double roll = 0;
    double pitch = 0;
    quaternion_to_roll_pitch(context.config->autolevel, &roll, &pitch);
    return context.motion.pitch + pitch - context.config->rotation[1] / 100.0;
}

bool current_variation(const NmeaContext& context, double* degrees) {
    switch (context.config->variation_source) {
    case VARIATION_AUTO:
        *degrees = AUTO_VARIATION;
        return true;
    case VARIATION_USER:
        *degrees = context.config->variation_user / 100.0;
        return true;
    default:
        *degrees = 0;
        return false;
    }
}

} // namespace sim
