// The pass-through terminal (command ncterm): the console becomes a plain
// terminal on the device's own serial console. The parts below need no port.
#pragma once
#include <cstdint>
#include <string>

// Compares bytes one at a time with "User:". A byte that does not match starts
// the comparison again at 'U' with the next byte; it is not compared again.
class LoginPromptMatcher {
  public:
    // True once the whole prompt has matched.
    bool feed(uint8_t byte);

  private:
    uint32_t matched_ = 0;
};

// Device output as the console shows it: each backspace erases the character
// before it (backspace, space, backspace); everything else is unchanged.
std::string terminal_display(const uint8_t* bytes, uint32_t count);
