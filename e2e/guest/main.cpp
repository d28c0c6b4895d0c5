// zv-e2e-guest: runs inside the virtual machine of the end-to-end test and exercises libzv's
// libusb backend, through the guest's Linux USB stack, on the detectors the usbredir servers
// plug in. It uses the library's C interface only. Exit status 0 when every check passed.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "e2e/guest/steps.h"

namespace {

using namespace zve2e;

// A step that takes longer than this is reported as hanging and the program ends.
constexpr unsigned kStepSeconds = 40;
constexpr int kAttachSeconds = 20;
constexpr size_t kPlainSamples = 100000;

Report report;

void on_watchdog(int) {
    const char *section = report.current_section();
    const char head[] = "  FAIL no answer within the step's time-out in: ";
    (void)!write(STDOUT_FILENO, head, sizeof head - 1);
    (void)!write(STDOUT_FILENO, section, std::strlen(section));
    (void)!write(STDOUT_FILENO, "\nzv-e2e-guest: FAIL (hung)\n", 27);
    _exit(1);
}

void step(const std::string &name) {
    alarm(kStepSeconds);
    report.section(name);
}

std::string on(const Attached &a, const char *what) {
    return format("%s: %s", a.detector->name, what);
}

} // namespace

int main() {
    std::signal(SIGALRM, on_watchdog);
    int major = 0, minor = 0, patch = 0;
    zv_get_version(&major, &minor, &patch);
    std::printf("zv-e2e-guest: libzv %d.%d.%d\n", major, minor, patch);

    step("attach");
    if (!wait_for_detectors(report, kDetectorCount, kAttachSeconds)) {
        std::printf("zv-e2e-guest: FAIL (detectors missing)\n");
        return 1;
    }
    AllDetectors all;
    step("discovery");
    check_discovery(report, all);
    for (const Attached &a : all)
        if (!a.dev) {
            std::printf("zv-e2e-guest: FAIL (%s could not be opened)\n", a.detector->name);
            return 1;
        }
    Attached &high = all[0], &super = all[1], &blank = all[2];

    step(on(high, "vendor requests"));
    check_requests(report, high);
    step(on(high, "features"));
    check_features(report, high);
    step(on(high, "plain collection"));
    check_plain_collection(report, high, kPlainSamples);
    step(on(high, "test patterns"));
    check_test_patterns(report, high);
    step(on(high, "ports"));
    check_ports(report, high);
    step(on(high, "triggered collection"));
    check_triggered_collection(report, high);
    step(on(high, "bursts"));
    check_burst_collection(report, high);
    step(on(high, "pulse"));
    check_pulse_trigger(report, high);
    step(on(high, "reset"));
    check_reset(report, high);
    step(on(high, "calibrations"));
    check_calibrations(report, high);

    step(on(super, "calibrations"));
    check_calibrations(report, super);
    step(on(super, "old-firmware ports"));
    check_old_firmware_ports(report, super);
    step(on(super, "plain collection"));
    check_plain_collection(report, super, kPlainSamples);
    step(on(super, "triggered collection"));
    check_triggered_collection(report, super);
    step(on(super, "pulse"));
    check_pulse_trigger(report, super);
    step(on(super, "data loss"));
    check_data_loss(report, super);
    step(on(super, "unplugged during a collection"));
    check_unplug(report, super, high);

    step(on(blank, "calibrations"));
    check_calibrations(report, blank);

    step("close");
    for (Attached &a : all)
        zv_close(a.dev);
    alarm(0);
    std::printf("zv-e2e-guest: %s (%d checks, %d failed)\n",
                report.failures() == 0 ? "PASS" : "FAIL", report.checks(), report.failures());
    return report.failures() == 0 ? 0 : 1;
}
