#include "e2e/server/log.h"

#include <cstdarg>
#include <cstdio>

#include "e2e/server/wall_clock.h"

namespace zve2e {

void log_line(const char *format, ...) {
    static const double start = wall_seconds();
    std::fprintf(stderr, "[%8.3f] ", wall_seconds() - start);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

} // namespace zve2e
