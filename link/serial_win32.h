// The parts of the Windows serial port that need no port: the port list and
// the meaning of a failed open, kept apart so that the unit tests can check them.
#pragma once
#include <string>
#include <vector>
#include <windows.h>

// QueryDosDeviceA's signature, so that a test can stand in for the system.
using DosDeviceQuery = DWORD(WINAPI*)(LPCSTR device, LPSTR names, DWORD size);

// All device names as query lists them (each NUL-terminated, the list ended by
// an empty one). A buffer too small (error 122) is grown by 4096 bytes up to
// 409600; any other failure, or a list larger still, gives an empty result.
std::vector<char> dos_device_names(DosDeviceQuery query);

// The names that start with "COM" (exact case), in the order listed.
std::vector<std::string> com_ports_in(const std::vector<char>& names);

// errno for a CreateFileA that failed with error: EACCES when the port is held
// by another program (access denied), EBADF for every other reason.
int open_failure_errno(DWORD error);
