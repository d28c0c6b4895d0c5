// Time-stamped lines on standard error for a server's log: seconds since the server started.
#pragma once

namespace zve2e {

void log_line(const char *format, ...) __attribute__((format(printf, 1, 2)));

} // namespace zve2e
