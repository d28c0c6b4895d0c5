#include "stream/stream_impl.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>

#include "libzv/acquisition_console.h"
#include "libzv/acquisition_memory.h"
#include "libzv/errors.h"
#include "stream/auto_calibration.h"
#include "stream/calibrate.h"
#include "stream/filter_modes.h"

namespace {

// Nyquist fraction of the default cutoff.
constexpr double kDefaultCutoffFraction = 0.5;
// Decimation's anti-aliasing cutoff, as a fraction of the raw rate over the factor.
constexpr double kDecimationCutoffFraction = 0.4;

double device_samplerate(zv_device *device) {
    return device ? static_cast<double>(zv_get_samplerate(device))
                  : ZVStreamImpl<float>::kDefaultSamplerate;
}

double device_wavelength(zv_device *device) {
    return device ? static_cast<double>(zv_get_peak_responsivity(device))
                  : ZVStreamImpl<float>::kDefaultWavelength;
}

// The port levels of each raw word: bit 0 port S, bit 1 port T.
inline void copy_port_levels(const uint16_t *raw, int32_t count, uint8_t *flags) {
    for (int32_t i = 0; i < count; ++i)
        flags[i] = static_cast<uint8_t>(raw[i] >> kPortBitsShift);
}

// A 16-bit ramp continuing from base, wrapping at 65536.
template <size_t N> void fill_ramp(std::array<uint16_t, N> &block, uint16_t base) {
    for (size_t i = 0; i < N; ++i)
        block[i] = static_cast<uint16_t>(base + i);
}

// A supply that owns one block and hands it out forever: output is overwritten block after
// block. benchmark measures processing speed with it without keeping the results.
template <typename T> class NoSupply : public ZVStreamSupply<T> {
  public:
    // Throws std::bad_alloc when the arrays cannot be allocated. length must be positive: an
    // empty block would never let the stream move on.
    NoSupply(int32_t length, bool with_flags)
        : length_(length), block_(new T[length]),
          flags_(with_flags ? new uint8_t[length] : nullptr) {}

    T *next_block(int32_t &count) override {
        count = length_;
        return block_.get();
    }
    uint8_t *flag_block(int32_t) override { return flags_.get(); }
    int32_t advance(int32_t, int32_t) override { return 1; }

  private:
    int32_t length_;
    std::unique_ptr<T[]> block_;
    std::unique_ptr<uint8_t[]> flags_;
};

// Rounds to single precision and back. Kept out of line: GCC 12's SLP vectoriser drops the
// rounding when it pairs two of these conversions (read_calibration would return the doubles).
[[gnu::noinline]] double single_precision(double value) {
    return static_cast<float>(value);
}

} // namespace

template <typename T>
ZVStreamImpl<T>::ZVStreamImpl(zv_device *device)
    : device_(device), samplerate_(device_samplerate(device)), calibration_mode_(kCalibrationAuto),
      calibration_wavelength_(device_wavelength(device)), filter_mode_(kFilterNone),
      cutoff_(samplerate_ * kDefaultCutoffFraction), scratch_(new T[kScratchCapacity]) {}

// ---- Settings ----

template <typename T> double ZVStreamImpl<T>::read_samplerate() {
    return samplerate_ / state_.downsampling;
}

template <typename T> int ZVStreamImpl<T>::set_calibration_mode(const char *mode) {
    if (!mode) return zv::set_error(zv::Error::invalid_calibration_mode);
    return set_calibration_mode(std::string(mode));
}

template <typename T> int ZVStreamImpl<T>::set_calibration_mode(const std::string &mode) {
    const int status = apply_calibration(mode);
    if (status == 0) calibration_mode_ = mode;
    return status;
}

template <typename T> int ZVStreamImpl<T>::update_auto_calibration() {
    return calibration_mode_ == kCalibrationAuto ? apply_calibration(calibration_mode_) : 0;
}

template <typename T> zv_calibration ZVStreamImpl<T>::read_calibration() {
    return {single_precision(state_.calibration_scale),
            single_precision(state_.calibration_offset)};
}

template <typename T> int ZVStreamImpl<T>::set_custom_calibration(double scale, double offset) {
    state_.calibration_scale = static_cast<T>(scale);
    state_.calibration_offset = static_cast<T>(offset);
    calibration_mode_ = kCalibrationCustom;
    return 0;
}

template <typename T> int ZVStreamImpl<T>::set_custom_calibration(zv_calibration calibration) {
    return set_custom_calibration(calibration.gain, calibration.offset);
}

