// The transfer cycle against the simulated detector: what reaches the sink, what is discarded or
// skipped, and every failure path with its console line and stored error.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "sim_detector.h"

namespace {

// Loop length of the stream words: prime, so that a word tells its position in the loop and
// transfers of any size start at different words.
constexpr uint64_t kLoop = 10007;

std::vector<uint16_t> numbered_words() {
    std::vector<uint16_t> words(kLoop);
    for (uint64_t i = 0; i < kLoop; ++i)
        words[i] = uint16_t(i);
    return words;
}

// One sink call: the loop position of its first sample, its size and flags.
struct Call {
    uint64_t first;
    int count;
    int data_lost;
    bool contiguous; // every sample follows the one before it in the loop
};

struct Recorder {
    std::vector<Call> calls;
    size_t stop_after = 0;            // calls before the sink says stop; 0 never
    std::function<void(size_t)> hook; // run on each call with its number

    static int sink(const uint16_t *samples, int count, int data_lost, void *user) {
        auto &r = *static_cast<Recorder *>(user);
        bool contiguous = true;
        for (int i = 1; i < count; ++i)
            contiguous = contiguous && samples[i] == (samples[i - 1] + 1) % kLoop;
        r.calls.push_back({count > 0 ? samples[0] : kLoop, count, data_lost, contiguous});
        if (r.hook) r.hook(r.calls.size());
        return r.stop_after == 0 || r.calls.size() < r.stop_after;
    }
};

class Engine : public SimDetectorTest {
  protected:
    void SetUp() override { attach(numbered_words()); }

    // The loop position of packet k (counted over the whole collection) of a collection starting
    // at loop position `start`.
    uint64_t packet_start(uint64_t start, uint64_t k) const { return (start + k * packet) % kLoop; }

    // `count` streamed packet numbers from 64 on (the first after the four discarded
    // transfers), leaving out `skipped`.
    static std::vector<uint64_t> delivered(size_t count, const std::set<uint64_t> &skipped = {}) {
        std::vector<uint64_t> packets;
        for (uint64_t k = 64; packets.size() < count; ++k)
            if (skipped.count(k) == 0) packets.push_back(k);
        return packets;
    }

    // The sink saw exactly the streamed packets `packets`, each whole and in order.
    void expect_packets(const Recorder &r, uint64_t start, const std::vector<uint64_t> &packets) {
        ASSERT_EQ(r.calls.size(), packets.size());
        for (size_t i = 0; i < r.calls.size(); ++i) {
            EXPECT_EQ(r.calls[i].first, packet_start(start, packets[i])) << "call " << i;
            EXPECT_EQ(uint64_t(r.calls[i].count), packet) << "call " << i;
            EXPECT_TRUE(r.calls[i].contiguous) << "call " << i;
        }
    }

    int collect(Recorder &r) { return zv_collect(dev, Recorder::sink, &r); }

    // The run's console output.
    int collect_capturing(Recorder &r, std::string &out) {
        testing::internal::CaptureStdout();
        const int status = collect(r);
        out = testing::internal::GetCapturedStdout();
        return status;
    }

