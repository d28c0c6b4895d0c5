// The guest program runs as an ordinary user, as programs using the library do. Before the
// project's udev rule is installed the detectors' device nodes belong to root: opening must fail
// with the explanation that names the fix, and nothing may be listed.
#include <cstdio>
#include <dirent.h>
#include <grp.h>
#include <string>
#include <unistd.h>

#include "e2e/guest/captured_stderr.h"
#include "e2e/guest/steps.h"

namespace zve2e {

namespace {

constexpr uid_t kNobody = 65534;
constexpr useconds_t kPollMicros = 200000;

unsigned read_hex(const std::string &path) {
    unsigned value = 0;
    if (FILE *f = std::fopen(path.c_str(), "r")) {
        if (std::fscanf(f, "%x", &value) != 1) value = 0;
        std::fclose(f);
    }
    return value;
}

// Detectors of the table on the guest's USB bus, as the kernel lists them (the library cannot see
// them without access).
size_t detectors_on_bus() {
    size_t count = 0;
    DIR *dir = opendir("/sys/bus/usb/devices");
    if (!dir) return 0;
    while (dirent *entry = readdir(dir)) {
        const std::string base = std::string("/sys/bus/usb/devices/") + entry->d_name + "/";
        const unsigned vendor = read_hex(base + "idVendor"), product = read_hex(base + "idProduct");
        for (const Detector &d : kDetectors)
            if (d.vendor == vendor && d.product == product) ++count;
    }
    closedir(dir);
    return count;
}

} // namespace

bool drop_root(Report &report) {
    if (getuid() != 0) return true;
    const bool ok = setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0;
    return report.check(ok, "running as an ordinary user", format("uid %d", int(getuid())));
}

void check_no_access(Report &report, int wait_seconds) {
    size_t seen = 0;
    for (int tries = 0; tries < wait_seconds * 5 && seen < kDetectorCount; ++tries) {
        seen = detectors_on_bus();
        if (seen < kDetectorCount) usleep(kPollMicros);
    }
    report.check(seen == kDetectorCount, "detectors on the bus",
                 format("%zu of %zu", seen, kDetectorCount));
    zv_device *dev = nullptr;
    const std::string said = captured_stderr([&dev] { dev = zv_open(); });
    report.check(dev == nullptr && zv_get_error() == 0, "no detector opens without access",
                 last_error());
    zv_close(dev);
    report.check(said.find("permission denied") != std::string::npos &&
                     said.find("udev rule") != std::string::npos,
                 "the user is told how to get access", said);
    int listed = -1;
    captured_stderr([&listed] { listed = zv_list_devices(nullptr, 0); });
    report.check(listed == 0, "nothing is listed without access", format("%d listed", listed));
}

} // namespace zve2e
