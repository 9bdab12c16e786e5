// The simulator's own messages: always to standard error, never to the pty.
#pragma once

namespace sim {

extern int log_verbosity; // 0 errors and notices, 1 with -v: every device event

__attribute__((format(printf, 2, 3))) void log_message(int level, const char* format, ...);

} // namespace sim
