"""zvpy.Stream and Device.open_stream against the simulated detector."""
import ctypes
import gc
import pickle
import subprocess
import sys
import textwrap
import threading
import time
import warnings

import numpy
import pytest
from scipy import signal

import zvpy
import zvsim

# Stored calibrations of the test detector, in the identity block's order: digital high gain,
# digital low gain, analog high gain, analog low gain, then the balanced unit's two spare pairs.
CALIBRATIONS = [(0.5, 2.0), (3.0, -1.0), (0.1, 0.0), (0.2, 0.0), (1.0, 0.0), (1.0, 0.0)]
RATE = 80_000_000
CODES = 16384  # the simulator's default loop: every 14-bit code in turn
CLOSED = "zvpy error: stream is closed"
BUSY = "zvpy error: device is busy: a collection is running on another thread"


@pytest.fixture
def device(attach):
    attach(calibrations=CALIBRATIONS)
    d = zvpy.Device()
    yield d
    d.close()


def raw_stream(device, dtype=None):
    """A stream that gives the raw ADC codes."""
    s = device.open_stream(dtype)
    s.calibration_mode = "none"
    return s


def assert_consecutive_codes(codes, step=1):
    codes = numpy.asarray(codes, dtype=numpy.float64)
    assert numpy.array_equal(codes, numpy.round(codes))
    assert numpy.all(numpy.diff(codes) % CODES == step)


def assert_calibrated_codes(data, gain, offset):
    """data is consecutive codes through gain and offset."""
    codes = (data.astype(numpy.float64) - offset) / gain
    assert numpy.allclose(codes, numpy.round(codes), atol=1e-2)
    assert_consecutive_codes(numpy.round(codes))


def assert_library_error(excinfo, code, message):
    assert (excinfo.value.err, excinfo.value.errstr) == (code, message)
    assert str(excinfo.value) == f"libzv error ({code}): {message}"


# ---- Construction, attributes, argument forms ----


@pytest.mark.parametrize("dtype, expected, size", [
    (None, numpy.float64, 8), ("float32", numpy.float32, 4), (numpy.float32, numpy.float32, 4),
    ("f4", numpy.float32, 4), (numpy.dtype("float64"), numpy.float64, 8),
])
def test_dtype_chooses_the_element_type(device, dtype, expected, size):
    for s in (zvpy.Stream(device, dtype), device.open_stream(dtype=dtype)):
        assert s.dtype == numpy.dtype(expected) and isinstance(s.dtype, numpy.dtype)
        assert s.samplesize == size and s.device is device
        assert s.read_calibration().dtype == s.dtype


def test_construction_failures(device):
    invalid = "Invalid dtype specified. Only float32 and float64 currently supported"
    for dtype in ("int16", ">f4"):
        with pytest.raises(RuntimeError, match=f"^{invalid}$"):
            zvpy.Stream(device, dtype=dtype)
    with pytest.raises(TypeError):  # numpy's own error for a description it rejects
        zvpy.Stream(device, dtype="no such type")
    with pytest.raises(TypeError) as e:
        zvpy.Stream(42)
    assert str(e.value) == "Argument 'device' has incorrect type (expected zvpy.Device, got int)"
    for closed in (None, zvpy.Device(open=False)):
        with pytest.raises(RuntimeError, match="^Device is not open$"):
            zvpy.Stream(closed)
    device.close()
    assert zvpy._DDevice().open_stream("float32").samplesize == 4
    with pytest.raises(RuntimeError, match="^Device is not open$"):
        device.open_stream()


def test_attributes_and_argument_forms(device):
    s = device.open_stream()
    for name in ("device", "dtype", "samplerate", "samplesize"):
        with pytest.raises(AttributeError):
            setattr(s, name, None)
    assert not hasattr(s, "decimation")
    with pytest.raises(TypeError, match=r"read_filter\(\) takes no arguments \(1 given\)$"):
        s.read_filter(1)
    for name in ("acquire", "set_filter", "set_cutoff", "set_decimation"):
        with pytest.raises(TypeError, match=rf"{name}\(\) takes no keyword arguments$"):
            getattr(s, name)(value=1)
    assert s.benchmark(repeats=1, length=1000, with_flags=True) >= 0
    message = "no default __reduce__ due to non-trivial __cinit__"
    with pytest.raises(TypeError, match=message):
        pickle.dumps(s)
    with pytest.raises(TypeError, match=message):
        s.__setstate__(None)


# ---- Settings ----


