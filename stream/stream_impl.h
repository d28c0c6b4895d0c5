// The processed sample stream: holds the settings, builds a processor from them at the start of
// each run and then serves as the acquisition engine's sample sink, writing processed (and
// optionally downsampled) samples into the blocks its supply hands out.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "stream/processor.h"
#include "stream/zv_stream.h"

template <typename T> class ZVStreamImpl final : public ZVStream<T> {
  public:
    // Processed samples of one raw span before downsampling picks from them.
    static constexpr int32_t kScratchCapacity = 16384;
    // Raw words per block that simulate and benchmark feed.
    static constexpr int kSyntheticBlock = 5120;
    // Settings of a stream made without a device.
    static constexpr double kDefaultSamplerate = 80000000.0;
    static constexpr double kDefaultWavelength = 760.0;

    // Reads the sample rate and the photodiode's peak wavelength from device; a null device
    // gives the defaults above (such a stream can simulate and benchmark, not acquire). Throws
    // std::bad_alloc when the scratch array cannot be allocated.
    explicit ZVStreamImpl(zv_device *device);

    zv_device *device() override { return device_; }
    double read_samplerate() override;
    int32_t read_samplesize() override { return sizeof(T); }
    std::string read_calibration_mode() override { return calibration_mode_; }
    int set_calibration_mode(const char *mode) override;
    int set_calibration_mode(const std::string &mode) override;
    int update_auto_calibration() override;
    zv_calibration read_calibration() override;
    int set_custom_calibration(double scale, double offset) override;
    int set_custom_calibration(zv_calibration calibration) override;
    double read_calibration_wavelength() override { return calibration_wavelength_; }
    int set_calibration_wavelength(double wavelength) override;
    int32_t read_calibration_units() override { return calibration_units_; }
    int set_calibration_units(int32_t units) override;
    std::string read_filter() override { return filter_mode_; }
    int set_filter(const std::string &name) override;
    double read_cutoff() override;
    int set_cutoff(double cutoff) override;
    int32_t read_downsampling() override { return state_.downsampling; }
    int set_downsampling(int32_t factor) override;
    int set_decimation(int32_t factor) override;
    int acquire(uint64_t count, T *destination, uint8_t *flags) override;
    int run(ZVStreamSupply<T> *supply) override;
    int simulate(uint64_t count, T *destination, uint8_t *flags) override;
    double benchmark(int32_t length, int32_t repeats, bool with_flags) override;

    // Starts a run into supply: builds a fresh processor from the filter mode and applies the
    // calibration mode. Returns 0 or the error that prevents the run.
    int prepare(ZVStreamSupply<T> *supply);
    // The sample sink: processes count raw words; lost is non-zero when raw data were lost
    // before them. Returns non-zero while the supply wants more.
    int process_raw(const uint16_t *raw, int count, int lost);
    // process_raw for the acquisition engine, user being the stream.
    static int sink(const uint16_t *raw, int count, int lost, void *user);

    // The processor of the current or last run (null before the first run or after a failed one).
    Processor<T> *processor() { return processor_.get(); }
    // Index, within the next raw block, of the next sample kept when downsampling.
    int32_t phase() const { return state_.phase; }

  private:
    int apply_calibration(const std::string &mode);
    // Takes the supply's next block; a block it cannot hand out ends the run.
    void fetch_block();
    // The status of a finished run whose engine or feeder reported status.
    int finish_run(int status);

    zv_device *device_;
    double samplerate_;
    std::string calibration_mode_;
    double calibration_wavelength_;
    int32_t calibration_units_ = -6;
    std::string filter_mode_;
    double cutoff_;
    uint8_t running_ = 1;
    // Guards replacing the processor against set_cutoff from another thread.
    std::mutex processor_mutex_;
    std::unique_ptr<Processor<T>> processor_;
    ZVStreamSupply<T> *supply_ = nullptr;
    // Set when the supply handed out a block that cannot be written (null or negative size, or
    // empty while asking for more).
    bool supply_failed_ = false;
    // Raw data were lost since the supply's last advance: told to it at the next one.
    int32_t lost_ = 0;
    T *out_block_ = nullptr;
    int32_t out_position_ = 0;
    int32_t out_capacity_ = 0;
    uint8_t *flag_block_ = nullptr;
    std::unique_ptr<T[]> scratch_;
    ProcessingState<T> state_;
};

extern template class ZVStreamImpl<float>;
extern template class ZVStreamImpl<double>;
