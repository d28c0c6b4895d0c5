#include "usb/platform/event.h"

#include <chrono>

namespace zvusb {

void Event::set() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
    }
    cond_.notify_all();
}

void Event::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = false;
}

void Event::set_pump(EventPump *pump) {
    std::lock_guard<std::mutex> lock(mutex_);
    pump_ = pump;
}

bool Event::wait(uint32_t timeout_ms) {
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (signalled_) {
            signalled_ = false;
            return true;
        }
        const auto now = clock::now();
        if (now >= deadline) return false;
        if (pump_ == nullptr) {
            cond_.wait_until(lock, deadline);
            continue;
        }
        EventPump *pump = pump_;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        lock.unlock();
        pump->pump(left > 0 ? static_cast<uint32_t>(left) : 1u);
        lock.lock();
    }
}

} // namespace zvusb
