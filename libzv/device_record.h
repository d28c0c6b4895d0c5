// The record of one opened detector: the transport that reaches it and what was read from it at
// open. Created by zv_open / zv_open_serial, released by zv_close.
#pragma once

#include <memory>
#include <mutex>

#include "libzv.h"
#include "usb/cy_device.h"

namespace zv {
class ContinuousAcquisition;
}

struct zv_device {
    // The opened device; its control endpoint carries every vendor request.
    std::unique_ptr<zvusb::CCyDriverDevice> transport;
    // The 72-byte identity block (all zero for the unprogrammed device).
    zv_identity identity;
    // "HLM25 ..." composed at open; always zero-terminated.
    char product[32];
    // The identity's serial text with a terminator: the block holds 15 characters and no
    // terminator when all 15 are used, so every reader of the serial uses this copy.
    char serial[16];
    // The control endpoint object is loaded with each request in turn: requests from different
    // threads (a live view changing the gain while a recorder notes it) take turns.
    std::mutex control_mutex;
    // The continuous acquisition streaming from the detector, or null, and whether a one-shot
    // collection runs (device_stream.h): the detector has one stream endpoint.
    std::mutex stream_mutex;
    zv::ContinuousAcquisition *stream = nullptr;
    bool collecting = false;
};
