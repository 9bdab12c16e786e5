// What the Windows platform files share, and the console's translations, kept
// apart from the calls so that the unit tests can check them.
#pragma once
#include <cstdint>
#include <windows.h>

// A manual-reset event, set once the program is asked to end (Ctrl-C, Ctrl-Break,
// the console window closed). Waits include it so that they return at once.
HANDLE termination_event();

// The console input mode for set_input_mode's flags: cooked 0xAF or raw 0x09,
// plus quick edit 0x40.
DWORD console_mode_for(int flags);

// Turns count console input events into characters, at most max of them: a key
// press gives its character once whatever its repeat count, a window size
// change gives KEY_RESIZE. Releases, keys without a character (Shift, arrows),
// mouse, menu and focus events give nothing. Returns the characters stored.
uint32_t keys_from_events(const INPUT_RECORD* events, uint32_t count, char* buffer, uint32_t max);
