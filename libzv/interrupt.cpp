#include "interrupt.h"

#include <atomic>
#include <chrono>

#include "libzv.h"

namespace zv {
namespace {

using Clock = std::chrono::steady_clock;

struct InstalledCheck {
    zv_interrupt_check check;
    void *user;
};

// Replaced as a whole, so a poller never pairs one program's check with another's user pointer.
std::atomic<const InstalledCheck *> g_check{nullptr};

struct ThreadState {
    bool ignored = false;
    bool interrupted = false;
    Clock::time_point last_poll = Clock::now();
};
thread_local ThreadState t_state;

} // namespace

void begin_interruptible_call() {
    t_state.interrupted = false;
    t_state.last_poll = Clock::now();
}

bool interrupt_requested() {
    ThreadState &state = t_state;
    if (state.interrupted) return true;
    if (state.ignored) return false;
    const InstalledCheck *installed = g_check.load(std::memory_order_acquire);
    if (installed == nullptr) return false;
    const Clock::time_point now = Clock::now();
    if (now - state.last_poll < std::chrono::milliseconds(kInterruptPollMs)) return false;
    state.last_poll = now;
    state.interrupted = installed->check(installed->user) != 0;
    return state.interrupted;
}

void ignore_interrupts_on_this_thread() {
    t_state.ignored = true;
}

void set_interrupt_check(zv_interrupt_check check, void *user) {
    // Installed checks are kept for the life of the process: a poller on another thread may still
    // hold the previous one.
    const InstalledCheck *installed = check ? new InstalledCheck{check, user} : nullptr;
    g_check.store(installed, std::memory_order_release);
}

} // namespace zv

extern "C" void zv_set_interrupt_check(zv_interrupt_check check, void *user) {
    zv::set_interrupt_check(check, user);
}
