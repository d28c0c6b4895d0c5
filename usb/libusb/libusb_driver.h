// The driver for real detectors (interface class 1): lists the attached devices whose vendor and
// product identifiers qualify, as paths "usb:BUS:ADDRESS", and opens them through libusb. A
// detector this program holds open already is refused as busy without an open problem: a walk
// over the detectors passes it by quietly, where libusb alone would report it as held by another
// program.
#pragma once

#include <memory>
#include <set>
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
    // Paths of the devices open in this program; shared with their handles, which may outlive
    // the driver at exit.
    std::shared_ptr<std::set<std::string>> held_ = std::make_shared<std::set<std::string>>();
};

// The driver instance registered for the primary interface class.
LibusbDriver &libusb_driver();

} // namespace zvusb
