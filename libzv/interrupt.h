// Abandoning a blocking call at its caller's request (Ctrl-C in Python). The program installs one
// check (zv_set_interrupt_check); blocking calls poll it on the calling thread while they wait, and
// a call that sees a request stops, leaves the detector idle and returns ZV_ERROR_INTERRUPTED.
#pragma once

#include <cstdint>

#include "libzv.h"

namespace zv {

// How often a waiting call asks the check, in milliseconds: a request is answered well within the
// 200 ms a user at a keyboard tolerates.
constexpr uint32_t kInterruptPollMs = 50;

// Installs the program's check (zv_set_interrupt_check).
void set_interrupt_check(zv_interrupt_check check, void *user);

// Starts a blocking call on this thread: forgets an earlier call's interruption.
void begin_interruptible_call();

// True once the check asked this thread's current call to stop. Cheap enough for every packet:
// the check itself runs at most every kInterruptPollMs, and never on a thread marked with
// ignore_interrupts_on_this_thread.
bool interrupt_requested();

// One C entry point's call on this thread (the C boundary's guards make one). The outermost of
// nested calls begins an interruptible call, so an interruption seen in any step of it (one of
// several requests, say) ends the whole call, and the next call starts afresh.
class InterruptibleCall {
  public:
    InterruptibleCall() noexcept;
    ~InterruptibleCall();
    InterruptibleCall(const InterruptibleCall &) = delete;
    InterruptibleCall &operator=(const InterruptibleCall &) = delete;
};

// Marks the calling thread as one of the library's own (the background acquisition): the check
// belongs to the program's threads and is never called here.
void ignore_interrupts_on_this_thread();

} // namespace zv
