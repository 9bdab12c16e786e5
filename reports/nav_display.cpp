#include "reports/nav_display.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/identity.h"
#include "link/nmea.h"

NavProcessState nav_process_state;

namespace {

const NavLayout layouts[] = {
    {"NC-210", 0, 0, 6, 0, 10},
    {"NC-350", 1, 8, 0, 10, 14},
    {"NC-4100", 6, 13, 14, 18, 23},
};

constexpr int MAX_FIELDS = 16;

// One split sentence: fields[0] is the address with its "$".
struct Fields {
    char text[NMEA_MAX_SENTENCE + 1];
    char* field[MAX_FIELDS];
    int count = 0;
    // A field the sentence does not hold reads as empty.
    const char* operator[](int index) const { return index < count ? field[index] : ""; }
};

bool parses(const char* field, float* value) { return std::sscanf(field, "%f", value) == 1; }

bool is_empty(const char* field) { return field[0] == '\0'; }

// The texts of one decoded sentence, each cut to the width of its place.
struct Writer {
    std::vector<NavWrite>& writes;
    void put(uint16_t column, uint16_t row, const std::string& text, size_t width) {
        writes.push_back({column, row, text.substr(0, width)});
    }
    // A formatted number, or the placeholder when the number is missing or
    // too wide for its place.
    void number(uint16_t column, uint16_t row, bool valid, const std::string& text,
                const char* placeholder) {
        const size_t width = std::strlen(placeholder);
        put(column, row, valid && text.size() <= width ? text : placeholder, width);
    }
};

std::string formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string formatted(const char* format, ...) {
    char text[128];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return n < 0 ? std::string() : std::string(text);
}

// hh:mm:ss from the first six characters; nothing for a shorter field.
void write_utc(Writer& out, const char* time) {
    if (std::strlen(time) < 6)
        return;
    char text[9];
    std::snprintf(text, sizeof text, "%c%c:%c%c:%c%c", time[0], time[1], time[2], time[3], time[4],
                  time[5]);
    out.put(5, 1, text, 8);
}

void write_position(Writer& out, bool valid, const char* latitude, const char* north_south,
                    const char* longitude, const char* east_west, const char* degree) {
    const size_t sign_bytes = std::strlen(degree);
    if (valid && std::strlen(latitude) > 5 && !is_empty(north_south)) {
        out.put(0, 4, std::string(latitude, 2) + degree + (latitude + 2) + "' " + north_south,
                16 + sign_bytes);
    } else {
        out.put(0, 4, "-", 1);
    }
    if (valid && std::strlen(longitude) >= 7 && !is_empty(east_west)) {
        out.put(17, 4, std::string(longitude, 3) + degree + (longitude + 3) + "' " + east_west,
                17 + sign_bytes);
    } else {
        out.put(17, 4, "-", 1);
    }
}

void write_speed(Writer& out, bool valid, const char* field, uint16_t row) {
    float value = 0;
    const bool ok = valid && parses(field, &value);
    out.number(14, row, ok, formatted("%5.1f", static_cast<double>(value)), " --.-");
}

const char* fix_text(bool fix) { return fix ? "Fix   " : "noFix "; }

struct DecodeContext {
    const NavLayout& layout;
    NavRunState& run;
    NavProcessState& process;
    const char* degree;
};

void decode_gga(const Fields& f, const DecodeContext& c, Writer& out) {
    write_utc(out, f[1]);
    const int quality = std::atoi(f[6]);
    out.put(5, 2, fix_text(quality != 0), 6);
    out.put(17, 2, quality == 2 ? "yes" : "no ", 3);
    out.put(50, 2, is_empty(f[7]) ? "-" : f[7], 3);
    float hdop = 0;
    const bool hdop_valid = parses(f[8], &hdop);
    out.number(26, 2, hdop_valid, formatted("%5.2f", static_cast<double>(hdop)), "    -");
    write_position(out, (quality & 0xFF) != 0, f[2], f[3], f[4], f[5], c.degree);
    if (!is_empty(f[9]) && !is_empty(f[10]))
        out.put(40, 4, formatted("%s %-4s ", f[9], f[10]), 20);
    else
        out.put(40, 4, "-", 1);
}

void decode_rmc(const Fields& f, const DecodeContext& c, Writer& out) {
    const bool valid = std::strcmp(f[2], "A") == 0;
    out.put(5, 2, fix_text(valid), 6);
    write_utc(out, f[1]);
    write_position(out, valid, f[3], f[4], f[5], f[6], c.degree);
    write_speed(out, valid, f[7], c.layout.sog_row);
    write_speed(out, valid, f[8], static_cast<uint16_t>(c.layout.sog_row + 1));
}

void decode_ths(const Fields& f, const DecodeContext& c, Writer& out) {
    c.run.ths_valid = false;
    if (is_empty(f[2]) || std::strcmp(f[2], "V") == 0)
        return;
    out.put(11, c.layout.heading_row, formatted("T  %5s", f[1]), 8);
    c.run.ths_valid = true;
}

void decode_hdt(const Fields& f, const DecodeContext& c, Writer& out) {
    c.run.hdt_valid = false;
    if (is_empty(f[1]))
        return;
    out.put(11, c.layout.heading_row, formatted("T  %5s", f[1]), 8);
    c.run.hdt_valid = true;
}

// Deviation or variation: the value with its direction letter.
void write_correction(Writer& out, uint16_t row, const char* value, const char* direction) {
    if (!is_empty(value) && !is_empty(direction)) {
        char letter[2] = {direction[0], '\0'};
        out.put(11, row, formatted("%s  %5s", letter, value), 8);
    } else {
        out.put(11, row, "       -", 8);
    }
}

// The magnetic heading corrected by what the sentence gives: C (compass), M
// (magnetic) or T (true).
void write_heading_from_hdg(const Fields& f, const DecodeContext& c, Writer& out) {
    float heading = 0;
    if (!parses(f[1], &heading)) {
        c.run.ths_valid = c.run.hdt_valid = false;
        return;
    }
    char letter = 'C';
    float correction = 0;
    if (!is_empty(f[3]) && parses(f[2], &correction)) {
        heading += correction * (f[3][0] == 'E' ? 1.0f : -1.0f);
        letter = 'M';
    }
    if (!is_empty(f[5]) && parses(f[4], &correction)) {
        heading += correction * (f[5][0] == 'E' ? 1.0f : -1.0f);
        letter = 'T';
    }
    // Corrections may carry the sum past north either way: 361.0 is 1.0, and
    // 359.96 shows as 0.0, not 360.0.
    heading = std::fmod(std::round(heading * 10.0f) / 10.0f, 360.0f);
    if (heading < 0)
        heading += 360.0f;
    char text[64];
    const int n = std::snprintf(text, sizeof text, "%c  %5.1f", letter, static_cast<double>(heading));
    out.put(11, c.layout.heading_row, n > 8 || !std::isfinite(heading) ? "     -.-" : text, 8);
    c.run.ths_valid = c.run.hdt_valid = false;
}

void decode_hdg(const Fields& f, const DecodeContext& c, Writer& out) {
    write_correction(out, static_cast<uint16_t>(c.layout.heading_row + 1), f[2], f[3]);
    write_correction(out, static_cast<uint16_t>(c.layout.heading_row + 2), f[4], f[5]);
    if (c.run.ths_valid || c.run.hdt_valid)
        return;
    write_heading_from_hdg(f, c, out);
}

void decode_attitude(const Fields& f, const DecodeContext& c, Writer& out) {
    if (f.count < 5)
        return;
    float roll = 0;
    char text[64];
    const uint16_t roll_row = static_cast<uint16_t>(c.layout.heading_row + 3);
    const int n = parses(f[4], &roll) ? std::snprintf(text, sizeof text, "%c %6.1f",
                                                       roll > 0 ? 'S' : 'P',
                                                       static_cast<double>(std::fabs(roll)))
                                      : -1;
    out.put(11, roll_row, n < 0 || n > 8 ? "     -.-" : text, 8);
    float pitch = 0;
    const bool pitch_valid = parses(f[3], &pitch);
    out.number(13, static_cast<uint16_t>(c.layout.heading_row + 4), pitch_valid,
               formatted("%+6.1f", static_cast<double>(pitch)), "   -.-");
}

void decode_heave(const Fields& f, const DecodeContext& c, Writer& out) {
    const uint16_t row = static_cast<uint16_t>(c.layout.heading_row + 5);
    if (!c.process.heave_label_drawn) {
        out.put(0, row, "Heave           -.-  meter", 26);
        c.process.heave_label_drawn = true;
    }
    if (f[3][0] == 'V')
        out.put(13, row, formatted("%6s", f[2]), 6);
    else
        out.put(13, row, "   -.-", 6);
}

void decode_pfec(const Fields& f, const DecodeContext& c, Writer& out) {
    const char* type = std::strlen(f[1]) >= 2 ? f[1] + 2 : "";
    if (std::strcmp(type, "att") == 0)
        decode_attitude(f, c, out);
    else if (std::strcmp(type, "hev") == 0)
        decode_heave(f, c, out);
}

void decode_rot(const Fields& f, const DecodeContext& c, Writer& out) {
    if (std::strcmp(f[2], "A") != 0) {
        out.put(11, c.layout.rot_row, "  --.--", 8);
        return;
    }
    const bool port = f[1][0] == '-';
    out.put(11, c.layout.rot_row, formatted(port ? "P %6s" : "S %6s", port ? f[1] + 1 : f[1]), 8);
}

void decode_vtg(const Fields& f, const DecodeContext& c, Writer& out) {
    const bool valid = std::strcmp(f[9], "N") != 0;
    write_speed(out, valid, f[5], c.layout.sog_row);
    float course = 0;
    const bool course_valid = valid && parses(f[1], &course);
    out.number(14, static_cast<uint16_t>(c.layout.sog_row + 1), course_valid,
               formatted("%5.1f", static_cast<double>(course)), " --.-");
}

void decode_mda(const Fields& f, const DecodeContext& c, Writer& out) {
    float bar = 0;
    const bool bar_valid = parses(f[3], &bar);
    out.number(13, static_cast<uint16_t>(c.layout.meteo_row + 1), bar_valid,
               formatted("%6.1f", static_cast<double>(bar * 1000.0f)), "     -");
    float temperature = 0;
    const bool temperature_valid = parses(f[5], &temperature);
    out.number(14, c.layout.meteo_row, temperature_valid,
               formatted("%5.1f", static_cast<double>(temperature)), "    -");
}

// The SNR range of one GSV group (all talkers feed the same range); at most
// three satellites of a sentence are within the fields kept.
void decode_gsv(const Fields& f, const DecodeContext& c, Writer& out) {
    NavProcessState& p = c.process;
    if (std::atoi(f[2]) == 1) {
        p.snr_max = 0;
        p.snr_min = 99;
    }
    for (int block = 0; f.count >= 4 * block + 8; ++block) {
        const unsigned snr = static_cast<unsigned>(std::strtoul(f[4 * block + 7], nullptr, 10));
        if (snr > p.snr_max)
            p.snr_max = snr;
        if (snr != 0 && snr < p.snr_min)
            p.snr_min = snr;
    }
    if (std::atoi(f[1]) == std::atoi(f[2])) {
        char text[32];
        std::snprintf(text, sizeof text, "[%2u-%2u]", p.snr_min, p.snr_max);
        out.put(37, 2, text, 7);
        p.snr_max = 0;
        p.snr_min = 99;
    }
}

struct Decoder {
    const char* type;
    int min_fields;
    void (*decode)(const Fields&, const DecodeContext&, Writer&);
};

// In the order they are tried; HDT only counts while no valid THS is shown.
const Decoder decoders[] = {
    {"GGA", 11, decode_gga}, {"RMC", 9, decode_rmc}, {"THS", 2, decode_ths},
    {"HDT", 2, decode_hdt},  {"HDG", 6, decode_hdg}, {"PFEC", 4, decode_pfec},
    {"ROT", 3, decode_rot},  {"VTG", 9, decode_vtg}, {"MDA", 7, decode_mda},
    {"GSV", 4, decode_gsv},
};

const Decoder* decoder_for(const char* sentence, uint32_t length, const NavRunState& run) {
    for (const Decoder& decoder : decoders) {
        const bool proprietary = std::strlen(decoder.type) == 4;
        const char* at = proprietary ? sentence + 1 : sentence + 3;
        const size_t size = std::strlen(decoder.type);
        if (static_cast<size_t>(at - sentence) + size > length ||
            std::memcmp(at, decoder.type, size) != 0)
            continue;
        if (decoder.decode == decode_hdt && run.ths_valid)
            continue;
        return &decoder;
    }
    return nullptr;
}

} // namespace

