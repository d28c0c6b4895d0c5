// The guest's steps, in the order main runs them. Each step opens nothing it does not close,
// except discovery, which leaves every detector open in `all` for the steps after it.
#pragma once

#include "e2e/guest/attached.h"
#include "e2e/guest/report.h"

namespace zve2e {

using AllDetectors = Attached[kDetectorCount];

// Gives up root, as the guest program runs like any program using the library.
bool drop_root(Report &report);
// Before the project's udev rule is installed: the detectors cannot be opened, and the user is
// told how to fix that.
void check_no_access(Report &report, int wait_seconds);

// Waits until the library lists every detector of the table (they are plugged in while the
// guest boots); false after the time-out.
bool wait_for_detectors(Report &report, size_t count, int seconds);

void check_discovery(Report &report, AllDetectors &all);
void check_requests(Report &report, Attached &a);
void check_features(Report &report, Attached &a);
void check_test_patterns(Report &report, Attached &a);
void check_ports(Report &report, Attached &a);
void check_old_firmware_ports(Report &report, Attached &a);
void check_reset(Report &report, Attached &a);
void check_calibrations(Report &report, Attached &a);
void check_plain_collection(Report &report, Attached &a, size_t nsamples);
void check_triggered_collection(Report &report, Attached &a);
void check_burst_collection(Report &report, Attached &a);
void check_pulse_trigger(Report &report, Attached &a);
void check_data_loss(Report &report, Attached &a);
// Unplugs `a` during a collection (its server does), then waits for it to come back; `other`
// stays attached meanwhile.
void check_unplug(Report &report, Attached &a, Attached &other);
// A continuous raw stream of twenty seconds and more, ended by the server unplugging `a`; leaves
// `a` closed.
void check_continuous_read(Report &report, Attached &a);

} // namespace zve2e
