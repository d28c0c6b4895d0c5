"""zvpy.Device.get_raw_data and get_calibrated_data against the simulated detector."""
import threading
import time

import numpy
import pytest

import zvpy

S_HIGH = 0x4000
T_HIGH = 0x8000

# A loop of 1000 words whose codes count 0..999, with port S high from code 500 on: a rising
# edge on S always starts at code 500.
EDGE_LOOP = [code | (S_HIGH if code >= 500 else 0) for code in range(1000)]


def test_plain_collection(sim):
    d = zvpy.Device()
    data = d.get_raw_data(5000)
    assert data.dtype == numpy.uint16 and data.shape == (5000,)
    # The default stream is the ramp of every 14-bit code: consecutive samples.
    assert numpy.all(numpy.diff(data.astype(numpy.int64)) % 16384 == 1)


def test_zero_and_negative_counts(sim):
    d = zvpy.Device()
    empty = d.get_raw_data(0)
    assert empty.dtype == numpy.uint16 and len(empty) == 0
    produced = sim.produced
    with pytest.raises(OverflowError) as e:
        d.get_raw_data(-1)
    assert str(e.value) == "can't convert negative value to uint64_t"
    assert sim.produced == produced and sim.alt_setting == 0


def test_mask_clears_the_port_bits(attach):
    attach(samples=[c | S_HIGH | T_HIGH for c in range(0, 16384, 7)])
    d = zvpy.Device()
    assert d.get_raw_data(4000).max() <= 0x3FFF
    unmasked = d.get_raw_data(4000, mask=False)
    assert numpy.all(unmasked & (S_HIGH | T_HIGH) == S_HIGH | T_HIGH)
    assert d.get_raw_data(4000, False).min() >= S_HIGH | T_HIGH


def test_trigger_words(attach):
    attach(samples=EDGE_LOOP)
    d = zvpy.Device()
    data = d.get_raw_data(100, trig_mode="Rising", trig_port="s")
    assert list(data[:3]) == [500, 501, 502]
    data = d.get_raw_data(100, trig_mode="falling", trig_port="S")
    assert data[0] == 0
    # "auto" starts at once, whatever the port.
    assert len(d.get_raw_data(10, trig_mode="AUTO")) == 10


def test_bad_trigger_words_touch_nothing(attach):
    sim = attach(samples=EDGE_LOOP)
    d = zvpy.Device()
    produced = sim.produced
    cases = [
        (dict(trig_mode="rising", trig_port="A"), "invalid trigger mode or port"),
        (dict(trig_mode=5, trig_port="S"), "invalid trigger mode"),
        (dict(trig_mode="high", trig_port=3), "invalid trigger port"),
        (dict(trig_port="S"), "invalid trigger mode"),
        (dict(samples_per_trigger=3), "invalid trigger mode"),
    ]
    for kwargs, message in cases:
        with pytest.raises(zvpy.Error) as e:
            d.get_raw_data(10, **kwargs)
        assert str(e.value) == "zvpy error: " + message
    assert sim.produced == produced


def test_bursts_per_trigger(attach):
    attach(samples=EDGE_LOOP)
    d = zvpy.Device()
    data = d.get_raw_data(10, trig_mode="rising", trig_port="S", samples_per_trigger=3)
    assert list(data) == [500, 501, 502] * 3 + [0]
    with pytest.raises(zvpy.Error) as e:
        d.get_raw_data(10, trig_mode="rising", trig_port="S", samples_per_trigger=0)
    assert (e.value.err, e.value.errstr) == (48, "samples_per_trigger can't be 0")


def test_collection_failure_raises_library_error(sim):
    d = zvpy.Device()
    # The first transfer delivered (after the four discarded) completes with an error status.
    sim.inject("error_status", transfer=4)
    with pytest.raises(zvpy.Error) as e:
        d.get_raw_data(1000)
    assert (e.value.err, e.value.errstr) == (32, "generic usb error")
    d.close()
    with pytest.raises(zvpy.Error) as e:
        d.get_raw_data(10)
    assert (e.value.err, e.value.errstr) == (50, "invalid device")


