#include "stream/stream_impl.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "libzv/acquisition_console.h"
#include "libzv/acquisition_memory.h"
#include "libzv/continuous/device_stream.h"
#include "libzv/errors.h"
#include "libzv/setting_names.h"
#include "stream/auto_calibration.h"
#include "stream/calibrate.h"
#include "stream/filter_modes.h"

namespace {

// Ring of a one-shot acquisition, in seconds of raw samples: what it needs, within these bounds.
constexpr double kAcquireBufferSeconds = 1.0;
constexpr double kAcquireMinimumSeconds = 0.001;
// Raw samples processed at a time without downsampling: the outputs stay in the caches.
constexpr int64_t kSpanLimit = 65536;
// Nyquist fraction of the default cutoff.
constexpr double kDefaultCutoffFraction = 0.5;
// Decimation's anti-aliasing cutoff, as a fraction of the raw rate over the factor.
constexpr double kDecimationCutoffFraction = 0.4;

double device_samplerate(zv_device *device) {
    if (!device) return ZVStreamImpl<float>::kDefaultSamplerate;
    const uint32_t rate = zv_get_samplerate(device);
    return rate == ZV_SAMPLERATE_NOT_SET ? std::nan("") : static_cast<double>(rate);
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
    if (check_samplerate() != 0) return samplerate_;
    return samplerate_ / state_.downsampling;
}

template <typename T> int ZVStreamImpl<T>::check_samplerate() const {
    return std::isnan(samplerate_) ? zv::set_error(zv::Error::no_samplerate) : 0;
}

template <typename T> int ZVStreamImpl<T>::set_calibration_mode(const char *mode) {
    if (!mode) return zv::set_error(zv::Error::invalid_calibration_mode);
    return set_calibration_mode(std::string(mode));
}

template <typename T> int ZVStreamImpl<T>::set_calibration_mode(const std::string &mode) {
    return change_calibration([&] {
        const int status = apply_calibration(mode);
        if (status == 0) calibration_mode_ = mode;
        return status;
    });
}

template <typename T> int ZVStreamImpl<T>::update_auto_calibration() {
    return change_calibration([&] {
        return calibration_mode_ == kCalibrationAuto ? apply_calibration(calibration_mode_) : 0;
    });
}

template <typename T>
template <typename Change>
int ZVStreamImpl<T>::change_calibration(Change &&change) {
    std::lock_guard<std::mutex> lock(settings_mutex_);
    const T scale = state_.calibration_scale;
    const T offset = state_.calibration_offset;
    const int status = change();
    if (state_.calibration_scale != scale)
        note_change(zv::change::kCalibrationGain, state_.calibration_scale);
    if (state_.calibration_offset != offset)
        note_change(zv::change::kCalibrationOffset, state_.calibration_offset);
    return status;
}

template <typename T> zv_calibration ZVStreamImpl<T>::read_calibration() {
    return {single_precision(state_.calibration_scale),
            single_precision(state_.calibration_offset)};
}

template <typename T> int ZVStreamImpl<T>::set_custom_calibration(double scale, double offset) {
    return change_calibration([&] {
        state_.calibration_scale = static_cast<T>(scale);
        state_.calibration_offset = static_cast<T>(offset);
        calibration_mode_ = kCalibrationCustom;
        return 0;
    });
}

template <typename T> int ZVStreamImpl<T>::set_custom_calibration(zv_calibration calibration) {
    return set_custom_calibration(calibration.gain, calibration.offset);
}

// A wavelength or unit the device's calibration refuses (in mode "auto") is not kept: the
// previous one stays in force, with the factors it gave.
template <typename T>
template <typename Value>
int ZVStreamImpl<T>::change_auto_input(Value &input, Value value, const char *change_name) {
    return change_calibration([&] {
        const Value previous = input;
        input = value;
        const int status =
            calibration_mode_ == kCalibrationAuto ? apply_calibration(calibration_mode_) : 0;
        if (status != 0)
            input = previous;
        else
            note_change(change_name, value);
        return status;
    });
}

template <typename T> int ZVStreamImpl<T>::set_calibration_wavelength(double wavelength) {
    return change_auto_input(calibration_wavelength_, wavelength,
                             zv::change::kCalibrationWavelength);
}

template <typename T> int ZVStreamImpl<T>::set_calibration_units(int32_t units) {
    return change_auto_input(calibration_units_, units, zv::change::kCalibrationUnits);
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
    // A running processor is built from the filter mode: changing it means a restart.
    if (streaming()) return zv::set_error(zv::Error::stream_setting_locked);
    filter_mode_ = name;
    return 0;
}

template <typename T> double ZVStreamImpl<T>::read_cutoff() {
    std::lock_guard<std::mutex> lock(processor_mutex_);
    return cutoff_;
}

template <typename T> int ZVStreamImpl<T>::set_cutoff(double cutoff) {
    std::lock_guard<std::mutex> settings(settings_mutex_);
    std::lock_guard<std::mutex> lock(processor_mutex_);
    cutoff_ = cutoff;
    // Noted in the samples only where the running filter takes it; the others keep their design
    // until the next start.
    if (processor_ && processor_->set_params(samplerate_, cutoff))
        note_change(zv::change::kCutoff, cutoff);
    return 0;
}

template <typename T> int ZVStreamImpl<T>::set_downsampling(int32_t factor) {
    // Output positions count in units of the downsampling factor: it stays while streaming.
    if (streaming()) return zv::set_error(zv::Error::stream_setting_locked);
    if (factor < 1) {
        state_.downsampling = 1;
        return zv::set_error(zv::Error::invalid_downsampling_factor);
    }
    state_.downsampling = factor;
    return 0;
}

template <typename T> int ZVStreamImpl<T>::set_decimation(int32_t factor) {
    if (streaming()) return zv::set_error(zv::Error::stream_setting_locked);
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
    return prepare_processing();
}

template <typename T> int ZVStreamImpl<T>::prepare_processing() {
    if (int status = check_samplerate()) return status;
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
        const Span span = process_span(raw, count, out_block_ + out_position_,
                                       flag_block_ ? flag_block_ + out_position_ : nullptr,
                                       out_capacity_ - out_position_);
        const int32_t used = int32_t(span.raw);
        out_position_ += int32_t(span.written);
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
typename ZVStreamImpl<T>::Span ZVStreamImpl<T>::process_span(const uint16_t *raw, int64_t count,
                                                             T *out, uint8_t *flags, int64_t room) {
    Span span{0, 0};
    while (count > 0 && room > 0) {
        int32_t used;
        if (state_.downsampling < 2) {
            used = static_cast<int32_t>(std::min<int64_t>({room, count, kSpanLimit}));
            processor_->process(used, raw, out);
            if (flags) copy_port_levels(raw, used, flags);
            out += used;
            if (flags) flags += used;
            room -= used;
            span.written += used;
        } else {
            // Process no further than the raw sample that fills the last place.
            const int64_t step = state_.downsampling;
            const int64_t to_fill = state_.phase + (room - 1) * step + 1;
            used = static_cast<int32_t>(std::min<int64_t>({count, kScratchCapacity, to_fill}));
            processor_->process(used, raw, scratch_.get());
            int64_t k = state_.phase;
            for (; k < used; k += step) {
                *out++ = scratch_[k];
                if (flags) *flags++ = static_cast<uint8_t>(raw[k] >> kPortBitsShift);
                --room;
                ++span.written;
            }
            state_.phase = static_cast<int32_t>(k - used);
        }
        raw += used;
        count -= used;
        span.raw += used;
    }
    return span;
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
    if (streaming()) return zv::set_error(zv::Error::device_streaming);
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
    if (!device_) return zv::set_error(zv::Error::invalid_device);
    if (streaming() || zv::device_streaming(*device_))
        return zv::set_error(zv::Error::device_streaming);
    if (int status = check_samplerate()) return status;
    advise_destination(destination, count);
    // The engine runs on its own thread while this one processes: the two cores work in parallel.
    // The ring holds what the acquisition needs, up to kAcquireBufferSeconds.
    const double raw_needed = double(count) * std::max(state_.downsampling, 1);
    int status =
        start(std::clamp(raw_needed / samplerate_, kAcquireMinimumSeconds, kAcquireBufferSeconds));
    if (status != 0) return status;
    announce_losses_ = true;
    zv_block block;
    status = read(count, destination, flags, -1, &block);
    announce_losses_ = false;
    stop();
    // A finished acquire reports its own status: stopping is no failure of it.
    if (status == 0) zv::set_error(zv::Error::success);
    return status;
}

template <typename T>
int ZVStreamImpl<T>::simulate(uint64_t count, T *destination, uint8_t *flags) {
    if (count > 0 && !destination) return zv::set_error(zv::Error::invalid_parameters);
    // The processor and its state belong to the running stream's reader.
    if (streaming()) return zv::set_error(zv::Error::device_streaming);
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
    if (streaming()) {
        zv::set_error(zv::Error::device_streaming);
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

// ---- Continuous streaming ----

// Hands the acquisition's pieces to the stream's processing, writing into the caller's arrays,
// and translates gaps and changes from raw positions into output positions.
template <typename T> class ZVStreamImpl<T>::ContinuousConsumer final : public zv::PieceConsumer {
  public:
    ContinuousConsumer(ZVStreamImpl &stream, T *out, uint8_t *flags)
        : stream_(stream), out_(out), flags_(flags) {}

    void on_gap(const zv_gap &gap, zv::BlockEvents &events) override {
        // Kept raw positions are the multiples of the downsampling factor.
        const uint64_t step =
            uint64_t(stream_.state_.downsampling < 2 ? 1 : stream_.state_.downsampling);
        const uint64_t first = (gap.index + step - 1) / step;
        const uint64_t end = gap.index + gap.lost;
        const uint64_t after = (end + step - 1) / step;
        events.gaps.push_back(zv_gap{first, after - first, gap.kind});
        stream_.lost_outputs_ += after - first;
        stream_.next_output_ = after;
        stream_.state_.phase = int32_t(after * step - end);
        if (stream_.announce_losses_) zv::console::data_loss_warning();
    }

    void on_change(const zv_setting_change &change, zv::BlockEvents &events) override {
        events.changes.push_back(change);
        events.changes.back().index = stream_.next_output_;
        // The stored calibration in force follows the gain.
        if (std::strcmp(change.name, zv::change::kFeatures[ZV_FEATURE_HIGHGAIN]) == 0 &&
            stream_.calibration_mode_ == kCalibrationAuto) {
            std::lock_guard<std::mutex> lock(stream_.settings_mutex_);
            stream_.apply_calibration(stream_.calibration_mode_);
        }
    }

    Used consume(const zv::RingPiece &piece, uint64_t room, bool first_of_read,
                 uint64_t &first_output) override {
        std::lock_guard<std::mutex> lock(stream_.settings_mutex_);
        if (first_of_read) first_output = stream_.next_output_;
        stream_.take_stream_changes(events_of_read());
        const Span span =
            stream_.process_span(piece.samples, int64_t(piece.count), out_, flags_, int64_t(room));
        out_ += span.written;
        if (flags_) flags_ += span.written;
        stream_.next_output_ += uint64_t(span.written);
        return {size_t(span.raw), uint64_t(span.written)};
    }

    uint64_t raw_for(uint64_t outputs) const override {
        return outputs * uint64_t(std::max(stream_.state_.downsampling, 1));
    }

  private:
    zv::BlockEvents &events_of_read() { return stream_.events_; }

    ZVStreamImpl &stream_;
    T *out_;
    uint8_t *flags_;
};

template <typename T> void ZVStreamImpl<T>::take_stream_changes(zv::BlockEvents &events) {
    for (zv_setting_change &change : stream_changes_) {
        change.index = next_output_;
        events.changes.push_back(change);
    }
    stream_changes_.clear();
}

template <typename T> void ZVStreamImpl<T>::note_change(const char *name, double value) {
    if (!streaming()) return;
    zv_setting_change change{};
    std::strncpy(change.name, name, sizeof change.name - 1);
    change.value = value;
    stream_changes_.push_back(change);
}

template <typename T> int ZVStreamImpl<T>::start(double buffer_seconds) {
    if (!device_) return zv::set_error(zv::Error::invalid_device);
    if (streaming()) return zv::set_error(zv::Error::stream_already_running);
    // A recorder reads the acquisition there is; it is not replaced under it.
    if (!reader_claim_.allows_caller()) return zv_get_error();
    if (!(buffer_seconds > 0)) return zv::set_error(zv::Error::invalid_parameters);
    {
        std::lock_guard<std::mutex> lock(settings_mutex_);
        if (int status = prepare_processing()) return status;
    }
    auto acquisition = zv::ContinuousAcquisition::start(device_, buffer_seconds);
    if (!acquisition) return zv_get_error();
    acquisition_ = std::move(acquisition);
    streaming_ = true;
    next_output_ = 0;
    lost_outputs_ = 0;
    stream_changes_.clear();
    return 0;
}

template <typename T>
int ZVStreamImpl<T>::read(uint64_t count, T *destination, uint8_t *flags, int32_t timeout_ms,
                          zv_block *block) {
    if (block == nullptr || (destination == nullptr && count > 0))
        return zv::set_error(zv::Error::invalid_parameters);
    const zv::ClaimedRead claimed(reader_claim_);
    if (!claimed.allowed) {
        *block = zv_block{};
        return zv_get_error();
    }
    if (!streaming()) {
        *block = zv_block{};
        return zv::set_error(zv::Error::stream_not_running);
    }
    ContinuousConsumer consumer(*this, destination, flags);
    const uint64_t step = uint64_t(state_.downsampling < 2 ? 1 : state_.downsampling);
    return zv::read_block(acquisition_.get(), consumer, count, timeout_ms, step, *block, events_);
}

template <typename T> int ZVStreamImpl<T>::stop() {
    if (acquisition_) acquisition_->stop();
    streaming_ = false;
    return 0;
}

template <typename T> bool ZVStreamImpl<T>::running() {
    return streaming() && acquisition_->device_attached() && !acquisition_->ring().finished();
}

template <typename T> uint64_t ZVStreamImpl<T>::lost_total() {
    return lost_outputs_;
}

template <typename T> ZVStreamImpl<T>::~ZVStreamImpl() {
    stop();
}

template class ZVStreamImpl<float>;
template class ZVStreamImpl<double>;
