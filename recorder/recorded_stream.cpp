#include "recorder/recorded_stream.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "libzv/continuous/raw_stream.h"
#include "libzv/errors.h"
#include "stream/filter_modes.h"
#include "stream/stream_impl.h"

namespace zv::recording {

namespace {

class RawRecorded final : public RecordedStream {
  public:
    explicit RawRecorded(zv_raw_stream *stream) : stream_(stream) {}

    int kind() const override { return ZV_RECORDING_RAW; }
    ReaderClaim &claim() override { return stream_->claim; }
    bool running() override { return zv_raw_stream_running(stream_); }
    int start(double buffer_seconds) override {
        return zv_raw_stream_start(stream_, buffer_seconds);
    }
    void stop() override { zv_raw_stream_stop(stream_); }
    double samplerate() override { return double(zv_get_samplerate(stream_->dev)); }
    int read(void *out, uint64_t count, int32_t timeout_ms, zv_block &block) override {
        return zv_raw_stream_read(stream_, static_cast<uint16_t *>(out), nullptr, count, timeout_ms,
                                  &block);
    }
    int describe(zv_recording_info &info) override {
        if (int status = zv_recording_describe(stream_->dev, 0, &info)) return status;
        info.port_bits_masked = stream_->mask;
        return 0;
    }
    void set_max_read(uint64_t) override {}

  private:
    zv_raw_stream *stream_;
};

// Processed streams of element type T; samples reach the recording as float32.
template <typename T> class ProcessedRecorded final : public RecordedStream {
  public:
    explicit ProcessedRecorded(ZVStreamImpl<T> *stream) : stream_(stream) {}

    int kind() const override { return ZV_RECORDING_FLOAT32; }
    ReaderClaim &claim() override { return stream_->reader_claim(); }
    bool running() override { return stream_->running(); }
    int start(double buffer_seconds) override { return stream_->start(buffer_seconds); }
    void stop() override { stream_->stop(); }
    double samplerate() override { return stream_->read_samplerate(); }
    int read(void *out, uint64_t count, int32_t timeout_ms, zv_block &block) override {
        float *floats = static_cast<float *>(out);
        if constexpr (std::is_same_v<T, float>) {
            return stream_->read(count, floats, nullptr, timeout_ms, &block);
        } else {
            const int status = stream_->read(count, wide_.data(), nullptr, timeout_ms, &block);
            std::transform(wide_.begin(), wide_.begin() + long(block.count), floats,
                           [](T value) { return float(value); });
            return status;
        }
    }
    int describe(zv_recording_info &info) override;
    void set_max_read(uint64_t count) override {
        if constexpr (!std::is_same_v<T, float>) {
            wide_.resize(count);
            wide_.shrink_to_fit();
        }
    }

  private:
    ZVStreamImpl<T> *stream_;
    std::vector<T> wide_; // a double stream's samples before they are rounded to float32
};

// The detector's description, then the stream's part: its rate, unit, calibration, filter and
// reduction. A filter before the reduction makes it a decimation, none a plain downsampling.
template <typename T> int ProcessedRecorded<T>::describe(zv_recording_info &info) {
    ZVStreamImpl<T> &s = *stream_;
    const std::string mode = s.read_calibration_mode();
    // Codes passed through unscaled are not the power the recording's unit promises.
    if (mode == kCalibrationNone) return set_error(Error::recording_needs_power);
    if (int status = zv_recording_describe(s.device(), s.read_calibration_wavelength(), &info))
        return status;
    info.samplerate = s.read_samplerate();
    info.units = s.read_calibration_units();
    if (mode == kCalibrationCustom) {
        // The stream's factors are in its unit per code; the attribute is in µW per code.
        const zv_calibration custom = s.read_calibration();
        const double to_microwatts = std::pow(10.0, double(info.units) + 6);
        info.calibration[0] = custom.gain * to_microwatts;
        info.calibration[1] = custom.offset * to_microwatts;
        info.calibration_pair = -1;
        info.calibration_follows_gain = 0;
    }
    const std::string filter = s.read_filter();
    std::snprintf(info.filter, sizeof info.filter, "%s", filter.c_str());
    const bool filtered = filter != kFilterNone;
    info.cutoff = filtered ? s.read_cutoff() : 0;
    const int32_t factor = std::max<int32_t>(1, s.read_downsampling());
    info.decimation = filtered ? factor : 1;
    info.downsampling = filtered ? 1 : factor;
    info.port_bits_masked = 1;
    return 0;
}

template <typename T> std::unique_ptr<RecordedStream> processed(ZVStream<T> *stream) {
    auto *impl = dynamic_cast<ZVStreamImpl<T> *>(stream);
    if (impl == nullptr) {
        set_error(Error::invalid_parameters);
        return nullptr;
    }
    return std::make_unique<ProcessedRecorded<T>>(impl);
}

} // namespace

std::unique_ptr<RecordedStream> recorded_raw_stream(zv_raw_stream *stream) {
    if (stream == nullptr) {
        set_error(Error::invalid_parameters);
        return nullptr;
    }
    return std::make_unique<RawRecorded>(stream);
}

std::unique_ptr<RecordedStream> recorded_float_stream(zv_stream_float *stream) {
    return processed<float>(stream);
}

std::unique_ptr<RecordedStream> recorded_double_stream(zv_stream_double *stream) {
    return processed<double>(stream);
}

} // namespace zv::recording
