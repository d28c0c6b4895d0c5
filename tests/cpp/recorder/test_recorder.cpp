// The recorder end to end: ramps written through the writer and read back through the reader,
// sample-exact across chunk boundaries, with their attributes, gap and change tables, and a disk
// that fills up.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ramp_blocks.h"
#include "recorder/hdf5_support.h"
#include "recorder/recording_error.h"
#include "recorder/recording_reader.h"
#include "recorder/recording_writer.h"
#include "recorder/stream_positions.h"
#include "sim/simulator.h"
#include "stream/auto_calibration.h"

using zv::recording::RecordingError;
using zv::recording::RecordingReader;
using zv::recording::RecordingWriter;
using zv::recording::WriterOptions;

namespace {

class RecorderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zv-recorder-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
    }
    void TearDown() override {
        if (mounted_) umount(folder_.c_str());
        std::system(("rm -rf '" + folder_ + "'").c_str());
    }
    std::string file(const char *name) const { return folder_ + "/" + name; }

    // Mounts a tmpfs of `bytes` on the test's folder; false when this process may not.
    bool mount_small_disk(uint64_t bytes) {
        const std::string options = "size=" + std::to_string(bytes);
        mounted_ = mount("tmpfs", folder_.c_str(), "tmpfs", 0, options.c_str()) == 0;
        return mounted_;
    }

    std::string folder_;
    bool mounted_ = false;
    zv::recording::QuietHdf5 quiet_; // the recorder reports errors itself
};

// Block sizes that start, end and straddle 1000-sample chunks in every way, an empty block among
// them, and a flush in the middle of a chunk.
const std::vector<uint64_t> kAwkwardBlocks = {1, 998, 1, 0, 3000, 1999, 2, 1000, 4321, 7, 1000};
constexpr uint64_t kChunk = 1000;

uint64_t total(const std::vector<uint64_t> &blocks) {
    uint64_t sum = 0;
    for (uint64_t n : blocks)
        sum += n;
    return sum;
}

