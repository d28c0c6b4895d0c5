// The simulator as the driver of the second interface class: it lists the attached simulated
// detectors and opens one as a record handle over its in-process adapter.
#include <memory>
#include <string>
#include <vector>

#include "sim/sim_backend_device.h"
#include "sim/simulator.h"
#include "usb/driver.h"
#include "usb/record_driver_handle.h"
#include "usb/system_errors.h"

namespace zvsim {

namespace {

class SimDriver : public zvusb::Driver {
  public:
    const char *name() const override { return "simulator"; }

    std::vector<std::string> device_paths() override {
        std::vector<std::string> paths;
        for (const auto &detector : devices())
            paths.push_back(detector->path());
        return paths;
    }

    std::unique_ptr<zvusb::DriverHandle> open(const std::string &path, uint32_t *error) override {
        auto detector = find_attached(path);
        if (!detector) {
            if (error) *error = zvusb::kErrorFileNotFound;
            return nullptr;
        }
        if (error) *error = zvusb::kErrorSuccess;
        return std::make_unique<zvusb::RecordDriverHandle>(
            std::make_unique<SimBackendDevice>(std::move(detector)));
    }
};

SimDriver driver;
zvusb::DriverRegistration registration(zvusb::kInterfaceClassSecondary, &driver);

} // namespace

} // namespace zvsim
