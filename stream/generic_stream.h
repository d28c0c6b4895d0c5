// The element-type independent face of a processed sample stream: its settings, read and changed
// through these operations in any state of the stream. Every operation that returns an int
// returns 0 on success, else a library error code that is also stored as the last error.
#pragma once

#include <cstdint>
#include <string>

#include "libzv/libzv.h"

class ZVGenericStream {
  public:
    // The device the stream reads from (borrowed; the stream never closes it). May be null for a
    // stream made without a device, which can only simulate and benchmark.
    virtual zv_device *device() = 0;

    // Output sample rate in Hz: the raw rate divided by the downsampling factor.
    virtual double read_samplerate() = 0;
    // Bytes per output element: 4 for float streams, 8 for double streams.
    virtual int32_t read_samplesize() = 0;

    // Calibration mode: "auto" (the device's stored calibration at the calibration wavelength,
    // following its gain setting; a stream without a device has none and gives the raw codes),
    // "none" (raw codes) or "custom" (set_custom_calibration). Applying "auto" fails with the
    // library's error when the device gives no calibration (e.g. 48 "wavelength out of range"):
    // the factors then stay as they were, and a run in that mode fails before it starts.
    virtual std::string read_calibration_mode() = 0;
    virtual int set_calibration_mode(const char *mode) = 0;
    virtual int set_calibration_mode(const std::string &mode) = 0;
    // Reads the device's calibration again when the mode is "auto" (e.g. after a gain change).
    virtual int update_auto_calibration() = 0;
    // The current (scale, offset), each rounded to single precision.
    virtual zv_calibration read_calibration() = 0;
    // Sets (scale, offset) and the mode "custom".
    virtual int set_custom_calibration(double scale, double offset) = 0;
    virtual int set_custom_calibration(zv_calibration calibration) = 0;
    // Wavelength in nm at which "auto" evaluates the device's calibration. This setter and
    // set_calibration_units store their value and, in mode "auto", apply it at once, returning
    // the status of doing so.
    virtual double read_calibration_wavelength() = 0;
    virtual int set_calibration_wavelength(double wavelength) = 0;
    // Power-of-ten exponent of the output unit in watts (-6: microwatts).
    virtual int32_t read_calibration_units() = 0;
    virtual int set_calibration_units(int32_t units) = 0;

    // Filter mode name; checked when the next run starts.
    virtual std::string read_filter() = 0;
    virtual int set_filter(const std::string &name) = 0;
    // Cutoff frequency in Hz; also reaches a running "badbutter" filter at its next block. May be
    // called from another thread during a run.
    virtual double read_cutoff() = 0;
    virtual int set_cutoff(double cutoff) = 0;
    // Keep one processed sample in this many.
    virtual int32_t read_downsampling() = 0;
    virtual int set_downsampling(int32_t factor) = 0;
    // Downsampling by factor with an automatic anti-aliasing low pass (0 or 1: no reduction).
    virtual int set_decimation(int32_t factor) = 0;

    virtual ~ZVGenericStream() = default;
};