const NavLayout* nav_layout_for(const char* model) {
    for (const NavLayout& layout : layouts) {
        if (model_is(model, layout.model))
            return &layout;
    }
    return nullptr;
}

NavOutcome nav_decode(const char* sentence, uint32_t length, const NavLayout& layout,
                      NavRunState& run, NavProcessState& process, std::vector<NavWrite>& writes) {
    writes.clear();
    const Decoder* decoder = decoder_for(sentence, length, run);
    if (!decoder)
        return NavOutcome::IGNORED;
    Fields fields;
    const uint32_t kept = length < NMEA_MAX_SENTENCE ? length : NMEA_MAX_SENTENCE;
    std::memcpy(fields.text, sentence, kept);
    fields.text[kept] = '\0';
    fields.count = nmea_split_fields(fields.text, fields.field, MAX_FIELDS);
    if (fields.count < decoder->min_fields)
        return decoder->decode == decode_gsv ? NavOutcome::END : NavOutcome::IGNORED;
    Writer out{writes};
    decoder->decode(fields, DecodeContext{layout, run, process, run.degree_sign}, out);
    return NavOutcome::SHOWN;
}

std::vector<NavWrite> nav_static_layout(const NavLayout& layout, const char* degree_sign) {
    const bool gnss = layout.sog_row != 0;
    const bool attitude = layout.heading_row != 0;
    std::vector<NavWrite> lines;
    if (gnss)
        lines.push_back({0, 0,
                         "\nUTC: -:-:-\n"
                         "GPS: -     DGPS: -   HDOP: -    SNR: [ -.- ] Sat: -\n"
                         "\n"
                         "                                   Alt:\n"
                         "\n"});
    if (attitude) {
        lines.push_back({0, layout.heading_row,
                         "Heading         -.-  deg\n"
                         "Deviation       -.-  deg\n"
                         "Variation       -.-  deg\n"
                         "Roll            -.-  deg\n"
                         "Pitch           -.-  deg\n"
                         "\n\n"});
        lines.push_back({0, layout.rot_row, "ROT             -.-  deg/min\n"});
    }
    if (gnss)
        lines.push_back({0, layout.sog_row, "SOG             -.-  knots\nCOG             -.-  deg\n"});
    lines.push_back({NAV_HERE, NAV_HERE, "\n"});
    if (attitude)
        lines.push_back({0, layout.meteo_row,
                         std::string("Temp              -  ") + degree_sign +
                             "C\nPressure          -  hPa\n"});
    lines.push_back({NAV_HERE, NAV_HERE, "press ECS to interrupt"});
    return lines;
}