template <typename T> int ZVStreamImpl<T>::set_calibration_wavelength(double wavelength) {
    calibration_wavelength_ = wavelength;
    return update_auto_calibration();
}

template <typename T> int ZVStreamImpl<T>::set_calibration_units(int32_t units) {
    calibration_units_ = units;
    return update_auto_calibration();
}

template <typename T> int ZVStreamImpl<T>::apply_calibration(const std::string &mode) {
    if (mode == kCalibrationAuto)
        return read_auto_calibration(device_, calibration_wavelength_, calibration_units_,
                                     state_.calibration_scale, state_.calibration_offset);
    if (mode == kCalibrationNone) {
        state_.calibration_scale = 1;
        state_.calibration_offset = 0;
        return 0;
    }
    if (mode == kCalibrationCustom) return 0;
    return zv::set_error(zv::Error::invalid_calibration_mode);
}

template <typename T> int ZVStreamImpl<T>::set_filter(const std::string &name) {
    filter_mode_ = name;
    return 0;
}

template <typename T> double ZVStreamImpl<T>::read_cutoff() {
    std::lock_guard<std::mutex> lock(processor_mutex_);
    return cutoff_;
}

template <typename T> int ZVStreamImpl<T>::set_cutoff(double cutoff) {
    std::lock_guard<std::mutex> lock(processor_mutex_);
    cutoff_ = cutoff;
    if (processor_) processor_->set_params(samplerate_, cutoff);
    return 0;
}

template <typename T> int ZVStreamImpl<T>::set_downsampling(int32_t factor) {
    if (factor < 1) {
        state_.downsampling = 1;
        return zv::set_error(zv::Error::invalid_downsampling_factor);
    }
    state_.downsampling = factor;
    return 0;
}

template <typename T> int ZVStreamImpl<T>::set_decimation(int32_t factor) {
    if (factor < 0) return zv::set_error(zv::Error::invalid_decimation_factor);
    if (factor < 2) {
        this->set_filter(kFilterNone);
        return this->set_downsampling(1);
    }
    this->set_downsampling(factor);
    this->set_cutoff(samplerate_ * kDecimationCutoffFraction / factor);
    return this->set_filter(kDecimationFilter);
}

// ---- Runs ----

template <typename T> int ZVStreamImpl<T>::prepare(ZVStreamSupply<T> *supply) {
    running_ = 1;
    supply_ = supply;
    supply_failed_ = false;
    lost_ = 0;
    out_block_ = nullptr;
    flag_block_ = nullptr;
    out_position_ = 0;
    out_capacity_ = 0;
    state_.phase = 0;
    {
        std::lock_guard<std::mutex> lock(processor_mutex_);
        processor_.reset();
        const int status = make_processor(filter_mode_, state_, samplerate_, cutoff_, processor_);
        if (status != 0) return status;
    }
    return apply_calibration(calibration_mode_);
}

template <typename T> void ZVStreamImpl<T>::fetch_block() {
    int32_t capacity = 0;
    out_block_ = supply_->next_block(capacity);
    flag_block_ = supply_->flag_block(capacity);
    out_position_ = 0;
    // A null pointer is fine for an empty block: nothing is written through it.
    if (capacity < 0 || (!out_block_ && capacity > 0)) {
        std::printf("outbuffer n less than 0\n");
        std::fflush(stdout);
        running_ = 0;
        supply_failed_ = true;
        capacity = 0;
    }
    out_capacity_ = capacity;
}

template <typename T> int ZVStreamImpl<T>::process_raw(const uint16_t *raw, int count, int lost) {
    if (!supply_ || !processor_) return 0;
    // A loss is never silent: the user is told at once, and the supply with the block the gap
    // falls in, even when that block fills in a later call.
    if (lost && running_) {
        zv::console::data_loss_warning();
        lost_ = 1;
    }
    if (!out_block_ && running_) fetch_block();
    while (count > 0 && running_) {
        const int32_t room = out_capacity_ - out_position_;
        int32_t used;
        if (state_.downsampling < 2) {
            used = std::min(room, count);
            processor_->process(used, raw, out_block_ + out_position_);
            if (flag_block_) copy_port_levels(raw, used, flag_block_ + out_position_);
            out_position_ += used;
        } else {
            // Process no further than the raw sample that fills the block's last place.
            const int64_t step = state_.downsampling;
            const int64_t to_fill = room > 0 ? state_.phase + (room - 1) * step + 1 : 0;
            used = static_cast<int32_t>(std::min<int64_t>({count, kScratchCapacity, to_fill}));
            processor_->process(used, raw, scratch_.get());
            int64_t k = state_.phase;
            for (; k < used; k += step) {
                out_block_[out_position_] = scratch_[k];
                if (flag_block_)
                    flag_block_[out_position_] = static_cast<uint8_t>(raw[k] >> kPortBitsShift);
                ++out_position_;
            }
            state_.phase = static_cast<int32_t>(k - used);
        }
        if (out_position_ >= out_capacity_) {
            const int32_t more = supply_->advance(out_capacity_, lost_);
            lost_ = 0;
            running_ = more > 0;
            if (running_) {
                fetch_block();
                // An empty block for a supply that still wants more would never let the run
                // move on.
                if (out_capacity_ == 0) {
                    running_ = 0;
                    supply_failed_ = true;
                }
            } else {
                out_block_ = nullptr;
                flag_block_ = nullptr;
                out_position_ = 0;
                out_capacity_ = 0;
            }
        }
        raw += used;
        count -= used;
    }
    return running_;
}

