// zv-e2e-guest: runs inside the virtual machine of the end-to-end test and exercises libzv's
// libusb backend, through the guest's Linux USB stack, on the detectors the usbredir servers
// plug in. It uses the library's C interface only. Exit status 0 when every check passed.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <unistd.h>

#include "e2e/guest/steps.h"

namespace {

using namespace zve2e;

// A step that takes longer than this is reported as hanging and the program ends (the
// continuous read streams for twenty seconds and more).
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

struct Step {
    Attached &on;
    const char *name;
    std::function<void(Report &, Attached &)> run;
};

void check_plain(Report &r, Attached &a) {
    check_plain_collection(r, a, kPlainSamples);
}

int finish() {
    alarm(0);
    std::printf("zv-e2e-guest: %s (%d checks, %d failed)\n",
                report.failures() == 0 ? "PASS" : "FAIL", report.checks(), report.failures());
    return report.failures() == 0 ? 0 : 1;
}

} // namespace

// Usage: zv-e2e-guest [--no-access]
//   --no-access: only check that detectors the user may not open are reported as such.
int main(int argc, char **argv) {
    std::signal(SIGALRM, on_watchdog);
    int major = 0, minor = 0, patch = 0;
    zv_get_version(&major, &minor, &patch);
    std::printf("zv-e2e-guest: libzv %d.%d.%d\n", major, minor, patch);
    step("user");
    if (!drop_root(report)) return finish();
    if (argc > 1 && std::strcmp(argv[1], "--no-access") == 0) {
        step("without access to the detectors");
        check_no_access(report, kAttachSeconds);
        return finish();
    }

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
    // The table's order: high speed, SuperSpeed, unprogrammed.
    Attached &high = all[0], &super = all[1], &blank = all[2];
    const Step steps[] = {
        {high, "vendor requests", check_requests},
        {high, "features", check_features},
        {high, "plain collection", check_plain},
        {high, "test patterns", check_test_patterns},
        {high, "ports", check_ports},
        {high, "triggered collection", check_triggered_collection},
        {high, "bursts", check_burst_collection},
        {high, "pulse", check_pulse_trigger},
        {high, "reset", check_reset},
        {high, "calibrations", check_calibrations},
        {super, "calibrations", check_calibrations},
        {super, "old-firmware ports", check_old_firmware_ports},
        // The order of the collections on this detector places its server's events.
        {super, "plain collection", check_plain},
        {super, "triggered collection", check_triggered_collection},
        {super, "pulse", check_pulse_trigger},
        {super, "data loss", check_data_loss},
        {super, "unplugged during a collection",
         [&high](Report &r, Attached &a) { check_unplug(r, a, high); }},
        {blank, "calibrations", check_calibrations},
        // Last: it leaves the high-speed detector unplugged.
        {high, "continuous read, unplugged after twenty seconds", check_continuous_read},
    };
    for (const Step &s : steps) {
        step(format("%s: %s", s.on.detector->name, s.name));
        s.run(report, s.on);
    }

    step("close");
    for (Attached &a : all)
        zv_close(a.dev); // null for a detector a step left closed
    return finish();
}