TEST_F(RecorderTest, RawAndFloatRampsReadBackSampleExactAcrossChunkBoundaries) {
    for (const int kind : {ZV_RECORDING_RAW, ZV_RECORDING_FLOAT32}) {
        const std::string path = file(kind == ZV_RECORDING_RAW ? "raw.h5" : "float.h5");
        WriterOptions options;
        options.chunk_samples = kChunk;
        {
            RecordingWriter writer(path, ramp::detector_info(1e6), kind, false, options);
            ramp::Source source;
            std::vector<uint16_t> raw;
            std::vector<float> values;
            for (size_t i = 0; i < kAwkwardBlocks.size(); ++i) {
                zv_block block;
                source.next(ramp::Plan{kAwkwardBlocks[i]}, block, &raw, &values);
                writer.append(kind == ZV_RECORDING_RAW ? static_cast<const void *>(raw.data())
                                                       : values.data(),
                              block);
                if (i == 5) writer.flush(); // a partly filled chunk reaches the file, then grows
            }
            EXPECT_EQ(writer.samples(), total(kAwkwardBlocks));
            writer.close();
        }
        RecordingReader reader(path);
        ASSERT_EQ(reader.length(), total(kAwkwardBlocks));
        EXPECT_EQ(reader.kind(), kind);
        EXPECT_EQ(reader.state(), ZV_RECORDING_CLOSED);
        // The whole, and slices that begin and end inside chunks.
        for (const auto &[start, count] : std::vector<std::pair<uint64_t, uint64_t>>{
                 {0, reader.length()}, {999, 2}, {1500, 3333}, {reader.length() - 1, 1}}) {
            std::vector<uint16_t> raw(count);
            std::vector<float> values(count);
            reader.read(start, count,
                        kind == ZV_RECORDING_RAW ? static_cast<void *>(raw.data()) : values.data());
            for (uint64_t i = 0; i < count; ++i) {
                if (kind == ZV_RECORDING_RAW)
                    ASSERT_EQ(raw[i], ramp::raw_at(start + i)) << "sample " << start + i;
                else
                    ASSERT_EQ(values[i], ramp::float_at(start + i)) << "sample " << start + i;
            }
        }
        std::vector<uint16_t> one(2);
        try {
            reader.read(reader.length() - 1, 2, one.data());
            FAIL() << "a read past the end must fail";
        } catch (const RecordingError &e) {
            EXPECT_EQ(e.entry(), zv::Error::outside_recording);
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
    }
}

TEST_F(RecorderTest, AttributesAndPowerComeBackAsTheStreamWouldComputeThem) {
    const std::string path = file("attributes.h5");
    zv_recording_info info = ramp::detector_info(8e6);
    info.wavelength = 1310;
    info.responsivity = 0.9;
    info.calibration[0] = info.calibrations[0][0] / double(float(0.9));
    info.calibration[1] = info.calibrations[0][1] / double(float(0.9));
    info.decimation = 10;
    WriterOptions options;
    options.chunk_samples = kChunk;
    {
        RecordingWriter writer(path, info, ZV_RECORDING_RAW, false, options);
        ramp::Source source;
        std::vector<uint16_t> raw;
        zv_block block;
        source.next(ramp::Plan{3000}, block, &raw, nullptr);
        writer.append(raw.data(), block);
        ramp::Plan low{3000};
        low.changes = {{500, 0.0}}; // low gain from stored index 3500 on
        source.next(low, block, &raw, nullptr);
        writer.append(raw.data(), block);
        writer.close();
    }
    RecordingReader reader(path);
    const zv_recording_info &back = reader.header().info;
    EXPECT_STREQ(back.serial, info.serial);
    EXPECT_STREQ(back.product, info.product);
    EXPECT_STREQ(back.firmware, info.firmware);
    EXPECT_EQ(back.samplerate, info.samplerate);
    EXPECT_EQ(back.decimation, 10);
    EXPECT_EQ(back.wavelength, 1310);
    EXPECT_EQ(back.start_time, info.start_time);
    for (int i = 0; i < ZV_RECORDING_PAIRS; ++i)
        for (int k = 0; k < 2; ++k)
            EXPECT_EQ(back.calibrations[i][k], info.calibrations[i][k]);
    EXPECT_STREQ(reader.header().start_utc, "2023-11-14T22:13:20.000000Z");
    EXPECT_STREQ(reader.header().units_name, "uW");
    EXPECT_EQ(reader.header().first_sample_time, 1.7e9);

    // Power in mW: the recorded pair before the change, the low-gain pair after it, each scaled
    // and applied in float32 as a float32 stream does.
    std::vector<float> power(6000);
    reader.read_power(0, power.size(), -3, power.data());
    for (const auto &[index, pair] : {std::pair<uint64_t, int>{3499, 0}, {3500, 1}}) {
        const double r = double(float(0.9));
        const zv_calibration uw{info.calibrations[pair][0] / r, info.calibrations[pair][1] / r};
        float scale = 0, offset = 0;
        scale_calibration(uw, -3, scale, offset);
        EXPECT_EQ(power[index], float(ramp::raw_at(index)) * scale + offset) << index;
    }
}

TEST(RecordingDescription, TakesTheDetectorsIdentityGainAndCalibrationAtTheWavelength) {
    zvsim::DetectorConfig config;
    config.serial = "HLM25-STEST1IC"; // single-ended, 1550 nm photodiode
    for (int i = 0; i < 6; ++i)
        config.calibrations[size_t(i)] = {0.25f * float(i + 1), -0.125f * float(i)};
    zvsim::attach(config);
    zv_device *dev = zv_open();
    ASSERT_NE(dev, nullptr);
    ASSERT_EQ(zv_set_highgain(dev, false), 0);
    zv_recording_info info{};
    ASSERT_EQ(zv_recording_describe(dev, 1310, &info), 0);
    EXPECT_STREQ(info.serial, "HLM25-STEST1IC");
    EXPECT_STREQ(info.product, zv_get_product(dev));
    EXPECT_STREQ(info.firmware, "1.0.2");
    EXPECT_EQ(info.samplerate, 80e6);
    EXPECT_EQ(info.high_gain, 0);
    EXPECT_EQ(info.calibration_pair, 1); // the automatic choice in low gain
    EXPECT_EQ(info.calibration_follows_gain, 1);
    EXPECT_EQ(info.calibrations[5][0], 1.5);
    EXPECT_EQ(info.calibrations[5][1], -0.625);
    const zv_calibration low = zv_get_rel_calibration(dev, ZV_CALIBRATION_DIGITAL_LOWGAIN, 1310);
    EXPECT_EQ(info.calibration[0], low.gain);
    EXPECT_EQ(info.calibration[1], low.offset);
    EXPECT_EQ(info.calibration[0], 0.5 / info.responsivity);
    zv_close(dev);
    zvsim::detach_all();
    EXPECT_EQ(zv_recording_describe(nullptr, 0, &info), ZV_ERROR_INVALID_DEVICE);
}

TEST(StreamPositions, GapsAndChangesAreFiledUnderTheStoredSampleTheyPrecede) {
    zv::recording::StreamPositions positions;
    std::vector<zv::recording::GapRow> gaps;
    std::vector<zv::recording::ChangeRow> changes;
    // Block 1: positions 0-99. Block 2: 10 lost before it (positions 100-109), then positions
    // 110-159, 5 lost (160-164), positions 165-214; a change at a delivered position, one at a
    // lost one, one after the inner gap. A gap is listed at its first missing position.
    zv_block first{0, 100, 0, 1.0, nullptr, 0, nullptr, 0};
    positions.file_block(first, 0, gaps, changes);
    const zv_gap listed[] = {{160, 5, ZV_LOSS_OVERFLOW}, {100, 10, ZV_LOSS_DEVICE}};
    zv_setting_change moved[3] = {
        {120, "highgain", 0}, {162, "cutoff", 1e6}, {200, "antialias", 1}};
    zv_block second{110, 100, 15, 2.0, listed, 2, moved, 3};
    positions.file_block(second, 100, gaps, changes);
    ASSERT_EQ(gaps.size(), 2u);
    EXPECT_EQ(gaps[0].index, 100u);
    EXPECT_EQ(gaps[0].lost, 10u);
    EXPECT_EQ(gaps[0].kind, ZV_LOSS_DEVICE);
    EXPECT_EQ(gaps[1].index, 150u); // the 50 samples of positions 110-159 are before it
    EXPECT_EQ(gaps[1].kind, ZV_LOSS_OVERFLOW);
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[0].index, 110u);
    EXPECT_STREQ(changes[1].name, "cutoff");
    EXPECT_EQ(changes[1].index, 150u); // a lost position: the first sample after the gap
    EXPECT_EQ(changes[2].index, 185u);
    // Samples reported lost without a place become a gap of unknown kind before the block.
    zv_block unplaced{215, 10, 7, 3.0, nullptr, 0, nullptr, 0};
    positions.file_block(unplaced, 200, gaps, changes);
    EXPECT_EQ(gaps.back().index, 200u);
    EXPECT_EQ(gaps.back().lost, 7u);
    EXPECT_EQ(gaps.back().kind, 0);
    EXPECT_EQ(positions.lost(), 22u);
}

