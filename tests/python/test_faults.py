"""Faults of a simulated detector with what the user sees, where the other tests leave gaps:
requests the detector never answers, malformed descriptors of every kind, and the real-time
detector's FIFO. (Unplugging during a control request and during a processed stream is tested in
C++, tests/cpp/reliability: the binding holds the interpreter lock during those calls.)"""
import time

import numpy
import pytest

import zvpy

FEATURE_READ = 0xCD
IDENTITY = 0x30
REQUEST_TIMEOUT = 1.0  # seconds, the library's time-out of a vendor request


def test_a_request_never_answered_times_out_and_the_next_one_is_answered(sim):
    d = zvpy.Device()
    sim.hang_request(FEATURE_READ)
    start = time.monotonic()
    with pytest.raises(zvpy.Error) as e:
        d.read_highgain()
    took = time.monotonic() - start
    assert e.value.err == 32
    assert REQUEST_TIMEOUT * 0.9 < took < REQUEST_TIMEOUT + 2
    assert d.read_highgain() == 0
    d.set_highgain(True)
    assert sim.features["highgain"] == 1


def test_an_identity_never_answered_fails_the_open_after_the_time_out(sim):
    sim.hang_request(IDENTITY)
    start = time.monotonic()
    with pytest.raises(zvpy.Error) as e:
        zvpy.Device()
    assert e.value.err == 32
    assert time.monotonic() - start < REQUEST_TIMEOUT + 2
    assert zvpy.Device().serial == "HLM25-S00001IC"


# Malformed descriptors as a faulty firmware could serve them: (type, index, bytes), and whether
# the detector still opens.
MALFORMED = {
    "device descriptor of the wrong length": ((1, 0, bytes([12, 1, 0, 3, 0, 0, 0, 9, 0x9D, 0x2E,
                                                            0x80, 0])), False),
    "BOS capabilities not adding up": ((15, 0, bytes([5, 15, 12, 0, 2, 7, 16, 2, 0, 0, 0, 0])),
                                       False),
    "endpoint before any interface": ((2, 0, bytes([9, 2, 16, 0, 1, 1, 0, 0x80, 50,
                                                     7, 5, 0x83, 1, 0, 4, 1])), False),
    "string of an odd length": ((3, 3, bytes([7, 3, ord("x"), 0, ord("y"), 0, ord("z")])), True),
    "string of another type": ((3, 2, bytes([6, 4, ord("a"), 0, ord("b"), 0])), True),
    "no languages": ((3, 0, bytes([2, 3])), True),
}


@pytest.mark.parametrize("name", list(MALFORMED))
def test_malformed_descriptors(sim, capfd, name):
    (kind, index, data), opens = MALFORMED[name]
    sim.override_descriptor(kind, index, data)
    if opens:
        # Strings are informational: the identity block names the detector.
        assert zvpy.Device().serial == "HLM25-S00001IC"
    else:
        with pytest.raises(zvpy.NoDeviceError):
            zvpy.Device()
        assert "Please correct firmware" in capfd.readouterr().err
    sim.clear_descriptor_overrides()
    assert zvpy.Device().serial == "HLM25-S00001IC"


def test_a_real_time_detector_read_by_a_host_that_keeps_up_loses_nothing(attach, capfd):
    # 20 MS/s with a FIFO of 8 Mi samples: a second of samples, paced by the sample rate.
    sim = attach(samplerate=20_000_000, realtime=True, fifo_samples=8 << 20)
    d = zvpy.Device()
    capfd.readouterr()
    start = time.monotonic()
    data = d.get_raw_data(20_000_000)
    assert time.monotonic() - start >= 1.0
    assert "warning" not in capfd.readouterr().out
    assert sim.dropped == 0
    steps = numpy.diff(data.astype(numpy.int64)) % 16384
    assert numpy.all(steps == 1)  # the default ramp, without a gap


def test_fifo_size_is_checked(attach):
    with pytest.raises(ValueError):
        attach(realtime=True, fifo_samples=0)
