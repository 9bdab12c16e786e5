#include "reports/keys.h"

#include "base/console.h"

KeyOutcome pending_keys() {
    KeyOutcome outcome = KeyOutcome::GO_ON;
    char key = 0;
    for (;;) {
        const int n = read_input(&key, 1);
        if (n == 0)
            return outcome;
        if (n < 0 || key == KEY_ESC)
            return KeyOutcome::LEAVE;
        if (key == KEY_RESIZE)
            outcome = KeyOutcome::REDRAW;
    }
}
