"""The scope's frames made from synthetic blocks: which samples the trace shows (rolling,
triggered, across a gap), the samples saved behind a picture, and the spectrum's scale."""
import numpy
import pytest

import zvpy
from zvtool.scope import frames
from zvtool.scope.frames import FrameProducer

RATE = 1_000_000.0
PERIOD = 1000  # samples between rising edges of port S
HIGH = 300  # samples port S stays high


def blocks(total, size, start=0):
    """A ramp (sample i has the value i) with port S high for HIGH of every PERIOD samples and
    port T its inverse, cut into blocks."""
    for first in range(start, start + total, size):
        index = numpy.arange(first, first + size)
        s = ((index % PERIOD) < HIGH).astype(numpy.uint8)
        yield zvpy.Block(index.astype(numpy.float32), s | ((1 - s) << 1), first, 1.0e9)


def test_roll_shows_the_newest_span_and_saves_its_samples():
    producer = FrameProducer(RATE, columns=100)
    producer.set_view("span", 2e-3)  # 2000 samples
    for block in blocks(1500, 500):
        producer.feed(block, 2.0e9)
    frame = producer.frame()  # 1500 of 2000: the left quarter stays empty
    trace = dict(frame.arrays)
    assert frame.header["trace"]["samples"] == 1500
    assert numpy.isnan(trace["trace_min"][:25]).all()
    assert trace["trace_min"][25] == 0 and trace["trace_max"][-1] == 1499
    for block in blocks(9000, 3000, start=1500):
        producer.feed(block, 2.0e9)
    frame = producer.frame()
    want_min, want_max = zvpy.envelope(numpy.arange(8500, 10500, dtype=numpy.float32), 100)
    trace = dict(frame.arrays)
    numpy.testing.assert_array_equal(trace["trace_min"], want_min)
    numpy.testing.assert_array_equal(trace["trace_max"], want_max)
    assert frame.header["arrived"] == 1.0e9 + 2999 / RATE  # the block's own stamp, not the read
    samples, rate = producer.snapshot(frame.header["seq"])
    assert rate == RATE and samples.tolist() == list(range(8500, 10500))
    # A gap (samples lost) starts the history afresh: the trace never joins across it. The
    # samples behind the earlier picture were copied: they can still be saved.
    for block in blocks(600, 600, start=20_000):
        producer.feed(block, 2.0e9)
    later = producer.frame()
    assert later.header["trace"]["samples"] == 600
    assert producer.snapshot(frame.header["seq"])[0][0] == 8500
    assert producer.snapshot(later.header["seq"])[0].tolist() == list(range(20_000, 20_600))


def test_samples_of_long_spans_are_saved_from_the_history(monkeypatch):
    """Spans too long to copy at every frame: saved while kept, and always once paused."""
    monkeypatch.setattr(frames, "COPY_LIMIT", 100)
    producer = FrameProducer(RATE, columns=10, history_limit=1 << 22)
    producer.set_view("span", 1e-3)  # 1000 samples; the history keeps about 2 Mi
    for block in blocks(5000, 1000):
        producer.feed(block, 2.0e9)
    seq = producer.frame().header["seq"]
    assert producer.snapshot(seq)[0][0] == 4000
    producer.set_view("paused", True)
    for block in blocks(4 << 20, 1 << 20, start=5000):
        producer.feed(block, 2.0e9)
    assert producer.frame() is None and producer.snapshot(seq)[0][-1] == 4999
    producer.set_view("paused", False)
    for block in blocks(4 << 20, 1 << 20, start=5000):
        producer.feed(block, 2.0e9)
    with pytest.raises(LookupError, match="pause, then save"):
        producer.snapshot(seq)


@pytest.mark.parametrize("port,edge,phase", [("S", "rising", 0), ("T", "rising", HIGH),
                                             ("S", "falling", HIGH)])
def test_trigger_puts_the_edge_after_the_pretrigger_samples(port, edge, phase):
    producer = FrameProducer(RATE, columns=50)
    for name, value in (("mode", "trigger"), ("span", 500e-6), ("pretrigger", 0.2),
                        ("trigger_port", port), ("trigger_edge", edge)):
        producer.set_view(name, value)
    seen = []
    for block in blocks(20_000, 700):
        producer.feed(block, 2.0e9)
        frame = producer.frame()
        if frame.header["trace"].get("new"):
            seen.append(frame)
    assert len(seen) >= 10
    for frame in seen:
        edge_at = frame.header["trace"]["trigger"]
        assert edge_at % PERIOD == phase and edge_at >= 100
        mins, maxs = zvpy.envelope(numpy.arange(edge_at - 100, edge_at + 400,
                                                dtype=numpy.float32), 50)
        numpy.testing.assert_array_equal(dict(frame.arrays)["trace_min"], mins)
        numpy.testing.assert_array_equal(dict(frame.arrays)["trace_max"], maxs)
        samples, _ = producer.snapshot(frame.header["seq"])
        assert samples[0] == edge_at - 100 and len(samples) == 500
    assert frame.header["trace"]["x0"] == pytest.approx(-100e-6)


def test_spectrum_finds_a_tone_and_the_noise_density():
    """A 12.3 kHz tone of amplitude 3 on white noise of σ = 2: the peak at the tone, and the
    density of the noise 2σ²/fs (one-sided)."""
    rng = numpy.random.default_rng(1)
    t = numpy.arange(2_000_000) / RATE
    x = (rng.normal(0, 2, len(t)) + 3 * numpy.sin(2 * numpy.pi * 12_300 * t)).astype("f4")
    producer = FrameProducer(RATE)
    for first in range(0, len(x), 100_000):
        piece = x[first:first + 100_000]
        producer.feed(zvpy.Block(piece, numpy.zeros(len(piece), numpy.uint8), first, 0.0), 1.0)
    arrays = dict(producer.frame().arrays)
    frequency, density = arrays["psd_freq"], arrays["psd"]
    assert frequency[numpy.argmax(density)] == pytest.approx(12_300, rel=0.02)
    band = (frequency > 50e3) & (frequency < 400e3)
    assert numpy.median(density[band]) == pytest.approx(2 * 2 ** 2 / RATE, rel=0.05)
