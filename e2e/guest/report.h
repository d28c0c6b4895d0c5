// The guest program's account of its checks, one line each on standard output ("ok" or "FAIL"
// with what was seen), so the host shows the whole log when anything fails.
#pragma once

#include <chrono>
#include <string>

namespace zve2e {

class Report {
  public:
    // Starts a group of checks; also names the step a watchdog time-out reports.
    void section(const std::string &name);
    // Records one check; `detail` says what was seen (printed for failures, and for passes when
    // not empty). Returns `ok`.
    bool check(bool ok, const char *what, const std::string &detail = std::string());
    // A line of information that is not a check.
    void note(const std::string &text);

    int checks() const { return checks_; }
    int failures() const { return failures_; }
    const char *current_section() const { return section_; }

  private:
    char section_[96] = "";
    int checks_ = 0;
    int failures_ = 0;
};

// printf-style formatting into a string.
std::string format(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Seconds gone since `start`.
double seconds_since(std::chrono::steady_clock::time_point start);

// The library's last error as "code N (message)".
std::string last_error();

} // namespace zve2e
