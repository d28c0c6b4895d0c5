// The stream's sample sink over arbitrary raw blocks: any block sizes (beyond the scratch array
// too), loss flags, supply blocks of any size (empty, null, negative), every filter mode, any
// cutoff, downsampling and decimation, float and double. The stream must keep exactly the raw
// samples 0, d, 2d, ... of everything it consumed (d the downsampling factor), across raw blocks
// and supply blocks, write nothing past a block, and nothing once the supply wants no more.
//
// Input: settings, then the supply's and the feeder's script (FuzzedDataProvider).
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "stream/filter_modes.h"
#include "stream/stream_impl.h"

namespace {

constexpr uint8_t kUnwritten = 0xFF; // no port-level flag is ever this
constexpr int kMaxBlock = 6000;
constexpr int kMaxRaw = 20000; // beyond the stream's scratch array of 16384

void check(bool condition) {
    if (!condition) std::abort();
}

// Hands out separately allocated blocks of scripted sizes and records what was written.
template <typename T> class ScriptedSupply : public ZVStreamSupply<T> {
  public:
    ScriptedSupply(FuzzedDataProvider &script, bool flags)
        : script_(script), flags_(flags), blocks_left_(script.ConsumeIntegralInRange(0, 40)) {}

    T *next_block(int32_t &count) override {
        check(!finished_);
        const int kind = script_.ConsumeIntegralInRange(0, 15);
        count = kind == 0 ? 0 : kind == 1 ? -1 : script_.ConsumeIntegralInRange(1, kMaxBlock);
        const int32_t elements = count > 0 ? count : 0;
        values_.emplace_back(kind == 2 ? nullptr : new T[size_t(elements)]);
        flags_of_.emplace_back(nullptr);
        sizes_.push_back(elements);
        return values_.back().get();
    }

    uint8_t *flag_block(int32_t count) override {
        check(count == sizes_.back() || (count < 0 && sizes_.back() == 0));
        if (!flags_ || count <= 0) return nullptr;
        flags_of_.back().reset(new uint8_t[size_t(count)]);
        std::memset(flags_of_.back().get(), kUnwritten, size_t(count));
        return flags_of_.back().get();
    }

    int32_t advance(int32_t written, int32_t) override {
        check(!finished_ && written == sizes_.back());
        ++advanced_;
        finished_ = blocks_left_-- <= 0;
        return finished_ ? 0 : 1;
    }

    // Every flag written, in order: whole blocks that were advanced, then the written prefix of
    // the block in use.
    std::vector<uint8_t> written_flags() const {
        std::vector<uint8_t> out;
        for (size_t b = 0; b < sizes_.size(); ++b) {
            const uint8_t *f = flags_of_[b].get();
            if (f == nullptr) continue;
            const int32_t n = sizes_[b];
            for (int32_t i = 0; i < n && f[i] != kUnwritten; ++i)
                out.push_back(f[i]);
            if (b >= size_t(advanced_)) break;
        }
        return out;
    }
    const std::vector<std::unique_ptr<T[]>> &values() const { return values_; }
    const std::vector<int32_t> &sizes() const { return sizes_; }
    bool finished() const { return finished_; }

  private:
    FuzzedDataProvider &script_;
    const bool flags_;
    int blocks_left_;
    bool finished_ = false;
    int advanced_ = 0;
    std::vector<std::unique_ptr<T[]>> values_;
    std::vector<std::unique_ptr<uint8_t[]>> flags_of_;
    std::vector<int32_t> sizes_;
};

double cutoff_of(FuzzedDataProvider &in) {
    if (in.ConsumeIntegralInRange(0, 3) != 0) return in.ConsumeFloatingPointInRange(1.0, 4.0e7);
    const uint64_t bits = in.ConsumeIntegral<uint64_t>(); // any double: zero, negative, inf, NaN
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

template <typename T> void run(FuzzedDataProvider &in) {
    ZVStreamImpl<T> stream(nullptr);
    check(stream.set_calibration_mode("none") == 0);
    const std::vector<std::string> modes = filter_mode_names();
    const size_t mode = in.ConsumeIntegralInRange<size_t>(0, modes.size());
    stream.set_filter(mode < modes.size() ? modes[mode] : std::string("no such mode"));
    if (in.ConsumeBool())
        stream.set_decimation(in.ConsumeIntegralInRange(-1, 1000));
    else
        stream.set_downsampling(in.ConsumeIntegralInRange(-2, 70000));
    stream.set_cutoff(cutoff_of(in));
    const bool with_flags = in.ConsumeBool();
    const int32_t d = std::max(stream.read_downsampling(), 1);
    const bool plain = stream.read_filter() == kFilterNone;

    ScriptedSupply<T> supply(in, with_flags);
    if (stream.prepare(&supply) != 0) {
        check(stream.process_raw(nullptr, 0, 0) == 0);
        return;
    }
    std::vector<uint16_t> consumed; // every raw sample fed while the stream asked for more
    for (int blocks = 0; blocks < 24 && in.remaining_bytes() > 0; ++blocks) {
        const size_t n = in.ConsumeIntegralInRange<size_t>(0, kMaxRaw);
        const int lost = in.ConsumeBool() ? 1 : 0;
        const std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(64);
        std::unique_ptr<uint16_t[]> raw(new uint16_t[n]);
        for (size_t i = 0; i < n; ++i)
            raw[i] = bytes.empty() ? uint16_t(i * 7919)
                                   : uint16_t(bytes[i % bytes.size()] << 8 | (i & 0xFF));
        consumed.insert(consumed.end(), raw.get(), raw.get() + n);
        if (!stream.process_raw(raw.get(), int(n), lost)) break;
    }
    // Once stopped, nothing more is taken.
    const uint16_t one = 1;
    if (supply.finished()) check(stream.process_raw(&one, 1, 0) == 0);

    if (!with_flags) return;
    const std::vector<uint8_t> flags = supply.written_flags();
    size_t kept = 0;
    for (size_t j = 0; j < flags.size(); ++j, ++kept) {
        const size_t index = j * size_t(d);
        check(index < consumed.size());
        check(flags[j] == consumed[index] >> 14);
    }
    // A plain stream writes each kept sample's ADC code.
    if (!plain) return;
    size_t j = 0;
    for (size_t b = 0; b < supply.sizes().size() && j < kept; ++b) {
        const T *values = supply.values()[b].get();
        for (int32_t i = 0; i < supply.sizes()[b] && j < kept; ++i, ++j)
            check(values[i] == T(consumed[j * size_t(d)] & 0x3FFF));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    if (in.ConsumeBool())
        run<float>(in);
    else
        run<double>(in);
    return 0;
}