def test_calibration_mode_and_custom_calibration(device):
    s = device.open_stream()
    s.set_calibration_mode(b"none")
    assert s.calibration_mode == "none" and list(s.calibration) == [1.0, 0.0]
    with pytest.raises(zvpy.Error) as e:
        s.calibration_mode = "Auto"
    assert_library_error(e, 48, "invalid calibration mode")
    assert s.calibration_mode == "none"
    with pytest.raises(UnicodeEncodeError):
        s.calibration_mode = "nöne"
    with pytest.raises(TypeError, match="^calibration mode must be str or bytes, not int$"):
        s.calibration_mode = 5

    s.calibration = (2.5, -1)
    assert s.calibration_mode == "custom" and list(s.read_calibration()) == [2.5, -1.0]
    s.calibration = s.calibration
    assert list(s.calibration) == [2.5, -1.0]
    assert_calibrated_codes(s.acquire(1000), 2.5, -1.0)
    s.set_custom_calibration([0.1, 0])
    assert s.calibration[0] == float(numpy.float32(0.1)) != 0.1
    with pytest.raises(ValueError, match="^Expected 'calibration' to be a length 2 array$"):
        s.set_custom_calibration([1.0])
    with pytest.raises(TypeError):
        s.set_custom_calibration(3.0)


def test_auto_calibration_follows_the_device(device):
    s = device.open_stream()
    low_gain = numpy.array(device.get_calibration("auto"))
    s.update_auto_calibration()
    assert numpy.allclose(s.calibration, low_gain, rtol=1e-7)
    s.calibration_wavelength = "1300"
    s.calibration_units = -3.5  # built-in int: -3
    assert s.calibration_units == -3
    assert numpy.allclose(s.calibration, device.get_rel_calibration(1300, "auto") / 1000,
                          rtol=1e-6)
    with pytest.raises(ValueError):
        s.calibration_units = "milli"
    s.calibration_units = -6
    s.calibration_wavelength = 1550
    device.highgain = True
    assert numpy.allclose(s.calibration, low_gain)  # not read again yet
    s.update_auto_calibration()
    assert numpy.allclose(s.calibration, CALIBRATIONS[0])
    # Outside the photodiode's curve: the library's error, and the refused wavelength is not
    # kept: the previous one and its calibration stay in force, so the stream still collects.
    with pytest.raises(zvpy.Error) as e:
        s.calibration_wavelength = 5000
    assert e.value.err == 48 and s.calibration_wavelength == 1550.0
    assert numpy.allclose(s.calibration, CALIBRATIONS[0])
    assert len(s.acquire(10)) == 10
    # The same for units when the device cannot give its calibration (the gain read stalls).
    zvsim.devices()[0].fail_request(0xCD)
    with pytest.raises(zvpy.Error, match="unable to read gain mode"):
        s.calibration_units = -3
    assert s.calibration_units == -6 and numpy.allclose(s.calibration, CALIBRATIONS[0])


def test_filter_cutoff_downsampling_and_decimation(device):
    s = device.open_stream()
    assert s.set_filter("butterworth8") is None and s.filter == "butterworth8"
    s.filter = b"rbj"
    assert s.read_filter() == "rbj"
    with pytest.raises(TypeError, match="^filter must be str or bytes, not NoneType$"):
        s.set_filter(None)
    with pytest.raises(ValueError, match="filter must not contain a NUL character"):
        s.filter = "butterworth8\0rbj"
    assert s.filter == "rbj"
    s.cutoff = "1e6"
    assert s.cutoff == 1e6
    # Out of range for the filter (which runs at the input rate, whatever the downsampling):
    # taken as given, with a warning.
    s.downsampling = 8
    for cutoff in (-5, 0, float("nan"), RATE / 2, 1e12):
        with pytest.warns(RuntimeWarning, match=r"outside 0 < cutoff < 4e\+07 Hz"):
            s.set_cutoff(cutoff)
        assert s.read_cutoff() == cutoff or cutoff != cutoff
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        s.cutoff = RATE / 2 * 0.999
    s.downsampling = 1

    s.downsampling = "4"
    assert s.downsampling == 4 and s.samplerate == RATE / 4
    s.set_downsampling(7.9)
    assert s.read_downsampling() == 7
    with pytest.raises(ValueError):
        s.set_downsampling("four")
    with pytest.raises(zvpy.Error) as e:
        s.downsampling = 0
    assert_library_error(e, 48, "invalid downsampling factor")
    assert s.downsampling == 1

    s.set_decimation("10")
    assert (s.downsampling, s.cutoff, s.filter, s.samplerate) == \
        (10, RATE * 0.4 / 10, "butterworth4", RATE / 10)
    with pytest.raises(zvpy.Error) as e:
        s.set_decimation(-1)
    assert_library_error(e, 48, "invalid decimation factor")
    s.set_decimation(1)
    assert (s.downsampling, s.filter) == (1, "none")


