// Raw continuous streams (zv_raw_stream_*): the samples as the detector sends them, copied out of
// the acquisition's ring with the port bits masked or kept.
#include "raw_stream.h"

#include <algorithm>

#include "libzv/c_boundary.h"
#include "libzv/device_record.h"
#include "libzv/errors.h"

namespace {

// Copies samples, masked or whole, and their port levels when flags is not null.
void copy_samples(const uint16_t *from, size_t count, bool mask, uint16_t *to, uint8_t *flags) {
    if (mask) {
        for (size_t i = 0; i < count; ++i)
            to[i] = from[i] & ZV_SAMPLE_CODE_MASK;
    } else {
        std::copy(from, from + count, to);
    }
    if (flags != nullptr)
        for (size_t i = 0; i < count; ++i)
            flags[i] = uint8_t(from[i] >> ZV_SAMPLE_PORT_S_BIT);
}

// Copies pieces into the caller's buffers; gaps and changes keep their stream positions.
class RawConsumer final : public zv::PieceConsumer {
  public:
    RawConsumer(bool mask, uint16_t *samples, uint8_t *flags)
        : mask_(mask), samples_(samples), flags_(flags) {}

    void on_gap(const zv_gap &gap, zv::BlockEvents &events) override { events.gaps.push_back(gap); }
    void on_change(const zv_setting_change &change, zv::BlockEvents &events) override {
        events.changes.push_back(change);
    }
    Used consume(const zv::RingPiece &piece, uint64_t room, bool first_of_read,
                 uint64_t &first_output) override {
        if (first_of_read) first_output = piece.stream_position;
        const size_t n = size_t(std::min<uint64_t>(piece.count, room));
        copy_samples(piece.samples, n, mask_, samples_, flags_);
        samples_ += n;
        if (flags_ != nullptr) flags_ += n;
        return {n, n};
    }

  private:
    const bool mask_;
    uint16_t *samples_;
    uint8_t *flags_;
};

} // namespace

extern "C" {

zv_raw_stream *zv_raw_stream_open(zv_device *dev, bool mask) {
    return zv::c_value(static_cast<zv_raw_stream *>(nullptr), [&]() -> zv_raw_stream * {
        if (dev == nullptr || !dev->transport) {
            zv::set_error(zv::Error::invalid_device);
            return nullptr;
        }
        return new zv_raw_stream(dev, mask);
    });
}

int zv_raw_stream_start(zv_raw_stream *stream, double buffer_seconds) {
    return zv::c_status([&] {
        if (stream == nullptr) return zv::set_error(zv::Error::invalid_parameters);
        if (stream->running) return zv::set_error(zv::Error::stream_already_running);
        // A recorder reads the acquisition there is; it is not replaced under it.
        if (!stream->claim.allows_caller()) return zv_get_error();
        auto acquisition = zv::ContinuousAcquisition::start(stream->dev, buffer_seconds);
        if (!acquisition) return zv_get_error();
        stream->acquisition = std::move(acquisition);
        stream->running = true;
        return 0;
    });
}

int zv_raw_stream_read(zv_raw_stream *stream, uint16_t *samples, uint8_t *flags, uint64_t nsamples,
                       int32_t timeout_ms, zv_block *block) {
    return zv::c_status([&] {
        if (stream == nullptr || block == nullptr || (samples == nullptr && nsamples > 0))
            return zv::set_error(zv::Error::invalid_parameters);
        const zv::ClaimedRead read(stream->claim);
        if (!read.allowed) {
            *block = zv_block{};
            return zv_get_error();
        }
        if (!stream->running) {
            *block = zv_block{};
            return zv::set_error(zv::Error::stream_not_running);
        }
        RawConsumer consumer(stream->mask, samples, flags);
        return zv::read_block(stream->acquisition.get(), consumer, nsamples, timeout_ms, 1, *block,
                              stream->events);
    });
}

int zv_raw_stream_stop(zv_raw_stream *stream) {
    return zv::c_status([&] {
        if (stream == nullptr) return zv::set_error(zv::Error::invalid_parameters);
        if (stream->acquisition) stream->acquisition->stop();
        stream->running = false;
        return 0;
    });
}

bool zv_raw_stream_running(zv_raw_stream *stream) {
    return zv::c_value(false, [&] {
        return stream != nullptr && stream->running && stream->acquisition->device_attached() &&
               !stream->acquisition->ring().finished();
    });
}

uint64_t zv_raw_stream_lost_total(zv_raw_stream *stream) {
    return zv::c_value(uint64_t(0), [&] {
        if (stream == nullptr || !stream->acquisition) return uint64_t(0);
        return stream->acquisition->ring().lost_total();
    });
}

void zv_raw_stream_close(zv_raw_stream *stream) {
    zv::c_void([&] {
        if (stream == nullptr) return;
        zv_raw_stream_stop(stream);
        delete stream;
    });
}

} // extern "C"
