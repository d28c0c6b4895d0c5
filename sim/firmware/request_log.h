// The vendor requests a simulated detector received, oldest first, for tests to inspect. The log
// keeps the most recent kCapacity entries so a long-running session cannot grow it without bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace zvsim {

struct LoggedRequest {
    bool in = false; // device to host
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    std::vector<uint8_t> data; // sent (out) or answered (in; empty when stalled)
    bool stalled = false;
};

class RequestLog {
  public:
    static constexpr size_t kCapacity = 65536;

    void add(LoggedRequest entry) {
        if (entries_.size() == kCapacity) entries_.pop_front();
        entries_.push_back(std::move(entry));
    }
    const std::deque<LoggedRequest> &entries() const { return entries_; }
    void clear() { entries_.clear(); }

  private:
    std::deque<LoggedRequest> entries_;
};

} // namespace zvsim