TEST_F(RecorderTest, TablesComeBackWithTheStoredIndicesAndTheRampSaysTheSame) {
    const std::string path = file("gaps.h5");
    WriterOptions options;
    options.chunk_samples = kChunk;
    {
        RecordingWriter writer(path, ramp::detector_info(1e6), ZV_RECORDING_RAW, false, options);
        ramp::Source source;
        std::vector<uint16_t> raw;
        for (int i = 0; i < 300; ++i) { // more rows than one chunk of the tables
            ramp::Plan plan{777};
            plan.lost_before = i % 3 == 2 ? 11 : 0;
            plan.kind = i % 2 ? ZV_LOSS_OVERFLOW : ZV_LOSS_DEVICE;
            plan.changes = {{5, double(i)}};
            zv_block block;
            source.next(plan, block, &raw, nullptr);
            writer.append(raw.data(), block);
        }
        EXPECT_EQ(writer.lost(), 100u * 11);
        writer.close();
    }
    RecordingReader reader(path);
    ASSERT_EQ(reader.gaps().size(), 100u);
    ASSERT_EQ(reader.changes().size(), 300u);
    std::vector<uint16_t> all(reader.length());
    reader.read(0, all.size(), all.data());
    // The ramp jumps by exactly the lost count at each listed gap, and nowhere else.
    size_t g = 0;
    for (uint64_t i = 1; i < all.size(); ++i) {
        const uint64_t step = (all[i] + ramp::kRawPeriod - all[i - 1]) % ramp::kRawPeriod;
        if (g < reader.gaps().size() && reader.gaps()[g].index == i) {
            EXPECT_EQ(step, 1 + reader.gaps()[g].lost) << i;
            ++g;
        } else {
            ASSERT_EQ(step, 1u) << i;
        }
    }
    EXPECT_EQ(g, reader.gaps().size());
    EXPECT_EQ(reader.changes()[299].index, 299u * 777 + 5);
    EXPECT_EQ(reader.changes()[299].value, 299.0);
}