def test_calibrated_data(attach):
    pairs = [(2.0, 0.5), (3.0, -1.0), (1.0, 0.0), (1.0, 0.0), (1.0, 0.0), (1.0, 0.0)]
    sim = attach(samples=[100 | S_HIGH], calibrations=pairs)
    d = zvpy.Device()
    d.highgain = True
    data = d.get_calibrated_data(50)
    assert data.dtype == numpy.float64 and data.shape == (50,)
    assert numpy.all(data == 100 * 2.0 + 0.5)
    d.highgain = False
    assert numpy.all(d.get_calibrated_data(50) == 100 * 3.0 - 1.0)
    # Power comes from the 14-bit code: keeping the port bits is refused.
    assert numpy.all(d.get_calibrated_data(50, mask=True) == 100 * 3.0 - 1.0)
    with pytest.raises(ValueError, match="mask=False would count the port bits as light"):
        d.get_calibrated_data(50, mask=False)
    # At another wavelength the pair is divided by the responsivity (at single precision).
    r = numpy.float32(d.get_rel_responsivity(1300.0)).item()
    data = d.get_calibrated_data(50, wavelength=1300)
    assert numpy.allclose(data, 100 * (3.0 / r) - 1.0 / r, rtol=1e-15, atol=0)
    # The gain is read after the collection, once per call.
    sim.clear_requests()
    d.get_calibrated_data(nsamples=5)
    assert [r[1] for r in sim.requests] == [0xCD]
    with pytest.raises(TypeError):
        d.get_calibrated_data(5, bogus=1)


def test_calibrated_data_on_closed_device_fails_in_the_collection(sim):
    d = zvpy.Device(open=False)
    with pytest.raises(zvpy.Error) as e:
        d.get_calibrated_data(5)
    assert (e.value.err, e.value.errstr) == (50, "invalid device")
    assert "zvpy.Device.get_raw_data" in [entry.name for entry in e.traceback]


def test_other_threads_cannot_use_the_device_while_it_collects(attach):
    # Paced at 1 MS/s, 600 000 samples take about 0.6 s (high speed: short transfers).
    sim = attach(samplerate=1_000_000, realtime=True, speed="high")
    d = zvpy.Device()
    result = {}

    def collect():
        result["data"] = d.get_raw_data(600_000)

    worker = threading.Thread(target=collect)
    worker.start()
    # The detector streams once the collection has selected the streaming setting.
    deadline = time.monotonic() + 5
    while sim.alt_setting != 1 and time.monotonic() < deadline:
        time.sleep(0.001)
    assert sim.alt_setting == 1
    busy = "zvpy error: device is busy: a collection is running on another thread"
    for call in (d.close, lambda: d.open(), lambda: d.get_raw_data(10), lambda: d.serial,
                 lambda: d.read_highgain(), lambda: d.port_read("A"), d.reset):
        with pytest.raises(zvpy.Error) as e:
            call()
        assert str(e.value) == busy
    assert d.isopen()
    assert sim.alt_setting == 1  # still collecting: the refusals did not wait for it
    worker.join(10)
    assert not worker.is_alive()
    assert len(result["data"]) == 600_000
    d.close()
    assert not d.isopen()


def test_two_detectors_on_two_threads_each_see_their_own_errors(attach):
    # get_raw_data releases the interpreter lock, so the two collections and their error reports
    # interleave; each thread must read the error of its own call, never the other's (nor the
    # "success" a call of the other thread stored meanwhile).
    faulty_sim, clean_sim = attach("HLM25-S0000AIC"), attach("HLM25-S0000BIC")
    rounds = 30
    outcomes = {"A": [], "B": []}

    def collect(name, device, sim):
        for _ in range(rounds):
            if sim is not None:
                sim.inject("error_status", 6, 3)
            try:
                outcomes[name].append(len(device.get_raw_data(1_000_000)))
            except zvpy.Error as e:
                outcomes[name].append((e.err, e.errstr))

    with zvpy.Device(serial="HLM25-S0000AIC") as a, zvpy.Device(serial="HLM25-S0000BIC") as b:
        threads = [threading.Thread(target=collect, args=("A", a, faulty_sim)),
                   threading.Thread(target=collect, args=("B", b, None))]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(120)
    assert outcomes["A"] == [(32, "generic usb error")] * rounds
    assert outcomes["B"] == [1_000_000] * rounds
