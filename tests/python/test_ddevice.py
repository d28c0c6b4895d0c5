"""zvpy._DDevice: raw vendor requests and the ADC clock divider."""
import pickle

import numpy
import pytest

import zvpy


@pytest.fixture
def dev(opened):
    return opened(zvpy._DDevice)


def test_is_a_device(sim, dev):
    assert isinstance(dev, zvpy.Device)
    assert dev.serial == "HLM25-S00001IC"
    with pytest.raises(TypeError) as e:
        pickle.dumps(dev)
    assert str(e.value) == "no default __reduce__ due to non-trivial __cinit__"


def test_in_request(sim, dev):
    empty = dev.in_request(0x30)
    assert empty.dtype == numpy.uint8 and len(empty) == 0
    assert sim.requests == [("in", 0x30, 0, 0, b"")]
    sim.clear_requests()
    dev.highgain = True
    answer = dev.in_request(0xCD, index=0, length=4, timeout=500)
    # The device sends one byte; the rest stay 0.
    assert list(answer) == [1, 0, 0, 0]
    assert dev.in_request(request=0xC2, value=0, index=11, length=1).dtype == numpy.uint8


def test_in_request_conversions(sim, dev):
    cases = [
        (dict(request=-1), "can't convert negative value to uint8_t"),
        (dict(request=256), "value too large to convert to uint8_t"),
        (dict(request=1, value=65536), "value too large to convert to uint16_t"),
        (dict(request=1, index=-1), "can't convert negative value to uint16_t"),
        (dict(request=1, length=65536), "value too large to convert to uint16_t"),
        (dict(request=1, timeout=-1), "can't convert negative value to unsigned int"),
    ]
    for kwargs, message in cases:
        with pytest.raises(OverflowError) as e:
            dev.in_request(**kwargs)
        assert str(e.value) == message
    with pytest.raises(TypeError) as e:
        dev.in_request("x")
    assert str(e.value) == "an integer is required"
    with pytest.raises(ValueError):
        dev.in_request(1, length=-1)  # numpy refuses the array first
    with pytest.raises(TypeError):
        dev.in_request(1, bogus=2)
    assert sim.requests == []
    # A float goes through its __int__.
    dev.in_request(0xC2.__float__() + 0.7, index=11.9, length=1)
    assert sim.requests == [("in", 0xC2, 0, 11, b"\x00")]


def test_request_failures_use_the_status(sim, dev):
    sim.fail_request(0xC2)
    with pytest.raises(RuntimeError) as e:
        dev.in_request(0xC2, index=11, length=1)
    assert str(e.value) == "in_request: 32"
    sim.fail_request(0x21)
    with pytest.raises(RuntimeError) as e:
        dev.out_request(0x21)
    assert str(e.value) == "out_request: 32"
    dev.close()
    with pytest.raises(RuntimeError) as e:
        dev.in_request(1)
    assert str(e.value) == "in_request: 50"
    with pytest.raises(RuntimeError) as e:
        dev.out_request(1)
    assert str(e.value) == "out_request: 50"
    with pytest.raises(RuntimeError) as e:
        dev.set_clock_divide(1)
    assert str(e.value) == "out_request: 50"


def test_out_request_data(sim, dev):
    assert dev.out_request(0x21, 0, 0, numpy.arange(1024, dtype=numpy.uint16).astype(
        numpy.uint8)) is None
    assert sim.requests[-1][4] == bytes(numpy.arange(1024, dtype=numpy.uint16).astype(
        numpy.uint8))
    assert dev.out_request(0x21, data=numpy.zeros(0, numpy.uint8)) is None
    assert sim.requests[-1] == ("out", 0x21, 0, 0, b"")
    sim.clear_requests()
    # Too much data is refused before the request code is even converted.
    with pytest.raises(RuntimeError) as e:
        dev.out_request(-1, data=numpy.zeros(1025, dtype=numpy.uint8))
    assert str(e.value) == "data too large"
    with pytest.raises(ValueError) as e:
        dev.out_request(0x21, data=numpy.zeros(4, dtype=numpy.int16))
    assert str(e.value).startswith("Buffer dtype mismatch, expected 'uint8_t'")
    with pytest.raises(ValueError) as e:
        dev.out_request(0x21, data=numpy.zeros((2, 2), dtype=numpy.uint8))
    assert str(e.value) == "Buffer has wrong number of dimensions (expected 1, got 2)"
    # A strided view is refused rather than sent as the bytes that follow its first element.
    with pytest.raises(ValueError) as e:
        dev.out_request(0x21, data=numpy.arange(8, dtype=numpy.uint8)[::-2])
    assert str(e.value) == "ndarray is not C-contiguous"
    with pytest.raises(TypeError) as e:
        dev.out_request(0x21, data=[1, 2])
    assert str(e.value) == \
        "Argument 'data' has incorrect type (expected numpy.ndarray, got list)"
    with pytest.raises(TypeError):
        dev.out_request(0x21, data=None)
    with pytest.raises(OverflowError) as e:
        dev.out_request(0x21, value=-3)
    assert str(e.value) == "can't convert negative value to uint16_t"
    assert sim.requests == []


def test_set_clock_divide(sim, dev):
    dev.set_clock_divide(2)
    assert sim.requests == [("out", 0xC0, 1, 11, b""), ("out", 0xC0, 1, 255, b""),
                            ("in", 0xC2, 0, 11, b"\x01")]
    sim.clear_requests()
    dev.set_clock_divide(4.0)
    assert sim.requests[0] == ("out", 0xC0, 3, 11, b"")
    assert sim.adc_registers[11] == 3
    sim.clear_requests()
    for bad in (3, 0, 8, "2"):
        with pytest.raises(ValueError) as e:
            dev.set_clock_divide(bad)
        assert str(e.value) == "Invalid clock divide"
    assert sim.requests == []
    sim.respond(0xC2, b"\x00")
    with pytest.raises(RuntimeError) as e:
        dev.set_clock_divide(1 + 1)
    assert str(e.value) == "clock divide unable to be set"
    with pytest.raises(TypeError):
        dev.set_clock_divide(divide=2)


def test_overridden_requests_are_used(sim):
    class Logging(zvpy._DDevice):
        def out_request(self, request, value=0, index=0, data=None, timeout=1000):
            self.sent.append((request, value, index))

        def in_request(self, request, value=0, index=0, length=0, timeout=1000):
            return [1]

    d = Logging()
    d.sent = []
    d.set_clock_divide(2)
    assert d.sent == [(192, 1, 11), (192, 1, 255)]