# ---- Acquisition from the simulated detector ----


def test_acquire_counts(attach):
    sim = attach()
    s = raw_stream(zvpy.Device(), "float32")
    data = s.acquire(5)
    assert data.dtype == numpy.float32 and data.shape == (5,)
    assert len(s.acquire("7")) == 7 and len(s.acquire(3.9)) == 3
    produced = sim.produced
    with pytest.raises(IndexError, match=r"^Out of bounds on buffer access \(axis 0\)$"):
        s.acquire(0)
    with pytest.raises(OverflowError, match="^can't convert negative value to uint64_t$"):
        s.acquire(-1)
    with pytest.raises(ValueError):
        s.acquire("many")
    assert sim.produced == produced and sim.alt_setting == 0


@pytest.mark.parametrize("dtype", ["float32", "float64"])
def test_acquire_calibrates_with_the_stored_calibration(device, dtype):
    # 300 000 samples fill three of the supply's 131 072-element blocks.
    data = raw_stream(device, dtype).acquire(300_000)
    assert data.dtype == numpy.dtype(dtype)
    assert_consecutive_codes(data)

    s = device.open_stream(dtype)
    assert_calibrated_codes(s.acquire(20_000), *numpy.array(CALIBRATIONS[1], dtype=dtype))
    s.calibration_units = -3
    s.calibration_wavelength = 1300
    assert_calibrated_codes(s.acquire(20_000), *device.get_rel_calibration(1300, "auto") / 1000)
    # Each run reads the gain again.
    device.highgain = True
    assert_calibrated_codes(s.acquire(1000), *device.get_rel_calibration(1300, "auto") / 1000)


def first_code(output, sos):
    """The raw code that produced the first output of a filter starting from rest."""
    return int(round(output[0] / numpy.prod(sos[:, 0])))


def test_filter_against_scipy(device):
    s = raw_stream(device)
    s.filter = "butterworth4"
    s.cutoff = 2_000_000
    sos = signal.butter(4, 2_000_000 / (RATE / 2), output="sos")
    data = s.acquire(40_000)
    codes = (first_code(data, sos) + numpy.arange(len(data))) % CODES
    expected = signal.sosfilt(sos, codes.astype(numpy.float64))
    assert numpy.allclose(data, expected, rtol=1e-7, atol=1e-6 * CODES)


@pytest.mark.parametrize("dtype", ["float32", "float64"])
def test_decimation_against_scipy(device, dtype):
    s = raw_stream(device, dtype)
    s.set_decimation(10)
    sos = signal.butter(4, (RATE * 0.4 / 10) / (RATE / 2), output="sos")
    data = s.acquire(5_000)
    assert len(data) == 5_000 and data.dtype == numpy.dtype(dtype)
    codes = (first_code(data, sos) + numpy.arange(50_000)) % CODES
    expected = signal.sosfilt(sos, codes.astype(numpy.float64))[::10]
    tolerance = 1e-3 if dtype == "float32" else 1e-6
    assert numpy.allclose(data, expected, rtol=tolerance, atol=tolerance * CODES)


def test_downsampling_keeps_every_nth_sample(device):
    s = raw_stream(device, "float32")
    s.downsampling = 3
    assert_consecutive_codes(s.acquire(100_000), step=3)


def test_unknown_filter_fails_when_the_run_starts(device, capfd):
    s = raw_stream(device)
    s.filter = "bogus"
    with pytest.raises(zvpy.Error) as e:
        s.acquire(10)
    assert_library_error(e, 53, "unknown filter mode")
    assert "zvpy.Stream.acquire" in [entry.name for entry in e.traceback]
    assert "unimplemented filter mode bogus\n" in capfd.readouterr().out


# ---- Additions: simulate, benchmark, context manager ----


def test_simulate_processes_the_ramp_without_streaming(attach):
    sim = attach()
    s = raw_stream(zvpy.Device(), "float32")
    produced = sim.produced
    assert list(s.simulate(10_000)) == list(range(10_000))
    s.set_custom_calibration((2.0, 1.0))
    s.downsampling = 4
    assert list(s.simulate(5)) == [1.0, 9.0, 17.0, 25.0, 33.0]
    assert sim.produced == produced


