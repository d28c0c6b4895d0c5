// The processed sample stream: holds the settings, builds a processor from them at the start of
// each run and then serves as the acquisition engine's sample sink, writing processed (and
// optionally downsampled) samples into the blocks its supply hands out.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "libzv/continuous/block_reader.h"
#include "libzv/continuous/reader_claim.h"
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

    // Reads the sample rate (NaN when the device reports none) and the photodiode's peak
    // wavelength from device; a null device gives the defaults above (such a stream can simulate
    // and benchmark, not acquire). Throws std::bad_alloc when the scratch array cannot be
    // allocated.
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
    int start(double buffer_seconds) override;
    int read(uint64_t count, T *destination, uint8_t *flags, int32_t timeout_ms,
             zv_block *block) override;
    int stop() override;
    bool running() override;
    uint64_t lost_total() override;
    ~ZVStreamImpl() override;

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
    // Who may read the continuous stream (a recorder claims it while it records).
    zv::ReaderClaim &reader_claim() { return reader_claim_; }

  private:
    class ContinuousConsumer;
    // Outputs written and raw samples used by process_span.
    struct Span {
        int64_t raw;
        int64_t written;
    };
    // Processes raw samples into at most `room` outputs (downsampled with the running phase),
    // stopping once they are written; reports the raw samples used.
    Span process_span(const uint16_t *raw, int64_t count, T *out, uint8_t *flags, int64_t room);
    // Builds the processor and applies the calibration mode for a run or a continuous start.
    int prepare_processing();
    // 0, or the stored error when the device reports no sample rate: nothing can run without one.
    int check_samplerate() const;
    // A setting of the stream changed: a running stream notes it at the reader's place
    // (settings_mutex_ held).
    void note_change(const char *name, double value);
    // Hands the noted changes to the read in progress, at its current output position.
    void take_stream_changes(zv::BlockEvents &events);
    bool streaming() const { return acquisition_ != nullptr && streaming_; }
    // Runs a change of the calibration under the settings lock and notes the gain and offset
    // that result, if they changed.
    template <typename Change> int change_calibration(Change &&change);
    // Sets an input of the "auto" calibration (wavelength, units) and applies it in that mode;
    // a value it refuses is put back.
    template <typename Value>
    int change_auto_input(Value &input, Value value, const char *change_name);
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

    // Continuous streaming: the acquisition of the last start (kept after stop for its loss
    // count), and what the reader has produced so far.
    std::unique_ptr<zv::ContinuousAcquisition> acquisition_;
    // Set by start, cleared by stop (which may come from another thread than the reader's).
    std::atomic<bool> streaming_{false};
    zv::ReaderClaim reader_claim_;
    // Held by the reader while it processes, and by the setters that change what processing
    // reads (calibration, cutoff), so a change from another thread falls between two pieces.
    std::mutex settings_mutex_;
    // Changes of the stream's own settings not yet handed to a reader.
    std::vector<zv_setting_change> stream_changes_;
    uint64_t next_output_ = 0;     // output position of the next sample read
    uint64_t lost_outputs_ = 0;    // output samples lost since start
    bool announce_losses_ = false; // one-shot acquisitions print the data-loss line
    zv::BlockEvents events_;
};

extern template class ZVStreamImpl<float>;
extern template class ZVStreamImpl<double>;
