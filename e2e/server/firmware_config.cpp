#include "e2e/server/firmware_config.h"

namespace zve2e {

zvsim::DetectorConfig firmware_config(const Detector &detector, uint32_t samplerate) {
    zvsim::DetectorConfig c;
    c.serial = detector.serial;
    c.firmware = {detector.firmware[0], detector.firmware[1], detector.firmware[2]};
    c.samplerate = samplerate;
    for (size_t k = 0; k < c.calibrations.size(); ++k)
        c.calibrations[k] = {detector.calibrations[k][0], detector.calibrations[k][1]};
    c.vendor = detector.vendor;
    c.product = detector.product;
    c.speed = detector.link == Link::superspeed ? zvsim::Speed::super : zvsim::Speed::high;
    zvsim::validate(c);
    return c;
}

} // namespace zve2e
