#include "simulated_detector.h"

#include <exception>

#include "sim/simulator.h"

int attach_simulated_detector(void) {
    try {
        zvsim::attach(zvsim::DetectorConfig{});
        return 0;
    } catch (const std::exception &) {
        return -1;
    }
}

void detach_simulated_detectors(void) {
    zvsim::detach_all();
}
