#include "sim/firmware/stream_faults.h"

namespace zvsim {

void StreamFaultPlan::inject(StreamFault kind, uint32_t transfer, int packet) {
    pending_.push_back({kind, transfer, packet});
}

void StreamFaultPlan::start_collection() {
    active_ = std::move(pending_);
    pending_.clear();
}

TransferFaults StreamFaultPlan::for_transfer(uint32_t transfer) const {
    TransferFaults faults;
    for (const Entry &e : active_) {
        if (e.transfer != transfer) continue;
        if (e.kind == StreamFault::error_status)
            faults.error_status = true;
        else if (e.kind == StreamFault::timeout)
            faults.timeout = true;
        else
            faults.packets.push_back({e.packet, e.kind});
    }
    return faults;
}

void StreamFaultPlan::clear() {
    pending_.clear();
    active_.clear();
}

} // namespace zvsim
