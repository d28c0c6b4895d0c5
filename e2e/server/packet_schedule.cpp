#include "e2e/server/packet_schedule.h"

namespace zve2e {

namespace {
// A pause longer than this is not made up for.
constexpr double kMaxLateSeconds = 0.05;
} // namespace

PacketSchedule::PacketSchedule(double interval_seconds, double pace)
    : period_(interval_seconds / pace) {}

void PacketSchedule::start(double now, uint32_t ahead) {
    next_ = now - period_ * ahead;
}

uint32_t PacketSchedule::due(double now) {
    if (now - next_ > kMaxLateSeconds) next_ = now - kMaxLateSeconds;
    return next_ <= now ? uint32_t((now - next_) / period_) + 1 : 0;
}

void PacketSchedule::take(uint32_t packets) {
    next_ += period_ * packets;
}

double PacketSchedule::wait(double now) const {
    return next_ > now ? next_ - now : 0;
}

} // namespace zve2e
