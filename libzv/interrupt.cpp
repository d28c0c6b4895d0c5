#include "interrupt.h"
#include "c_boundary.h"

#include <atomic>
#include <chrono>
#include <mutex>

#include "libzv.h"

namespace zv {
namespace {

using Clock = std::chrono::steady_clock;

struct InstalledCheck {
    zv_interrupt_check check = nullptr;
    void *user = nullptr;
};

// Read and replaced as a whole under the lock, so a poller never pairs one program's check with
// another's user pointer. The flag spares the lock to calls that have nothing to poll.
std::mutex g_check_mutex;
InstalledCheck g_check;
std::atomic<bool> g_installed{false};

InstalledCheck installed_check() {
    std::lock_guard<std::mutex> lock(g_check_mutex);
    return g_check;
}

struct ThreadState {
    bool ignored = false;
    bool interrupted = false;
    int calls = 0; // nested InterruptibleCall scopes
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
    if (!g_installed.load(std::memory_order_acquire)) return false;
    const Clock::time_point now = Clock::now();
    if (now - state.last_poll < std::chrono::milliseconds(kInterruptPollMs)) return false;
    state.last_poll = now;
    const InstalledCheck installed = installed_check();
    state.interrupted = installed.check != nullptr && installed.check(installed.user) != 0;
    return state.interrupted;
}

InterruptibleCall::InterruptibleCall() noexcept {
    if (t_state.calls++ == 0) begin_interruptible_call();
}

InterruptibleCall::~InterruptibleCall() {
    --t_state.calls;
}

void ignore_interrupts_on_this_thread() {
    t_state.ignored = true;
}

void set_interrupt_check(zv_interrupt_check check, void *user) {
    std::lock_guard<std::mutex> lock(g_check_mutex);
    g_check = InstalledCheck{check, user};
    g_installed.store(check != nullptr, std::memory_order_release);
}

} // namespace zv

extern "C" void zv_set_interrupt_check(zv_interrupt_check check, void *user) {
    zv::c_void([&] { zv::set_interrupt_check(check, user); });
}
