// An auto-reset event with timed waits: the completion signal of one asynchronous driver request.
//
// A backend that has no threads of its own (libusb) completes requests only while somebody waits,
// so an event may carry a pump: while a waiter has no signal yet it lets the pump make progress
// (handle USB events) instead of sleeping. Backends install their pump when they accept a request.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace zvusb {

class EventPump {
  public:
    virtual ~EventPump() = default;
    // Makes progress on in-flight requests, returning after at most timeout_ms, or earlier once
    // some request completed. Called without any event lock held.
    virtual void pump(uint32_t timeout_ms) = 0;
};

class Event {
  public:
    Event() = default;
    Event(const Event &) = delete;
    Event &operator=(const Event &) = delete;

    // Signals the event; one waiter (present or future) consumes the signal.
    void set();
    // Clears a pending signal.
    void reset();
    // Waits up to timeout_ms for the signal and consumes it; false on time-out.
    bool wait(uint32_t timeout_ms);

    void set_pump(EventPump *pump);

  private:
    std::mutex mutex_;
    std::condition_variable cond_;
    bool signalled_ = false;
    EventPump *pump_ = nullptr;
};

} // namespace zvusb
