#include "usb/driver.h"

#include <mutex>
#include <utility>

namespace zvusb {

namespace {

struct Registry {
    std::mutex mutex;
    std::vector<std::pair<Guid, Driver *>> drivers;
};

// Built on first use, so backends may register from static initialisers in any order.
Registry &registry() {
    static Registry instance;
    return instance;
}

} // namespace

Driver *driver_for_class(const Guid &interface_class) {
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (const auto &entry : r.drivers)
        if (entry.first == interface_class) return entry.second;
    return nullptr;
}

void register_driver(const Guid &interface_class, Driver *driver) {
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (auto &entry : r.drivers)
        if (entry.first == interface_class) {
            entry.second = driver;
            return;
        }
    r.drivers.emplace_back(interface_class, driver);
}

} // namespace zvusb