def test_benchmark(device):
    s = raw_stream(device)
    s.filter = "butterworth4"
    seconds = s.benchmark(131072, 20)
    assert isinstance(seconds, float) and seconds > 0
    for length, repeats in ((0, 1), (10, -1)):
        with pytest.raises(zvpy.Error) as e:
            s.benchmark(length, repeats)
        assert_library_error(e, 48, "invalid parameters passed")
    s.filter = "bogus"
    with pytest.raises(zvpy.Error) as e:
        s.benchmark(1000, 1)
    assert e.value.err == 53


def test_context_manager_closes_the_stream(device):
    with device.open_stream("float32") as s:
        s.read_samplerate()
    with pytest.raises(zvpy.Error, match=f"^{CLOSED}$"):
        s.read_samplerate()
    assert device.isopen()


# ---- Closing, release, repeated initialisation ----

CALLS = [
    ("acquire", (5,)), ("read_samplerate", ()), ("read_samplesize", ()),
    ("read_calibration_mode", ()), ("set_calibration_mode", ("none",)),
    ("update_auto_calibration", ()), ("read_calibration", ()),
    ("set_custom_calibration", ((1, 0),)), ("read_calibration_wavelength", ()),
    ("set_calibration_wavelength", (900,)), ("read_calibration_units", ()),
    ("set_calibration_units", (-3,)), ("read_cutoff", ()), ("set_cutoff", (1e6,)),
    ("read_filter", ()), ("set_filter", ("none",)), ("read_downsampling", ()),
    ("set_downsampling", (2,)), ("set_decimation", (2,)), ("simulate", (5,)),
    ("benchmark", (100, 1)),
]


def test_closed_or_uninitialised_stream_refuses_everything_but_close(device):
    s = device.open_stream()
    s.close()
    s.close()
    for stream in (s, zvpy.Stream.__new__(zvpy.Stream)):
        for name, args in CALLS:
            with pytest.raises(zvpy.Error, match=f"^{CLOSED}$"):
                getattr(stream, name)(*args)
        with pytest.raises(zvpy.Error, match=f"^{CLOSED}$"):
            stream.filter
        stream.close()
    assert zvpy.Stream.__new__(zvpy.Stream).device is None
    assert s.device is device  # the reference stays until the stream is released


def test_release_calls_close_by_name(device, monkeypatch):
    closed = []

    class Recording(zvpy.Stream):
        def close(self):
            closed.append(self.read_filter())
            super().close()

    s = Recording(device)
    s.filter = "rbj"
    del s
    gc.collect()
    assert closed == ["rbj"]

    reported = []
    monkeypatch.setattr(sys, "unraisablehook", reported.append)
    kept = []

    class Failing(zvpy.Stream):
        def close(self):
            kept.append(self)  # reachable again: the release must not free it
            raise RuntimeError("close failed")

    s = Failing(device)
    s.filter = "rbj"
    del s
    gc.collect()
    assert [str(report.exc_value) for report in reported] == ["close failed"]
    assert len(kept) == 1 and kept[0].filter == "rbj"
    reported.clear()
    kept.clear()
    gc.collect()
    assert reported == []  # finally released without calling close a second time


class MallocTotals(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
        "fordblks", "keepcost")]


def allocated_bytes():
    """Bytes the C heap has handed out and not taken back (glibc mallinfo2)."""
    mallinfo2 = ctypes.CDLL(None).mallinfo2
    mallinfo2.restype = MallocTotals
    totals = mallinfo2()
    return totals.uordblks + totals.hblkhd


def test_repeated_init_replaces_the_stream(device):
    s = device.open_stream()
    s.filter = "rbj"
    s.__init__(device, dtype="float32")
    assert (s.dtype, s.samplesize, s.filter) == (numpy.float32, 4, "none")
    s.filter = "chebyI4"
    # A failed repeat keeps the stream it has.
    with pytest.raises(RuntimeError):
        s.__init__(device, dtype="int8")
    with pytest.raises(RuntimeError):
        s.__init__(zvpy.Device(open=False))
    assert (s.dtype, s.filter) == (numpy.float32, "chebyI4")

    # Each stream holds a 16 384-sample scratch array: 2000 leaked ones would be 128 MiB.
    s.__init__(device)
    before = allocated_bytes()
    for _ in range(2000):
        s.__init__(device)
    assert allocated_bytes() - before < 8 << 20
    for _ in range(2000):  # released streams free theirs too
        device.open_stream()
    assert allocated_bytes() - before < 8 << 20


