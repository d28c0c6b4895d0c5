#include "sim/firmware/request_faults.h"

namespace zvsim {

void RequestFaults::stall(uint8_t request, int count) {
    if (count != 0) rules_.push_back({request, {true, false, {}}, count});
}

void RequestFaults::hang(uint8_t request, int count) {
    if (count != 0) rules_.push_back({request, {false, true, {}}, count});
}

void RequestFaults::respond(uint8_t request, std::vector<uint8_t> answer, int count) {
    if (count != 0) rules_.push_back({request, {false, false, std::move(answer)}, count});
}

std::optional<RequestFaults::Fault> RequestFaults::take_first(uint8_t request, Kind kind) {
    for (auto it = rules_.begin(); it != rules_.end(); ++it) {
        if (it->request != request || kind_of(it->fault) != kind) continue;
        Fault fault = it->fault;
        if (it->remaining != kUntilCleared && --it->remaining == 0) rules_.erase(it);
        return fault;
    }
    return std::nullopt;
}

std::optional<RequestFaults::Fault> RequestFaults::take(uint8_t request, bool in) {
    if (auto fault = take_first(request, Kind::stall)) return fault;
    if (auto fault = take_first(request, Kind::hang)) return fault;
    if (in) return take_first(request, Kind::answer);
    return std::nullopt;
}

} // namespace zvsim