    static double seconds_since(std::chrono::steady_clock::time_point t) {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
    }
};

TEST_F(Engine, FirstFourTransfersAreDiscardedAndPacketsFollowInOrder) {
    const uint64_t start = detector->position();
    Recorder r;
    r.stop_after = 40;
    ASSERT_EQ(collect(r), 0);
    EXPECT_EQ(zv_get_error(), 0);
    EXPECT_STREQ(zv_get_error_string(), "success");
    // Packet 0 delivered is packet 64 streamed: four transfers of sixteen went before it.
    expect_packets(r, start, delivered(40));
    for (const Call &call : r.calls)
        EXPECT_EQ(call.data_lost, 0);
    EXPECT_EQ(detector->alt_setting(), 0);
}

TEST_F(Engine, SinkStoppingAtOnceStillDrainsSixteenTransfers) {
    const uint64_t produced = detector->produced();
    Recorder r;
    r.stop_after = 1;
    EXPECT_EQ(collect(r), 0);
    EXPECT_EQ(r.calls.size(), 1u);
    // Sixteen submitted, four discarded and resubmitted, one delivered and resubmitted: 21
    // transfers, each waited for and completed before the interface went back to setting 0
    // (which would have cancelled any still queued).
    EXPECT_EQ(detector->produced() - produced, 21 * transfer);
    EXPECT_EQ(detector->alt_setting(), 0);
}

TEST_F(Engine, OverLongAndBadStatusPacketsAreSkipped) {
    const uint64_t start = detector->position();
    detector->inject(zvsim::StreamFault::bad_length, 5, 3);
    detector->inject(zvsim::StreamFault::bad_status, 6, 0);
    Recorder r;
    r.stop_after = 40;
    ASSERT_EQ(collect(r), 0);
    expect_packets(r, start, delivered(40, {5 * 16 + 3, 6 * 16 + 0}));
}

TEST_F(Engine, TransferWithErrorStatusIsDeliveredAndReported) {
    const uint64_t start = detector->position();
    detector->inject(zvsim::StreamFault::error_status, 5);
    Recorder r;
    r.stop_after = 48;
    std::string out;
    EXPECT_EQ(collect_capturing(r, out), 32);
    EXPECT_EQ(out, "error status found");
    EXPECT_EQ(zv_get_error(), 32);
    EXPECT_STREQ(zv_get_error_string(), "generic usb error");
    expect_packets(r, start, delivered(48));
}

TEST_F(Engine, ErrorStatusDuringStartUpIsDiscardedSilently) {
    detector->inject(zvsim::StreamFault::error_status, 1);
    Recorder r;
    r.stop_after = 1;
    std::string out;
    EXPECT_EQ(collect_capturing(r, out), 0);
    EXPECT_EQ(out, "");
}

TEST_F(Engine, DataLossMarkerRaisesTheFlagOnTheNextDelivery) {
    const uint64_t start = detector->position();
    detector->inject(zvsim::StreamFault::data_loss, 5, 2);
    Recorder r;
    r.stop_after = 30;
    ASSERT_EQ(collect(r), 0);
    // The marker packet itself carries no samples and is not delivered; the next one is flagged.
    expect_packets(r, start, delivered(30, {5 * 16 + 2}));
    for (size_t i = 0; i < r.calls.size(); ++i)
        EXPECT_EQ(r.calls[i].data_lost, i == 18 ? 1 : 0) << "call " << i;
}

TEST_F(Engine, CopySinkPrintsTheDataLossWarning) {
    detector->inject(zvsim::StreamFault::data_loss, 4, 1);
    std::vector<uint16_t> buffer(4 * packet);
    testing::internal::CaptureStdout();
    EXPECT_EQ(zv_get_raw_data(dev, buffer.data(), buffer.size()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "warning: data loss detected!\n");
}

TEST_F(Engine, TransferThatNeverCompletesEndsTheRunWithinItsWait) {
    detector->inject(zvsim::StreamFault::timeout, 6);
    Recorder r;
    std::string out;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(collect_capturing(r, out), 32);
    // One 1.5 s wait, then the abort completes everything at once.
    EXPECT_LT(seconds_since(t0), 10.0);
    EXPECT_EQ(out.rfind("wait for transfer failed\nusb error", 0), 0u) << out;
    EXPECT_STREQ(zv_get_error_string(), "error finishing transfer");
    // Transfers 4 and 5 were delivered, nothing after the hung one.
    EXPECT_EQ(r.calls.size(), 32u);
    EXPECT_EQ(detector->alt_setting(), 0);

    // The device is usable again: faults apply to one collection only.
    std::vector<uint16_t> buffer(1000);
    EXPECT_EQ(zv_get_raw_data(dev, buffer.data(), buffer.size()), 0);
}

TEST_F(Engine, UnpluggingMidCollectionFailsCleanly) {
    Recorder r;
    r.hook = [this](size_t call) {
        if (call == 3) detector->detach();
    };
    std::string out;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(collect_capturing(r, out), 32);
    EXPECT_LT(seconds_since(t0), 10.0);
    // The rest of the transfer in hand is still delivered; nothing after it.
    EXPECT_EQ(r.calls.size(), 16u);
    EXPECT_NE(out.find("failed to resubmit transfer: "), std::string::npos) << out;
    // Transfers resubmitted before the unplug complete with an error while draining.
    EXPECT_NE(out.find("final finish data failed\n"), std::string::npos) << out;
    EXPECT_STREQ(zv_get_error_string(), "starting transfer failed");

    // Later collections fail at once.
    std::vector<uint16_t> buffer(100);
    testing::internal::CaptureStdout();
    EXPECT_NE(zv_get_raw_data(dev, buffer.data(), buffer.size()), 0);
    testing::internal::GetCapturedStdout();
}

TEST_F(Engine, NullHandleAndNullSinkAreRefusedWithoutTraffic) {
    const uint64_t produced = detector->produced();
    Recorder r;
    EXPECT_EQ(zv_collect(nullptr, Recorder::sink, &r), 50);
    EXPECT_STREQ(zv_get_error_string(), "invalid device");
    EXPECT_EQ(zv_collect(dev, nullptr, nullptr), 48);
    EXPECT_STREQ(zv_get_error_string(), "invalid parameters passed");
    EXPECT_EQ(detector->produced(), produced);
}

class EngineOnMarkers : public SimDetectorTest {};

TEST_F(EngineOnMarkers, RunWithoutAnyGoodPacketEndsInsteadOfHanging) {
    // Every packet the detector sends is a data-loss marker: nothing ever reaches the sink.
    std::vector<uint16_t> words;
    for (int k = 0; k < 16; ++k)
        words.insert(words.end(), {0xFFF3, 0x0003});
    attach(words);
    std::vector<uint16_t> buffer(1000, 0x1111);
    testing::internal::CaptureStdout();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(zv_get_raw_data(dev, buffer.data(), buffer.size()), 32);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "wait for transfer failed\n");
    EXPECT_STREQ(zv_get_error_string(), "wait for transfer failed");
    EXPECT_LT(elapsed, 10.0);
    EXPECT_EQ(buffer[0], 0x1111);
}

} // namespace