template <typename T>
int ZVStreamImpl<T>::sink(const uint16_t *raw, int count, int lost, void *user) {
    return static_cast<ZVStreamImpl<T> *>(user)->process_raw(raw, count, lost);
}

template <typename T> int ZVStreamImpl<T>::finish_run(int status) {
    const bool failed = supply_failed_;
    supply_ = nullptr;
    out_block_ = nullptr;
    flag_block_ = nullptr;
    out_position_ = 0;
    out_capacity_ = 0;
    running_ = 0;
    if (status == 0 && failed) return zv::set_error(zv::Error::invalid_parameters);
    return status;
}

template <typename T> int ZVStreamImpl<T>::run(ZVStreamSupply<T> *supply) {
    if (!supply) return zv::set_error(zv::Error::invalid_parameters);
    if (!device_) return zv::set_error(zv::Error::invalid_device);
    const int status = prepare(supply);
    if (status != 0) return finish_run(status);
    return finish_run(zv_collect(device_, &ZVStreamImpl::sink, this));
}

// A run writes every element of the destination; huge pages spare most first-touch page faults
// of a fresh array, which otherwise cost more than the processing.
template <typename T> static void advise_destination(T *destination, uint64_t count) {
    if (count <= SIZE_MAX / sizeof(T))
        zv::advise_huge_pages(destination, size_t(count) * sizeof(T));
}

template <typename T> int ZVStreamImpl<T>::acquire(uint64_t count, T *destination, uint8_t *flags) {
    if (count > 0 && !destination) return zv::set_error(zv::Error::invalid_parameters);
    advise_destination(destination, count);
    SimpleStreamSupply<T> supply(destination, flags, count);
    return run(&supply);
}

template <typename T>
int ZVStreamImpl<T>::simulate(uint64_t count, T *destination, uint8_t *flags) {
    if (count > 0 && !destination) return zv::set_error(zv::Error::invalid_parameters);
    advise_destination(destination, count);
    SimpleStreamSupply<T> supply(destination, flags, count);
    const int status = prepare(&supply);
    if (status != 0) return finish_run(status);
    std::array<uint16_t, kSyntheticBlock> block;
    uint16_t base = 0;
    while (true) {
        fill_ramp(block, base);
        if (!process_raw(block.data(), kSyntheticBlock, 0)) break;
        base = static_cast<uint16_t>(base + kSyntheticBlock);
    }
    return finish_run(0);
}

template <typename T>
double ZVStreamImpl<T>::benchmark(int32_t length, int32_t repeats, bool with_flags) {
    constexpr double kFailed = -1.0;
    if (length <= 0 || repeats < 0) {
        zv::set_error(zv::Error::invalid_parameters);
        return kFailed;
    }
    std::unique_ptr<NoSupply<T>> supply;
    try {
        supply = std::make_unique<NoSupply<T>>(length, with_flags);
    } catch (const std::bad_alloc &) {
        zv::set_error(zv::Error::out_of_memory);
        return kFailed;
    }
    if (prepare(supply.get()) != 0) {
        finish_run(0);
        return kFailed;
    }
    std::array<uint16_t, kSyntheticBlock> block;
    fill_ramp(block, 0);
    const auto start = std::chrono::steady_clock::now();
    for (int32_t r = 0; r < repeats; ++r)
        process_raw(block.data(), kSyntheticBlock, 0);
    const auto stop = std::chrono::steady_clock::now();
    finish_run(0);
    return std::chrono::duration<double>(stop - start).count();
}

template class ZVStreamImpl<float>;
template class ZVStreamImpl<double>;
