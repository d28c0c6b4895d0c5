#include "e2e/guest/report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "libzv/libzv.h"

namespace zve2e {

void Report::section(const std::string &name) {
    std::snprintf(section_, sizeof section_, "%s", name.c_str());
    std::printf("== %s\n", section_);
    std::fflush(stdout);
}

bool Report::check(bool ok, const char *what, const std::string &detail) {
    ++checks_;
    if (!ok) ++failures_;
    if (detail.empty())
        std::printf("%s %s\n", ok ? "  ok  " : "  FAIL", what);
    else
        std::printf("%s %s: %s\n", ok ? "  ok  " : "  FAIL", what, detail.c_str());
    std::fflush(stdout);
    return ok;
}

void Report::note(const std::string &text) {
    std::printf("       %s\n", text.c_str());
    std::fflush(stdout);
}

std::string format(const char *format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string last_error() {
    return format("code %d (%s)", zv_get_error(), zv_get_error_string());
}

} // namespace zve2e
