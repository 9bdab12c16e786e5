// Result codes shared by every layer. Zero or a positive count means success.
#pragma once
#include <cstdint>

constexpr int32_t RESULT_OK = 0;
constexpr int32_t RESULT_FAILED = -1;           // open failure, no memory, option the firmware lacks
constexpr int32_t RESULT_UNKNOWN_COMMAND = -2;  // words are not a valid use of the command
constexpr int32_t RESULT_QUIT = -4;             // leave the program
constexpr int32_t RESULT_PORT_ERROR = -5;       // serial read or write failed
constexpr int32_t RESULT_IMAGE_MISMATCH = -9;   // image file does not suit the device
constexpr int32_t RESULT_TIMEOUT = -11;         // time-out or communication failure
constexpr int32_t RESULT_UNSUPPORTED_PROTOCOL = -13;
constexpr int32_t RESULT_NO_REPLY = -14;        // no usable reply from the device shell
constexpr int32_t RESULT_WRONG_SOFTWARE = -19;  // device does not report the uploaded software
constexpr int32_t RESULT_USAGE = -22;
constexpr int32_t RESULT_DEVICE_LOST = -32;
constexpr int32_t RESULT_INTERNAL = -40;
constexpr int32_t RESULT_SETTINGS_DIFFER = -41; // a settings file and the device differ
