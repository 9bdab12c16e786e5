// The detail texts that help prints for a command name.
#include "app/help_texts.h"

#include <cstring>

#include "base/text.h"
#include "link/device.h"

namespace {

const HelpSection about_body = {nullptr, "  This command prints information about the application.",
                                /*add_line_break=*/true};

const HelpSection attitude_text = {
    "\n"
    "attitude filter <time constant>\n",
    "  This command is used to configure the characteristic of the\n"
    "  attitude low pass filter. The filter is applied to the heading,\n"
    "  pitch and roll output data.\n"
    "  <time constant> is the time constant of the low pass filter.\n"
    "                  The time constant is a decimal number and the unit\n"
    "                  is seconds, range: 0.0-9.9 seconds.\n"
    "\n"
    "  By default the filter is disabled (time constant = 0).\n"
    "\n"
    "  If no argument is specified the current configuration is printed.",
    /*add_line_break=*/true};

const HelpSection autolevel_text = {
    "\n"
    "autolevel [run | reset]\n",
    "  This command is used to start the auto level function or reset the current\n"
    "  auto level offsets.\n"
    "  This function requires that the ship is in a stable position (horizontal\n"
    "  and vertical).\n"
    "  'run' means that the auto level function is activated (roll- and pitch\n"
    "        offsets are calculated.)\n"
    "  'reset' means that current auto level offsets are reset.",
    /*add_line_break=*/true};

const HelpSection diag_text = {"\n"
                               "diag [<path>]\n",
                               "  This command generates a diagnostic report.\n"
                               "  If <path> is specified the file is stored in the directory\n"
                               "  indicated by the path.",
                               /*add_line_break=*/true};

const HelpSection event_text = {
    "\n"
    "event\n",
    "  This command prints a all the system events reported by the actual\n"
    "  device.",
    /*add_line_break=*/true};

const HelpSection factory_text = {
    "\n"
    "factory default\n",
    "  This command makes a reset to factory default.\n"
    "  User configuration will be overwritten by default values.\n"
    "\n"
    "  Note: The new configuration takes effect when the system is rebooted.",
    /*add_line_break=*/true};

const HelpSection gnss_text = {
    "\n"
    "gnss receiver [<type>...]\n",
    "  This command is used to configure a list of actual used GNSS receivers.\n"
    "  <type> is the type of GNSS receiver: GPS, SBAS, GLONASS, BEIDOU\n"
    "         BeiDou and GLONASS can not be selected at the same time.\n"
    "\n"
    "  The configuration takes effect when the system is rebooted\n"
    "\n"
    "  If no argument is specified the current configuration is printed.\n"
    "\n"
    "  Example:\n"
    "      GNSS receiver GPS SBAS GLONASS\n"
    "\n"
    "  Specifies that the GPS, SBAS and GLONASS GNSS receivers are enabled\n"
    "  (Beidou is disabled).",
    /*add_line_break=*/false};

const HelpSection help_body = {nullptr,
                               "  This command prints detailed information for a specific command.",
                               /*add_line_break=*/true};

const HelpSection mon_text = {
    "\n"
    "mon\n",
    "  This command is a NMEA 0183 monitor.\n"
    "  The command continuously reads NMEA 0183 sentences and prints the \n"
    "  raw data on the display.",
    /*add_line_break=*/true};

const HelpSection nav_text = {"\n"
                              "nav\n",
                              "  This command is a simple navigation display.\n"
                              "  The command continuously reads NMEA 0183 data (position, time,\n"
                              "  heading etc) and presents the data on the display.",
                              /*add_line_break=*/true};

const HelpSection nmea2000_text = {
    "\n"
    "nmea2000 bus [term | open]\n",
    "  This command is used to configure the state of the NMEA 2000 bus termination.\n"
    "  'open' means that the NMEA 2000 bus is not terminated (default).\n"
    "  'term' means that the NMEA 2000 bus is terminated in the device.\n"
    "\n"
    "  If no argument is specified the current configuration is printed.",
    /*add_line_break=*/true};

const HelpSection pitch_text = {
    "\n"
    "pitch offset [<offset>]\n",
    "  This command is used to specify a fixed pitch offset (in order to\n"
    "  compensate for any mounting offset).\n"
    "  <offset> is in degrees (-10.0 to +10.0)\n"
    "\n"
    "  If no argument is specified the current pitch offset is printed.",
    /*add_line_break=*/true};

const HelpSection post_text = {"\n"
                               "post\n",
                               "  This command prints the result of the Power On Self Test (POST).",
                               /*add_line_break=*/true};

const HelpSection quit_text = {"\n"
                               "quit\n",
                               "  This command quits the application.",
                               /*add_line_break=*/true};

const HelpSection reboot_text = {"\n"
                                 "reboot\n",
                                 "  This command reboots the device.\n"
                                 "  Note: some commands requires that the device is rebooted.",
                                 /*add_line_break=*/true};

const HelpSection roll_text = {
    "\n"
    "roll offset [<offset>]\n",
    "  This command is used to specify a fixed roll offset (in order to\n"
    "  compensate for any mounting offset).\n"
    "  <offset> is in degrees (-10.0 to +10.0)\n"
    "\n"
    "  If no argument is specified the current roll offset is printed.",
    /*add_line_break=*/true};

const HelpSection stat_text = {
    "\n"
    "stat [-l <file path>]\n",
    "  This command is a NMEA 0183 data analyzer.\n"
    "  The command continuously reads NMEA 0183 sentences and calculates\n"
    "  a number of statistic parameters, e.g. frequency, jitter,\n"
    "  utilization rates etc.\n"
    "\n"
    "  The command might be used to verify the configuration of NMEA 0183\n"
    "  sentences and the associated transmit frequency.\n"
    "  Detailed statistics can be logged to a file using option '-l'.\n"
    "\n"
    "  The command lists all NMEA 0183 sentences received and prints following\n"
    "  parameters:\n"
    "  Id:          NMEA talker id and type. A postfix (e.g GLGSV.1) indicates\n"
    "               that the NMEA sentence is part of a sequence of sentences of\n"
    "               the same name\n"
    "  length:      Length of NMEA sentence (min and max length)\n"
    "  freq:        Current frequency (Hz)\n"
    "  freq avg:    Average rate (Hz)\n"
    "  intv:        Interval between NMEA sentences (ms)\n"
    "  intv avg:    Average interval (ms)\n"
    "  intv min:    Minimum interval (ms)\n"
    "  intv max:    Maximun interval (ms)\n"
    "  brk:         Count of breaks between NMEA sentences, i.e. number of times\n"
    "               the NMEA sentence is delayed more than 2 * intv\n"
    "  cnt:         Number of NMEA sentences receives\n"
    "  Frame err:   Number of framing errors\n"
    "  Syntax err:  Number of syntaxt errors (within the NMEA sentence)\n"
    "  Checksum err:Number of checksum errors\n"
    "  Disruption:  Interval between two characters in a NMEA sentence (ms)\n"
    "  Utilization: Utilization rate (%) of the RS422 link ([min, max])\n"
    "\n"
    "  Guideline:\n"
    "  The interval (intv) should be close to the interval specified by the\n"
    "  'nmea0183' command. The minimum and maximum interval should not\n"
    "  deviate too much from the actual interval.\n"
    "  The break counter (brk) should be 0 (for all sentences).\n"
    "  If the error counters continues to increase there are probably problems with\n"
    "  the serial connection between the device and the PC.\n"
    "  Avoid a utilization rate close to 100% either by reducing the number of\n"
    "  NMEA 0183 sentences or by increasing the transmit interval (lower frequency).\n"
    "  \n"
    "  Note: To get reliable statistics the disruption value should not be more\n"
    "  than a few milli-seconds. Make sure that the serial driver is configured\n"
    "  to run with low latency (especially if an USB adapter is used).\n",
    /*add_line_break=*/false};

const HelpSection settings_text = {
    "\n"
    "settings save <file>\n"
    "settings compare [-f] <file>\n"
    "settings load [-f] <file>\n",
    "  These commands keep the settings of the installation in a file, to put\n"
    "  them on a replacement unit or to check that units are set up alike.\n"
    "  'save' reads every setting of the device and writes it to <file> as\n"
    "         the commands that set it (mounting offsets, filter, deviation\n"
    "         calibration, variation, GNSS receivers, NMEA 0183 sentences and\n"
    "         baudrate, NMEA 2000 bus), after comments naming the unit.\n"
    "  'compare' prints each setting of <file> that the device has otherwise;\n"
    "         given on the command line, the exit status is 3 when one differs.\n"
    "  'load' checks the whole file first (only setting commands, values the\n"
    "         commands take, a file for this model), then runs each line as\n"
    "         if typed, and compares what the device now has.\n"
    "  -f     takes a file of another model: the settings this unit has are\n"
    "         used, the others are named.\n"
    "\n"
    "  The magnetometer calibration and the autolevel offsets belong to the\n"
    "  unit: they are noted in the file, not loaded.",
    /*add_line_break=*/true};

const HelpSection status_text = {
    "\n"
    "status\n",
    "  This command prints a short status of the device.\n"
    "  The command also prints some essential configuration parameters.",
    /*add_line_break=*/true};

const HelpSection upload_text = {
    "\n"
    "upload <file path>\n",
    "  This command uploads firmware to the device.\n"
    "  <file path> is the name of the file (including the path).\n"
    "  If the path includes spaces, use quotation marks around the path.",
    /*add_line_break=*/true};

const HelpSection variation_text = {
    "\n"
    "variation source [auto | off | user <variation>]\n",
    "  This command is used to configure the source of input data used when\n"
    "  calculating the magnetic variation.\n"
    "  'auto' means that the device will use data from the NMEA 0183 and\n"
    "         NMEA 2000 interface (position and time).\n"
    "  'off' means that position and time is not available and hence the\n"
    "        magnetic variation is not calculated (true heading is not avaliable).\n"
    "  'user' means that the magnetic variation is manually entered.\n"
    "         <variation> is in degrees (-180.0 to +180.0).\n"
    "\n"
    "  If no argument is specified the current configuration is printed.",
    /*add_line_break=*/true};

const HelpSection ver_text = {
    "\n"
    "ver\n",
    "  This command prints the hardware and software version of the device.",
    /*add_line_break=*/true};

const HelpSection vertical_text = {
    "\n"
    "vertical offset [<offset>]\n",
    "  This command is used to specify a vertical mounting offset.\n"
    "  <offset> is in meters (relative to the waterline)\n"
    "\n"
    "  If no argument is specified the current vertical offset is printed.",
    /*add_line_break=*/true};

const HelpSection heading_offset_text = {
    "\n"
    "heading offset [<offset>]\n",
    "  This command is used to specify a fixed heading offset (in order to\n"
    "  compensate for any mounting offset).\n"
    "  <offset> is in degrees (-180.0 to +180.0).\n"
    "\n"
    "  If no argument is specified the current heading offset is printed.",
    /*add_line_break=*/true};

const HelpSection heading_known_text = {
    "\n"
    "heading <heading>\n",
    "  This command is used to adjust the heading relative to a known\n"
    "  heading.\n"
    "  The heading offset will be calculated automatically based on the\n"
    "  specified heading.\n"
    "  <heading> is in degrees (0.0 to 360.0).",
    /*add_line_break=*/true};

const HelpSection nmea0183_baudrate_text = {
    "\n"
    "nmea0183 baudrate [4800 | 38400]\n",
    "  This command is used to configure the baudrate on the NMEA 0183 interface.\n"
    "  Valid baudrates: 4800, 38400.\n"
    "  The configuration takes effect when the system is rebooted (command 'reboot')\n"
    "  If no baudrate is specified the current setting is printed.",
    /*add_line_break=*/true};

const HelpSection nmea0183_sentences_text = {
    "\n"
    "nmea0183 sentences [default | <sentence>:<interval>...]\n",
    "  This command is used to configure which NMEA 0183 sentences to be sent and \n"
    "  at what interval they should be sent.\n"
    "  <sentence> is the name of the NMEA 0183 sentence. The name is composed\n"
    "             of a talker id (2 letters) and an identifier (sentence\n"
    "             formatter, 3 letters), e.g. 'HCHDT' (case sensitive).\n"
    "             The talker id is optional and it can not be specified for\n"
    "             GNSS sentences, e.g. 'GGA', 'RMC', as these sentences have\n"
    "             multiple talker id's (related to the multiple GNSS receivers).\n"
    "             The talker id of the GNSS sentences may be changed by selecting\n"
    "             specific GNSS receives, see command: 'gnss receiver'.\n"
    "             If the talker id is not specified the current talker id\n"
    "             will be used.\n"
    "  <interval> is the interval at which the sentence is sent (in milliseconds).\n"
    "             The minimum interval is 25ms (40Hz) and the interval must be a\n"
    "             multiple of 25ms.\n"
    "  If 'default' is specified the default configuration will be used.\n"
    "\n"
    "  If no argument is specified the current configuration is printed, i.e. a\n"
    "  list of sentences and associated intervals. Interval 0 means that the\n"
    "  sentence is not sent (disabled).\n"
    "\n"
    "  Example:\n"
    "     nmea0183 sentences HEHDT:100 HCHDG:100 RMC:1000\n"
    "\n"
    "  Specifies that 'HDT' and 'HDG' are sent with an interval of 100ms (10Hz)\n"
    "  and that 'RMC' is sent with an interval of 1000ms (1Hz).\n"
    "  'HDT' is sent with talker id: 'HE' and 'HDG' is sent with talker id: 'HC'.\n"
    "  No talker id is specified for 'RMC'.",
    /*add_line_break=*/true};

const HelpSection deviation_standard_text = {
    "\n"
    "deviation calibration [standard | adaptive | off | reset]\n",
    "  This command is used to enable, disable and reset the deviation\n"
    "  calibration function.\n"
    "  'standard' means that the standard deviation calibration function\n"
    "             is enabled i.e. the calibration is preformed\n"
    "             automatically when sailing a specific pattern.\n"
    "  'adaptive' means that the adaptive deviation calibration function\n"
    "             is enabled i.e. the calibration is preformed\n"
    "             automatically (continuously improving calibration).\n"
    "  'off'      means that the deviation calibration function is\n"
    "             disabled (in order to avoid continuous calibration).\n"
    "  'reset'    means that the deviation calibration data is reset\n"
    "             (new deviation calibration is required).\n"
    "\n"
    "  If no argument is specified the current configuration is printed.",
    /*add_line_break=*/true};

const HelpSection deviation_on_off_text = {
    "\n"
    "deviation calibration [on | off | reset]\n",
    "  This command is used to enable, disable and reset the deviation\n"
    "  calibration function.\n"
    "  'on'    means that the deviation calibration function is enabled,\n"
    "          i.e. the calibration is preformed automatically when sailing\n"
    "          a specific pattern.\n"
    "  'off'   means that the deviation calibration function is disabled\n"
    "          (in order to avoid continuous calibration).\n"
    "  'reset' means that the deviation calibration data is reset.\n"
    "\n"
    "  If no argument is specified the current configuration is printed.",
    /*add_line_break=*/true};

const HelpSection deviation_options_text = {
    "\n"
    "deviation options [5deg pause | none]\n",
    "  This command is used to configure some options to the deviation\n"
    "  calibration function.\n"
    "  '5deg'  (No cal res) means that the resolution of the heading output\n"
    "          is 5 degrees as long as the the calibration has not been\n"
    "          performed (default).\n"
    "          If this option is not set the device will output heading data\n"
    "          with a high resolution even though the deviation calibration has\n"
    "          not been performed.\n"
    "  'pause' (Notify update) means that the heading output is stopped for a\n"
    "          period of 15 seconds each time the device is recalibrated (default).\n"
    "          If this option is not set the device will not make any\n"
    "          notification each time the device has been recalibrated.\n"
    "          This option is ignored if the adaptive deviation calibration\n"
    "          function is used.\n"
    "  'none'  means that no options are set.\n"
    "\n"
    "  If no argument is specified the current configuration is printed.",
    /*add_line_break=*/true};

struct FixedTopic {
    const char* topic;
    const HelpSection* first;
    const HelpSection* second;
};

const FixedTopic fixed_topics[] = {
    {"about", &about_body, nullptr},
    {"attitude", &attitude_text, nullptr},
    {"autolevel", &autolevel_text, nullptr},
    {"diag", &diag_text, nullptr},
    {"event", &event_text, nullptr},
    {"factory", &factory_text, nullptr},
    {"gnss", &gnss_text, nullptr},
    {"help", &help_body, nullptr},
    {"mon", &mon_text, nullptr},
    {"nav", &nav_text, nullptr},
    {"nmea2000", &nmea2000_text, nullptr},
    {"pitch", &pitch_text, nullptr},
    {"post", &post_text, nullptr},
    {"quit", &quit_text, nullptr},
    {"reboot", &reboot_text, nullptr},
    {"roll", &roll_text, nullptr},
    {"settings", &settings_text, nullptr},
    {"stat", &stat_text, nullptr},
    {"status", &status_text, nullptr},
    {"upload", &upload_text, nullptr},
    {"variation", &variation_text, nullptr},
    {"ver", &ver_text, nullptr},
    {"vertical", &vertical_text, nullptr},
    {"heading", &heading_offset_text, &heading_known_text},
};

int store(HelpSection* out, const HelpSection* first, const HelpSection* second) {
    out[0] = *first;
    if (!second)
        return 1;
    out[1] = *second;
    return 2;
}

} // namespace

int help_sections_for(const char* topic, const char* model, HelpSection* out) {
    if (equals_ignore_case(topic, "nmea0183")) {
        return model_is(model, "NC-350")
                   ? store(out, &nmea0183_baudrate_text, &nmea0183_sentences_text)
                   : store(out, &nmea0183_sentences_text, nullptr);
    }
    if (equals_ignore_case(topic, "deviation")) {
        return store(out,
                     model_is(model, "NC-4100") ? &deviation_standard_text : &deviation_on_off_text,
                     &deviation_options_text);
    }
    for (const FixedTopic& fixed : fixed_topics) {
        if (equals_ignore_case(topic, fixed.topic))
            return store(out, fixed.first, fixed.second);
    }
    return 0;
}
