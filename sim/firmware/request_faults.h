// Faults injected into the vendor requests a simulated detector answers: stall the next requests
// with a code, leave them unanswered (the host must cancel them or the detector is unplugged), or
// answer the next IN requests with a code with given bytes instead of the firmware's answer.
// Stalls are looked up first, then unanswered requests, then answers.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace zvsim {

class RequestFaults {
  public:
    static constexpr int kUntilCleared = -1;

    struct Fault {
        bool stall = false;
        bool hang = false;           // never answered
        std::vector<uint8_t> answer; // when neither
    };

    // `count` requests are affected, or every one with kUntilCleared; 0 adds nothing.
    void stall(uint8_t request, int count);
    void hang(uint8_t request, int count);
    void respond(uint8_t request, std::vector<uint8_t> answer, int count);
    // The fault that takes the next request with this code and direction (one use is consumed).
    std::optional<Fault> take(uint8_t request, bool in);
    void clear() { rules_.clear(); }

  private:
    struct Rule {
        uint8_t request;
        Fault fault;
        int remaining;
    };
    enum class Kind { stall, hang, answer };
    static Kind kind_of(const Fault &f) {
        return f.stall ? Kind::stall : f.hang ? Kind::hang : Kind::answer;
    }
    std::optional<Fault> take_first(uint8_t request, Kind kind);

    std::vector<Rule> rules_;
};

} // namespace zvsim
