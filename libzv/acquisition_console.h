// The diagnostic lines the acquisition engine and its sinks write to standard output. Every line
// ends with a newline except "usb error" and "error status found", which are flushed at once
// instead, so that they show even when a later line never comes.
#pragma once

#include <cstdint>

namespace zv::console {

void overlap_event_failed(int slot);
void start_failed(int slot, uint32_t driver_status);
void wait_failed();
void usb_error();
void error_status_found();
void resubmit_failed(uint32_t driver_status);
void final_wait_failed();
void final_finish_failed();
void data_loss_warning();

} // namespace zv::console
