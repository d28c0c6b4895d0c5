// The driver for real detectors (interface class 1): lists the attached devices whose vendor and
// product identifiers qualify, as paths "usb:BUS:ADDRESS", and opens them through libusb.
#pragma once

#include <string>
#include <vector>

#include "usb/driver.h"

namespace zvusb {

class LibusbDriver : public Driver {
  public:
    const char *name() const override { return "libusb"; }
    std::vector<std::string> device_paths() override;
    std::unique_ptr<DriverHandle> open(const std::string &path, uint32_t *error) override;
    std::string last_open_problem() const override { return problem_; }

  private:
    std::string problem_;
};

// The driver instance registered for the primary interface class.
LibusbDriver &libusb_driver();

} // namespace zvusb