def test_failed_creation_raises_the_library_error(device):
    class ClosesTheDevice:
        # numpy reads a dtype description's `dtype` attribute; this one closes the device.
        @property
        def dtype(self):
            device.close()
            return numpy.dtype("float32")

    with pytest.raises(zvpy.Error) as e:
        zvpy.Stream(device, ClosesTheDevice())
    assert_library_error(e, 50, "invalid device")


# ---- A stream whose device was closed, reopened or is collecting ----

DEVICE_CALLS = [
    lambda s: s.acquire(10),
    lambda s: s.update_auto_calibration(),
    lambda s: s.set_calibration_mode("auto"),
    lambda s: s.set_calibration_wavelength(900),
    lambda s: s.set_calibration_units(-3),
    lambda s: s.simulate(10),
    lambda s: s.benchmark(100, 1),
]


@pytest.mark.parametrize("reopen", [False, True])
def test_stream_of_a_closed_or_reopened_device(device, reopen):
    s = device.open_stream()
    device.close()
    if reopen:
        device.open()
    for call in DEVICE_CALLS:
        with pytest.raises(zvpy.Error) as e:
            call(s)
        assert_library_error(e, 50, "invalid device")
    assert (s.calibration_mode, s.calibration_wavelength, s.calibration_units) == \
        ("auto", 1550.0, -6)
    # Settings need no device; outside mode "auto" neither do these.
    s.set_decimation(4)
    s.calibration = (2.0, 0.0)
    assert (s.filter, s.downsampling, s.samplerate) == ("butterworth4", 4, RATE / 4)
    s.calibration_mode = "none"
    s.calibration_wavelength = 900
    s.calibration_units = -3
    s.update_auto_calibration()
    assert len(s.simulate(10)) == 10 and s.benchmark(100, 1) >= 0
    with pytest.raises(zvpy.Error) as e:
        s.acquire(10)
    assert_library_error(e, 50, "invalid device")
    if reopen:
        assert len(raw_stream(device).acquire(10)) == 10


def test_stream_keeps_its_device_alive(attach):
    attach()
    s = raw_stream(zvpy.Device())
    gc.collect()
    assert s.device.isopen()
    assert_consecutive_codes(s.acquire(1000))


def test_stream_refuses_the_device_while_another_thread_collects(attach):
    # Paced at 1 MS/s, 600 000 samples take about 0.6 s (high speed: short transfers).
    sim = attach(samplerate=1_000_000, realtime=True, speed="high", calibrations=CALIBRATIONS)
    d = zvpy.Device()
    s = d.open_stream()
    result = {}
    worker = threading.Thread(target=lambda: result.update(data=d.get_raw_data(600_000)))
    worker.start()
    deadline = time.monotonic() + 5
    while sim.alt_setting != 1 and time.monotonic() < deadline:
        time.sleep(0.001)
    assert sim.alt_setting == 1
    for call in DEVICE_CALLS + [lambda s: d.open_stream()]:
        with pytest.raises(zvpy.Error) as e:
            call(s)
        assert str(e.value) == BUSY
    s.filter = "rbj"  # settings need no device
    assert sim.alt_setting == 1  # the refusals did not wait for the collection
    worker.join(10)
    assert not worker.is_alive() and len(result["data"]) == 600_000
    assert len(s.acquire(1000)) == 1000


# ---- Memory ----

PEAK_CHILD = textwrap.dedent("""
    import zvpy, zvsim

    def peak_kib():
        for line in open("/proc/self/status"):
            if line.startswith("VmHWM:"):
                return int(line.split()[1])

    zvsim.detach_all()
    zvsim.attach()
    s = zvpy.Device().open_stream("float32")
    s.calibration_mode = "none"
    s.acquire(100_000)
    before = peak_kib()
    data = s.acquire(20_000_000)
    print(peak_kib() - before, float(data[-1] - data[0]) % 16384)
""")


def test_acquire_peak_memory_is_the_result_array_plus_a_fixed_amount():
    done = subprocess.run([sys.executable, "-c", PEAK_CHILD], capture_output=True, text=True,
                          timeout=120, check=True)
    growth_kib, span = done.stdout.split()
    assert int(growth_kib) < 20_000_000 * 4 // 1024 + 64 * 1024
    assert float(span) == (20_000_000 - 1) % 16384
