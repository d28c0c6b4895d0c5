#include "sim/firmware/request_faults.h"

namespace zvsim {

void RequestFaults::stall(uint8_t request, int count) {
    if (count != 0) rules_.push_back({request, {true, {}}, count});
}

void RequestFaults::respond(uint8_t request, std::vector<uint8_t> answer, int count) {
    if (count != 0) rules_.push_back({request, {false, std::move(answer)}, count});
}

std::optional<RequestFaults::Fault> RequestFaults::take_first(uint8_t request, bool stall) {
    for (auto it = rules_.begin(); it != rules_.end(); ++it) {
        if (it->request != request || it->fault.stall != stall) continue;
        Fault fault = it->fault;
        if (it->remaining != kUntilCleared && --it->remaining == 0) rules_.erase(it);
        return fault;
    }
    return std::nullopt;
}

std::optional<RequestFaults::Fault> RequestFaults::take(uint8_t request, bool in) {
    if (auto fault = take_first(request, true)) return fault;
    if (in) return take_first(request, false);
    return std::nullopt;
}

} // namespace zvsim
