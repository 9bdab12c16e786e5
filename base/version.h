// The tool's own identity, shown in the banner, by about and in the diagnostic report.
#pragma once

constexpr unsigned TOOL_VERSION_MAJOR = 1;
constexpr unsigned TOOL_VERSION_MINOR = 5;
constexpr const char* TOOL_PART_NUMBER = "64-305127";
constexpr const char* TOOL_MAKER = "Example Marine Instruments Ltd.";
constexpr const char* TOOL_MAKER_WEB = "https://www.example.com";