TEST_F(RecorderTest, ExistingFilesAndMissingFoldersAreRefusedBeforeAnythingIsWritten) {
    const std::string path = file("exists.h5");
    FILE *f = std::fopen(path.c_str(), "w");
    std::fputs("precious", f);
    std::fclose(f);
    try {
        RecordingWriter writer(path, ramp::detector_info(1e6), ZV_RECORDING_RAW, false);
        FAIL() << "an existing file must be refused";
    } catch (const RecordingError &e) {
        EXPECT_EQ(e.entry(), zv::Error::file_exists);
    }
    f = std::fopen(path.c_str(), "r");
    char text[16] = {};
    ASSERT_TRUE(std::fgets(text, sizeof text, f));
    std::fclose(f);
    EXPECT_STREQ(text, "precious");

    const std::string nowhere = file("no/such/folder/rec.h5");
    try {
        RecordingWriter writer(nowhere, ramp::detector_info(1e6), ZV_RECORDING_RAW, false);
        FAIL() << "a missing folder must be refused";
    } catch (const RecordingError &e) {
        EXPECT_EQ(std::string(e.what()), "cannot create " + nowhere + ": the folder " +
                                             file("no/such/folder") + " does not exist");
    }
    // A file being written is not overwritten by a second writer.
    const std::string busy = file("busy.h5");
    RecordingWriter first(busy, ramp::detector_info(1e6), ZV_RECORDING_RAW, false);
    EXPECT_THROW(RecordingWriter(busy, ramp::detector_info(1e6), ZV_RECORDING_RAW, true),
                 RecordingError);
}

// Writes a ramp until the writer stops; returns its message.
std::string fill_disk(const std::string &path, const WriterOptions &options) {
    RecordingWriter writer(path, ramp::detector_info(1e6), ZV_RECORDING_RAW, false, options);
    ramp::Source source;
    std::vector<uint16_t> raw;
    try {
        for (int i = 0; i < 100000; ++i) {
            zv_block block;
            source.next(ramp::Plan{12345}, block, &raw, nullptr);
            writer.append(raw.data(), block);
        }
    } catch (const RecordingError &e) {
        EXPECT_THROW(writer.close(), RecordingError); // the failure stays
        return e.what();
    }
    return "the disk never filled";
}

TEST_F(RecorderTest, AFullDiskStopsTheRecordingWithTheFileReadableUpToItsLastWrite) {
    if (!mount_small_disk(8 << 20))
        GTEST_SKIP() << "mounting a small tmpfs needs root (CAP_SYS_ADMIN); not run";
    WriterOptions options;
    options.chunk_samples = 64 * 1024;
    // The writer's own margin: it stops before the disk is full and closes the file cleanly.
    // Then no margin: the disk fills under HDF5 and the write itself fails.
    for (const uint64_t reserve : {uint64_t(0), uint64_t(1)}) {
        const std::string path = file(reserve ? "full-write.h5" : "full-margin.h5");
        const std::string message = fill_disk(path, options);
        EXPECT_EQ(message.rfind("cannot write " + path + ": no space left on device", 0), 0u)
            << message;
        RecordingReader reader(path);
        EXPECT_GT(reader.length(), 100000u);
        if (!reserve) {
            EXPECT_EQ(reader.state(), ZV_RECORDING_CLOSED);
        }
        std::vector<uint16_t> all(reader.length());
        reader.read(0, all.size(), all.data());
        for (uint64_t i = 0; i < all.size(); ++i)
            ASSERT_EQ(all[i], ramp::raw_at(i)) << i;
        unlink(path.c_str());
        options.disk_reserve = 1;
    }
}

} // namespace
