// A cutoff change made on another thread while a stream runs: a "badbutter" filter takes it at
// its next block, other filters at the next run; nothing set is lost.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "reference_filters.h"
#include "stream/dsp/dsp.h"
#include "stream/filter_processor.h"
#include "stream/stream_impl.h"
#include "stream_test_support.h"

namespace {

using reference::Form;

constexpr double kSamplerate = 80e6;
constexpr double kFirstCutoff = 8e6;
constexpr double kSecondCutoff = 2e6;
constexpr int32_t kBlock = 1000;

template <int MaxOrder>
using BadButterProcessor = FilterProcessor<
    double, Dsp::FilterDesign<Dsp::Butterworth::Design::LowPass<MaxOrder>, 1, Dsp::DirectFormII>>;

// Blocks of kBlock elements; hook(k) runs on the stream's thread when block k is complete.
class HookedSupply : public ZVStreamSupply<double> {
  public:
    HookedSupply(size_t blocks, std::function<void(size_t)> hook)
        : out(blocks * kBlock), hook_(std::move(hook)) {}

    double *next_block(int32_t &count) override {
        count = kBlock;
        return out.data() + done_ * kBlock;
    }
    uint8_t *flag_block(int32_t) override { return nullptr; }
    int32_t advance(int32_t, int32_t) override {
        ++done_;
        if (hook_) hook_(done_);
        return done_ * kBlock < out.size();
    }

    std::vector<double> out;

  private:
    size_t done_ = 0;
    std::function<void(size_t)> hook_;
};

class CutoffHandoff : public ::testing::Test {
  protected:
    CutoffHandoff() { stream.set_calibration_mode("none"); }

    // Runs the stream over the ramp into supply.
    void run(HookedSupply &supply) {
        ASSERT_EQ(stream.prepare(&supply), 0);
        EXPECT_EQ(feed(stream, ramp_words(supply.out.size()), 5120), 0);
    }

    // The first-order "badbutter<max_order>" filter over the ramp, switched from the first to
    // the second cutoff at sample switch_at (never when switch_at is past the end).
    static std::vector<double> expected_badbutter(int max_order, size_t n, size_t switch_at) {
        auto design = [max_order](double cutoff) {
            return reference::butterworth(1, cutoff / kSamplerate / max_order);
        };
        reference::Filter f(design(kFirstCutoff), Form::direct_II);
        std::vector<double> y(n);
        for (size_t i = 0; i < n; ++i) {
            if (i == switch_at) f.redesign(design(kSecondCutoff));
            y[i] = f.step(double(i & 0x3FFF));
        }
        return y;
    }

    static void expect_close(const std::vector<double> &out, const std::vector<double> &expected) {
        ASSERT_EQ(out.size(), expected.size());
        for (size_t i = 0; i < out.size(); ++i)
            ASSERT_NEAR(out[i], expected[i], 1e-11 * std::max(1.0, std::fabs(expected[i]))) << i;
    }

    // set_cutoff on another thread, waited for.
    void set_cutoff_elsewhere(double cutoff, int times = 1) {
        std::thread other([&] {
            for (int i = 0; i < times; ++i)
                stream.set_cutoff(cutoff);
        });
        other.join();
    }

    ZVStreamImpl<double> stream{nullptr};
};

} // namespace

TEST_F(CutoffHandoff, BadButterTakesTheNewCutoffAtItsNextBlock) {
    for (int max_order : {2, 4, 8}) {
        stream.set_filter("badbutter" + std::to_string(max_order));
        stream.set_cutoff(kFirstCutoff);
        HookedSupply supply(12, [&](size_t done) {
            if (done == 3) set_cutoff_elsewhere(kSecondCutoff);
        });
        run(supply);
        expect_close(supply.out, expected_badbutter(max_order, supply.out.size(), 3 * kBlock));
        EXPECT_EQ(stream.read_cutoff(), kSecondCutoff);
    }
}

TEST_F(CutoffHandoff, TheSameValueSetTwiceBeforeTheNextBlockStillArrives) {
    stream.set_filter("badbutter4");
    stream.set_cutoff(kFirstCutoff);
    HookedSupply supply(8, [&](size_t done) {
        if (done == 2) set_cutoff_elsewhere(kSecondCutoff, 2);
    });
    run(supply);
    expect_close(supply.out, expected_badbutter(4, supply.out.size(), 2 * kBlock));
}

TEST_F(CutoffHandoff, FixedDesignsTakeTheNewCutoffAtTheNextRun) {
    stream.set_filter("butterworth4");
    stream.set_cutoff(kFirstCutoff);
    HookedSupply supply(8, [&](size_t done) {
        if (done == 2) set_cutoff_elsewhere(kSecondCutoff);
    });
    run(supply);
    const std::vector<double> x = [&] {
        std::vector<double> v(supply.out.size());
        for (size_t i = 0; i < v.size(); ++i)
            v[i] = double(i & 0x3FFF);
        return v;
    }();
    expect_close(supply.out,
                 reference::filter(reference::butterworth(4, kFirstCutoff / kSamplerate),
                                   Form::direct_II, x));
    HookedSupply next(8, nullptr);
    run(next);
    expect_close(next.out, reference::filter(reference::butterworth(4, kSecondCutoff / kSamplerate),
                                             Form::direct_II, x));
}

// Changes hammered in from another thread while blocks are processed: the last one set is the
// one the filter ends up designed with.
TEST_F(CutoffHandoff, TheLastOfManyConcurrentChangesIsTheOneApplied) {
    stream.set_filter("badbutter4");
    stream.set_cutoff(kFirstCutoff);
    constexpr double kLast = 1234567.0;
    std::thread other;
    HookedSupply supply(400, [&](size_t done) {
        if (done == 5)
            other = std::thread([&] {
                for (int i = 0; i < 20000; ++i)
                    stream.set_cutoff(1e6 + (i % 97) * 1e4);
                stream.set_cutoff(kLast);
            });
        if (done == 390) other.join();
    });
    run(supply);
    auto *processor = dynamic_cast<BadButterProcessor<4> *>(stream.processor());
    ASSERT_NE(processor, nullptr);
    EXPECT_EQ(processor->params()[2], kLast / kSamplerate);
    EXPECT_EQ(processor->params()[0], 4.0);
    EXPECT_EQ(processor->params()[1], 1.0);
}

TEST_F(CutoffHandoff, CutoffSetBetweenRunsIsStoredForTheNextRun) {
    stream.set_filter("badbutter2");
    stream.set_cutoff(kSecondCutoff);
    EXPECT_EQ(stream.processor(), nullptr);
    HookedSupply supply(3, nullptr);
    run(supply);
    auto *processor = dynamic_cast<BadButterProcessor<2> *>(stream.processor());
    ASSERT_NE(processor, nullptr);
    EXPECT_EQ(processor->params()[2], kSecondCutoff / kSamplerate);
}
