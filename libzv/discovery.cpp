// Finding, opening and closing detectors. Interface classes are searched in order (real detectors,
// then simulated ones); within a class every device is opened by index and judged by its USB
// identifiers. A device that cannot be opened (gone, or the user lacks permission) is skipped, and
// the backend's explanation is printed to standard error once, so a detector that is present but
// unusable does not vanish without a word.
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "c_boundary.h"
#include "continuous/device_stream.h"
#include "device_record.h"
#include "errors.h"
#include "identity.h"
#include "usb/qualifying_devices.h"

namespace {

using zvusb::CCyDriverDevice;

// Prints the transport's explanation of a failed open (for example the permission fix), unless
// the same line was printed before: enumeration runs at every open, and the user needs to read
// it once.
void report_open_problem(const CCyDriverDevice &transport) {
    static std::string last_printed;
    const std::string &problem = transport.open_problem;
    if (problem.empty() || problem == last_printed) return;
    last_printed = problem;
    std::fprintf(stderr, "%s\n", problem.c_str());
    std::fflush(stderr);
}

// A record being built or judged; closed (transport included) unless released to the caller.
using Candidate = std::unique_ptr<zv_device, void (*)(zv_device *)>;

// Makes the record for the device `transport` has open; the record takes the transport. Null,
// with the error state set, when the identity read fails (the transport is then closed with the
// record).
Candidate build_record(std::unique_ptr<CCyDriverDevice> &transport, bool has_identity) {
    Candidate dev(new zv_device(), zv_close);
    dev->transport = std::move(transport);
    if (!zv::load_identity(*dev, has_identity)) return Candidate(nullptr, zv_close);
    zv::set_error(zv::Error::success);
    return dev;
}

// The detectors this process holds open, by device path. A second record on one would drive it
// behind the first one's back (its open resets the interface; two collections share one stream
// endpoint), so the walk offers the held record instead of opening the detector again.
std::mutex g_held_mutex;
std::map<std::string, zv_device *> g_held;

void release_held(const zv_device *dev) {
    std::lock_guard<std::mutex> lock(g_held_mutex);
    for (auto it = g_held.begin(); it != g_held.end(); ++it) {
        if (it->second == dev) {
            g_held.erase(it);
            return;
        }
    }
}

// exhausted_held: nothing kept, but a held detector would have been.
enum class Outcome { kept, exhausted, exhausted_held, failed };

struct WalkResult {
    Outcome outcome;
    zv_device *record; // the kept record
};

// Builds a record for each attached detector in search order and offers it to `keep`; the first
// record it keeps ends the walk. Records not kept are released, so when the walk ends only a kept
// record holds a device open. A detector this process holds is offered as its open record, and
// never kept: the walk goes on to the next one, and ends exhausted_held if keep wanted it.
WalkResult walk_detectors(const std::function<bool(const zv_device &)> &keep) {
    bool held_wanted = false;
    for (const zvusb::Guid &interface_class : zvusb::kInterfaceClasses) {
        auto transport = std::make_unique<CCyDriverDevice>(nullptr, interface_class, true);
        uint8_t count = transport->device_count();
        for (uint8_t index = 0; index < count; ++index) {
            const std::string path = transport->device_path(index);
            {
                std::lock_guard<std::mutex> lock(g_held_mutex);
                const auto held = g_held.find(path);
                if (held != g_held.end()) {
                    if (keep(*held->second)) held_wanted = true;
                    continue;
                }
            }
            if (!transport->open_device(index)) {
                // Memory ran out while reading the descriptors: the detector is there, and
                // skipping it would report "no devices found". The C boundary makes this 49.
                if (transport->last_error == zvusb::kErrorNotEnoughMemory) throw std::bad_alloc();
                report_open_problem(*transport);
                continue;
            }
            const zvusb::QualifyingDevice *q =
                zvusb::find_qualifying_device(transport->vendor_id(), transport->product_id());
            if (q == nullptr) continue;
            Candidate dev = build_record(transport, q->has_identity);
            if (!dev) return {Outcome::failed, nullptr};
            if (keep(*dev)) {
                std::lock_guard<std::mutex> lock(g_held_mutex);
                g_held[path] = dev.get();
                return {Outcome::kept, dev.release()};
            }
            // The walk goes on with the candidate's transport.
            transport = std::move(dev->transport);
        }
    }
    return {held_wanted ? Outcome::exhausted_held : Outcome::exhausted, nullptr};
}

zv_device *open_first(const std::function<bool(const zv_device &)> &keep) {
    WalkResult result = walk_detectors(keep);
    if (result.outcome == Outcome::exhausted) zv::set_error(zv::Error::no_devices_found);
    if (result.outcome == Outcome::exhausted_held) zv::set_error(zv::Error::device_already_open);
    return result.record;
}

} // namespace

extern "C" {

zv_device *zv_open(void) {
    return zv::c_value(static_cast<zv_device *>(nullptr),
                       [&] { return open_first([](const zv_device &) { return true; }); });
}

zv_device *zv_open_serial(const char *serial) {
    return zv::c_value(static_cast<zv_device *>(nullptr), [&] {
        if (serial == nullptr) serial = "";
        return open_first([serial](const zv_device &dev) {
            zv_device_info info = zv::summarize(dev);
            return std::strstr(info.serial, serial) != nullptr;
        });
    });
}

int zv_list_devices(zv_device_info *infos, int max) {
    return zv_list_devices_with_speed(infos, nullptr, max);
}

int zv_list_devices_with_speed(zv_device_info *infos, int *usb_speeds, int max) {
    return zv::c_value(ZV_QUERY_FAILED, [&] {
        if (max < 0 || (infos == nullptr && max > 0)) {
            zv::set_error(zv::Error::invalid_parameters);
            return -1;
        }
        int found = 0;
        WalkResult result = walk_detectors([&](const zv_device &dev) {
            if (found < max) {
                infos[found] = zv::summarize(dev);
                if (usb_speeds) usb_speeds[found] = zv_get_usb_speed(const_cast<zv_device *>(&dev));
            }
            ++found;
            return false;
        });
        return result.outcome == Outcome::failed ? -1 : found;
    });
}

void zv_close(zv_device *dev) {
    zv::c_void([&] {
        if (dev == nullptr) return;
        release_held(dev);
        // A stream still running on the detector would go on using the record freed here.
        zv::stop_device_stream(*dev);
        if (dev->transport) {
            // Closing reports a failing handle close by throwing; the device is gone either way and
            // nothing may cross this C interface.
            try {
                dev->transport->close_device();
            } catch (...) {
            }
            dev->transport.reset();
        }
        delete dev;
    });
}

} // extern "C"
