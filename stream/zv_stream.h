// Processed sample streams of a device, the C++ interface: calibration to optical power, low-pass
// filtering, downsampling and decimation into float or double arrays. This is the one stream
// header a C++ program includes; C programs see a stream only as the opaque pointer of libzv.h.
//
// zv_open_stream_float and zv_open_stream_double (libzv.h) create a stream bound to a device
// (borrowed: it must stay open while the stream is used). A null device fails with 50 "invalid
// device", an allocation failure with 49; both return null. The caller owns the result and
// releases it with delete (or zv_stream_float_close / zv_stream_double_close).
//
// Every operation that returns an int returns 0 on success, else a library error code that is
// also stored as the calling thread's last error (zv_get_error).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "libzv/libzv.h"

// ---- Calibration modes ----

// The device's stored calibration at the stream's wavelength, in the stream's units.
constexpr const char *kCalibrationAuto = "auto";
// Raw ADC codes: scale 1, offset 0.
constexpr const char *kCalibrationNone = "none";
// The scale and offset last given to set_custom_calibration.
constexpr const char *kCalibrationCustom = "custom";

// ---- Settings: the element-type independent face of a stream ----

// Its settings are read and changed through these operations in any state of the stream.
class ZV_API ZVGenericStream {
  public:
    // The device the stream reads from (borrowed; the stream never closes it). May be null for a
    // stream made without a device, which can only simulate and benchmark.
    virtual zv_device *device() = 0;

    // Output sample rate in Hz: the raw rate divided by the downsampling factor. NaN, with the
    // error stored, when the device reports no sample rate (such a stream refuses to run).
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
    // the status of doing so; a value the calibration refuses is not stored (the previous one
    // stays in force).
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

// ---- Supplies: where a run writes its output ----

// A supply hands out blocks of elements and is told how many were written. A block may be of any
// size up to INT32_MAX elements.
template <typename T> class ZV_API ZVStreamSupply {
  public:
    // The next output block; its element count is stored in count.
    virtual T *next_block(int32_t &count) = 0;
    // The per-sample flag array parallel to the block just handed out (count elements), or null.
    virtual uint8_t *flag_block(int32_t count) = 0;
    // Accounts for written elements of the current block; lost is non-zero when raw data were
    // lost since the last call. Returns non-zero while more blocks are wanted.
    virtual int32_t advance(int32_t written, int32_t lost) = 0;

    virtual ~ZVStreamSupply() = default;
};

// ---- Collection: the operations on elements of type T (float or double) ----

template <typename T> class ZV_API ZVStream : public ZVGenericStream {
  public:
    // Collects count processed samples from the device into destination (and, when flags is not
    // null, the port S and T levels of each sample's raw word as 0..3 into flags).
    virtual int acquire(uint64_t count, T *destination, uint8_t *flags) = 0;
    // Collects from the device until the supply wants no more blocks.
    virtual int run(ZVStreamSupply<T> *supply) = 0;
    // Like acquire, fed with a 16-bit ramp instead of the device (no device needed).
    virtual int simulate(uint64_t count, T *destination, uint8_t *flags) = 0;
    // Seconds spent processing repeats raw blocks of 5120 samples into an owned output array of
    // length elements; negative on failure (invalid arguments: error 48; no memory: 49; no
    // processor for the filter mode: its error).
    virtual double benchmark(int32_t length, int32_t repeats, bool with_flags) = 0;

    // ---- Continuous streaming (libzv.h, "Continuous streams") ----
    // Starts continuous acquisition with the settings in force: a fresh processor and the
    // calibration mode applied, the engine on a thread of its own, buffer_seconds (> 0) of raw
    // samples in its ring. While the stream runs, the filter and the downsampling cannot change
    // (57); the calibration can, from any thread, and takes effect at the reader's next piece of
    // samples, noted in the block where it does. A cutoff change reaches the running filter of the
    // "badbutter" modes only (and is noted then); the other filters take it at the next start.
    virtual int start(double buffer_seconds) = 0;
    // Reads the next count processed samples (and their port levels into flags when not null),
    // processing on the calling thread; statuses as zv_raw_stream_read. Positions in the block
    // are output positions (lost samples counted), index / read_samplerate() seconds from start.
    virtual int read(uint64_t count, T *destination, uint8_t *flags, int32_t timeout_ms,
                     zv_block *block) = 0;
    // Stops streaming and leaves the detector idle; stopping a stopped stream does nothing.
    virtual int stop() = 0;
    virtual bool running() = 0;
    // Output samples lost since start.
    virtual uint64_t lost_total() = 0;
};

// ---- A supply that fills one array ----

// Largest block any supply of this library hands out.
constexpr int32_t kSupplyBlockLimit = 131072;

// Fills one caller-owned array (and optionally a parallel flag array) of any length, in blocks of
// at most block_limit elements. Owns nothing.
template <typename T> class SimpleStreamSupply : public ZVStreamSupply<T> {
  public:
    // retry_limit: how many times a reported data loss restarts filling from the beginning.
    SimpleStreamSupply(T *destination, uint8_t *flags, uint64_t total, int32_t retry_limit = 0,
                       int32_t block_limit = kSupplyBlockLimit)
        : retry_limit_(retry_limit), destination_(destination), flags_(flags), total_(total),
          block_limit_(block_limit > 0 ? block_limit : 1) {}

    T *next_block(int32_t &count) override {
        count = static_cast<int32_t>(std::min<uint64_t>(block_limit_, total_ - position_));
        return destination_ ? destination_ + position_ : nullptr;
    }

    uint8_t *flag_block(int32_t) override { return flags_ ? flags_ + position_ : nullptr; }

    int32_t advance(int32_t written, int32_t lost) override {
        if (written > 0) position_ = std::min<uint64_t>(total_, position_ + uint64_t(written));
        if (lost && retries_ < retry_limit_) {
            ++retries_;
            position_ = 0;
        }
        return position_ < total_;
    }

    uint64_t position() const { return position_; }
    int32_t retries() const { return retries_; }

  private:
    int32_t retries_ = 0;
    int32_t retry_limit_;
    T *destination_;
    uint8_t *flags_;
    uint64_t position_ = 0;
    uint64_t total_;
    int32_t block_limit_;
};
