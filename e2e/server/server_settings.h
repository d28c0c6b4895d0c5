// What one server serves, from its command line.
#pragma once

#include <cstdint>
#include <string>

#include "e2e/detectors.h"

namespace zve2e {

struct ServerSettings {
    std::string socket_path;
    const Detector *detector = nullptr;
    uint32_t samplerate = 0; // samples per second streamed
    double pace = 0.95;      // packets are sent at this fraction of the nominal rate
    bool verbose = false;    // log every request
    bool list = false;       // only print the detectors' names
};

// Parses the command line; on a mistake prints the usage and the problem and returns false.
bool parse_server_settings(int argc, char **argv, ServerSettings &settings);

} // namespace zve2e
