// The keys the live displays look at between arrivals.
#pragma once

enum class KeyOutcome { GO_ON, LEAVE, REDRAW };

// The keys pressed since the last look: ESC leaves, a window resize asks for a
// redraw. Input that cannot be read any more (closed, or the program asked to
// end) leaves like ESC.
KeyOutcome pending_keys();
