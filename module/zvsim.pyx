# cython: language_level=3
# distutils: language = c++
"""Simulated HLM25 detectors for tests and demonstrations.

attach() plugs in a simulated detector. The library (and so zvpy) finds it after any real
detectors, in attach order, and talks to it through the same driver layer as to a real one. The
SimDevice it returns shows the detector's firmware state, logs the vendor requests it receives and
injects faults.

The sample stream: the detector plays SimDevice.samples in a loop (default: every 14-bit code
0..16383 in turn). Every isochronous packet it fills takes the next words, including the
transfers the acquisition engine discards and packets that carry an injected fault, so a
collection's first packet follows on from the last packet produced before it. Enabled ADC test
patterns replace bits 0-13; bits 14 and 15 carry ports S and T: their driven level, square wave
or pulse, or while they are inputs the bits of the words themselves (or a level set with
set_port_input).
"""

from libc.stdint cimport uint8_t, uint16_t, uint32_t, uint64_t
from libcpp.map cimport map as cmap
from libcpp.memory cimport shared_ptr
from libcpp.vector cimport vector
cimport zvsim_api as simapi

import numpy

# The stream faults inject() takes, by name.
_STREAM_FAULTS = {
    "bad_status": <int>simapi.FAULT_BAD_STATUS,
    "bad_length": <int>simapi.FAULT_BAD_LENGTH,
    "data_loss": <int>simapi.FAULT_DATA_LOSS,
    "error_status": <int>simapi.FAULT_ERROR_STATUS,
    "timeout": <int>simapi.FAULT_TIMEOUT,
}
_PORT_FIELDS = ("mode", "level", "period", "threshold")


cdef object _checked(str name, object value, object low, object high):
    """value as an int in [low, high], or ValueError naming the argument."""
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{name} must be an int")
    if not low <= value <= high:
        raise ValueError(f"{name} must be between {low} and {high}, not {value}")
    return value


cdef vector[uint8_t] _bytes_vector(str name, object data) except *:
    cdef vector[uint8_t] out
    try:
        raw = bytes(data)
    except TypeError:
        raise TypeError(f"{name} must be bytes-like") from None
    for b in raw:
        out.push_back(b)
    return out


cdef simapi.StreamFault _stream_fault(kind) except *:
    cdef int number
    try:
        number = _STREAM_FAULTS[kind]
    except (KeyError, TypeError):
        raise ValueError(f"kind must be one of {', '.join(_STREAM_FAULTS)}, not {kind!r}") from None
    return <simapi.StreamFault>number


cdef class SimDevice:
    """One attached (or formerly attached) simulated detector. Created by attach() and devices()."""

    cdef shared_ptr[simapi.SimulatedDetector] _sim

    def __init__(self, *args, **kwargs):
        raise TypeError("use zvsim.attach() to plug in a simulated detector")

    cdef simapi.SimulatedDetector *_detector(self) except NULL:
        # The detector; an object made otherwise than by attach() (SimDevice.__new__, a subclass
        # whose __init__ skips this one's) has none, and every operation refuses it.
        cdef simapi.SimulatedDetector *detector = self._sim.get()
        if detector == NULL:
            raise TypeError("this SimDevice was not made by zvsim.attach(): it has no detector")
        return detector

    def __repr__(self):
        if self._sim.get() == NULL:
            return "<SimDevice not made by zvsim.attach()>"
        state = "detached" if self.detached else "attached"
        return f"<SimDevice {self.serial!r} {self.path} {state}>"

    def __eq__(self, other):
        if not isinstance(other, SimDevice):
            return NotImplemented
        return self._detector() == (<SimDevice>other)._detector()

    def __hash__(self):
        return hash(self.path)

    @property
    def serial(self) -> str:
        """The serial text of the identity block."""
        return self._detector().serial().decode("latin-1")

    @property
    def path(self) -> str:
        """The device path the simulator driver lists it under."""
        return self._detector().path().decode()

    @property
    def speed(self) -> str:
        """Connection speed: "super" or "high"."""
        return "super" if self._detector().speed() == simapi.SPEED_SUPER else "high"

    @property
    def detached(self) -> bool:
        return self._detector().detached()

    def detach(self) -> None:
        """Unplugs the detector: transfers in flight fail, later operations fail, and the library
        no longer finds it. Detaching twice is harmless."""
        self._detector().detach()

    @property
    def samples(self):
        """The raw words streamed in a loop, as a uint16 numpy array (a copy). Setting them
        restarts the loop at its first word."""
        cdef vector[uint16_t] words = self._detector().samples()
        out = numpy.empty(words.size(), dtype=numpy.uint16)
        cdef uint16_t[::1] view = out
        cdef size_t i
        for i in range(words.size()):
            view[i] = words[i]
        return out

    @samples.setter
    def samples(self, value):
        arr = numpy.asarray(value)
        if arr.ndim != 1 or arr.size == 0:
            raise ValueError("samples must be a non-empty one-dimensional array")
        if arr.dtype.kind not in "iu":
            raise TypeError("samples must be integers")
        if int(arr.min()) < 0 or int(arr.max()) > 0xFFFF:
            raise ValueError("samples must be 16-bit words (0 to 65535)")
        cdef uint16_t[::1] view = arr.astype(numpy.uint16)
        cdef vector[uint16_t] words
        words.assign(&view[0], &view[0] + view.shape[0])
        self._detector().set_samples(words)

    @property
    def position(self) -> int:
        """Index in samples of the next word to be streamed (settable)."""
        return self._detector().position()

    @position.setter
    def position(self, value):
        self._detector().set_position(_checked("position", value, 0, 2**63))

    @property
    def produced(self) -> int:
        """Words streamed since the detector was attached."""
        return self._detector().produced()

    @property
    def dropped(self) -> int:
        """Samples the real-time FIFO dropped because the host fell behind, since attach."""
        return self._detector().dropped()

    @property
    def requests(self) -> list:
        """Vendor requests received, oldest first: tuples (direction, request, value, index, data)
        with direction "in" or "out" and data the bytes sent (out) or answered (in; empty when
        the request stalled). Standard descriptor reads are not listed."""
        cdef vector[simapi.LoggedRequest] log = self._detector().requests()
        out = []
        for r in log:
            data = bytes(r.data) if r.data.size() else b""
            out.append(("in" if r.in_ else "out", r.request, r.value, r.index, data))
        return out

    def clear_requests(self) -> None:
        self._detector().clear_requests()

    def fail_request(self, request, count=1) -> None:
        """Stalls the next `count` requests with code `request` (None: until clear_faults())."""
        n = simapi.kUntilCleared if count is None else _checked("count", count, 0, 2**31 - 1)
        self._detector().fail_request(_checked("request", request, 0, 255), n)

    def hang_request(self, request, count=1) -> None:
        """Leaves the next `count` requests with code `request` unanswered (None: until
        clear_faults()): each stays outstanding until the host's time-out cancels it or the
        detector is unplugged."""
        n = simapi.kUntilCleared if count is None else _checked("count", count, 0, 2**31 - 1)
        self._detector().hang_request(_checked("request", request, 0, 255), n)

    def respond(self, request, data, count=1) -> None:
        """Answers the next `count` IN requests with code `request` with `data` (cut to the
        request's length) instead of the firmware's answer (None: until clear_faults())."""
        n = simapi.kUntilCleared if count is None else _checked("count", count, 0, 2**31 - 1)
        self._detector().respond(_checked("request", request, 0, 255), _bytes_vector("data", data), n)

    def inject(self, kind, transfer=0, packet=None) -> None:
        """A stream fault in transfer `transfer` of the next collection, counted from 0 as the
        host completes them (the transfers the acquisition engine discards included), in packet
        `packet` or in every packet (None). Kinds: "bad_status" (non-zero packet status),
        "bad_length" (packet reports 2 bytes over its maximum size), "data_loss" (packet carries
        the data-loss marker), "error_status" (the transfer completes with a non-zero driver
        status), "timeout" (the transfer never completes until cancelled). A collection starts
        when the host selects alternate setting 1."""
        cdef simapi.StreamFault k = _stream_fault(kind)
        p = simapi.kEveryPacket if packet is None else _checked("packet", packet, 0, 2**31 - 1)
        self._detector().inject(k, _checked("transfer", transfer, 0, 2**32 - 1), p)

    def clear_faults(self) -> None:
        """Forgets every request fault and stream fault."""
        self._detector().clear_faults()

    def override_descriptor(self, descriptor_type, index, data) -> None:
        """Serves `data` verbatim for descriptor (type, index) from the next read on, for example
        a malformed configuration (type 2) or BOS (type 15) table."""
        self._detector().override_descriptor(_checked("descriptor_type", descriptor_type, 0, 255),
                                            _checked("index", index, 0, 255),
                                            _bytes_vector("data", data))

    def clear_descriptor_overrides(self) -> None:
        self._detector().clear_descriptor_overrides()

    @property
    def features(self) -> dict:
        """The feature states: keys "highgain", "antialias", "powerdown", "adcclock"."""
        states = self._detector().features()
        return {simapi.kFeatureNames[i].decode(): states[i] for i in range(simapi.kFeatureCount)}

    @property
    def adc_registers(self) -> dict:
        """ADC register number to the last value written to it."""
        cdef cmap[uint8_t, uint16_t] registers = self._detector().adc_registers()
        return {reg: value for reg, value in registers}

    @property
    def test_pattern(self) -> int:
        """The test-pattern code in effect (0 off, 4 checkerboard, 6 PN9, 8 user)."""
        return self._detector().test_pattern()

    @property
    def ports(self) -> dict:
        """Port number (0-6) to its last command record: a dict with keys "mode", "level",
        "period", "threshold" (all 0 before the first command)."""
        records = self._detector().ports()
        out = {}
        for p in range(simapi.kPortCount):
            r = records[p]
            out[p] = dict(zip(_PORT_FIELDS, (r.mode, r.level, r.period, r.threshold)))
        return out

    def set_port_input(self, port, level) -> None:
        """The level a port reads while it is an input: 0, 1, or None to follow the sample words
        (ports S and T) or read 0 (the others)."""
        lv = simapi.kInputFromStream if level is None else _checked("level", level, 0, 1)
        self._detector().set_port_input(_checked("port", port, 0, simapi.kPortCount - 1), lv)

    @property
    def alt_setting(self) -> int:
        """The selected alternate setting of interface 0 (1 while streaming)."""
        return self._detector().alt_setting()

    @property
    def packet_size(self) -> int:
        """Bytes per isochronous packet."""
        return self._detector().stream_packet_size()


cdef SimDevice _wrap(shared_ptr[simapi.SimulatedDetector] sim):
    cdef SimDevice device = SimDevice.__new__(SimDevice)
    device._sim = sim
    return device


def attach(serial="HLM25-S00001IC", *, firmware=(1, 0, 2), samplerate=80_000_000, adcbits=14,
           calibrations=None, vendor=0x2E9D, product=0x0080, speed="super", identity=None,
           samples=None, realtime=False, fifo_samples=65536) -> SimDevice:
    """Plugs in a simulated detector and returns it.

    serial: at most 15 bytes; character 6 'D' makes a balanced unit, 12 the photodiode ('I'
    1550 nm, 'V' 760 nm, 'N' 900 nm), 13 the connector ('C' FC, 'F' FS, 'L' FL).
    firmware: (major, minor, patch). samplerate: samples per second (0xFFFFFFFF: not set).
    adcbits: 255 = not set. calibrations: six (gain, offset) pairs, or None for all (0.0, 0.0).
    vendor, product: USB identifiers. speed: "super" or "high".
    identity: a full 72-byte identity block overriding serial, firmware, samplerate, adcbits and
    calibrations. samples: the words to stream (default: the ramp 0..16383).
    realtime: sample at the sample rate in wall-clock time into a FIFO of `fifo_samples`
    samples; transfers complete no faster than it fills, and when the host falls behind the FIFO
    drops samples and the detector sends the data-loss marker (see SimDevice.dropped).
    """
    cdef simapi.DetectorConfig config
    config.serial = serial.encode() if isinstance(serial, str) else bytes(serial)
    version = tuple(firmware)
    if len(version) != 3:
        raise ValueError("firmware must be (major, minor, patch)")
    for i in range(3):
        config.firmware[i] = _checked("firmware", version[i], 0, 255)
    config.samplerate = _checked("samplerate", samplerate, 0, 0xFFFFFFFF)
    config.adcbits = _checked("adcbits", adcbits, 0, 255)
    if calibrations is not None:
        pairs = [tuple(pair) for pair in calibrations]
        if len(pairs) != 6 or any(len(pair) != 2 for pair in pairs):
            raise ValueError("calibrations must be six (gain, offset) pairs")
        for i in range(6):
            config.calibrations[i].gain = float(pairs[i][0])
            config.calibrations[i].offset = float(pairs[i][1])
    config.vendor = _checked("vendor", vendor, 0, 0xFFFF)
    config.product = _checked("product", product, 0, 0xFFFF)
    if speed == "super":
        config.speed = simapi.SPEED_SUPER
    elif speed == "high":
        config.speed = simapi.SPEED_HIGH
    else:
        raise ValueError(f"speed must be 'super' or 'high', not {speed!r}")
    if identity is not None:
        config.identity = _bytes_vector("identity", identity)
        if config.identity.size() != simapi.kIdentitySize:
            raise ValueError(f"identity must be {simapi.kIdentitySize} bytes")
    config.realtime = bool(realtime)
    config.fifo_samples = _checked("fifo_samples", fifo_samples, 1, 0xFFFFFFFF)
    device = _wrap(simapi.attach(config))
    if samples is not None:
        try:
            device.samples = samples
        except BaseException:
            device.detach()
            raise
    return device


def detach_all() -> None:
    """Unplugs every attached simulated detector."""
    simapi.detach_all()


def devices() -> list:
    """The attached simulated detectors, in attach order."""
    cdef vector[shared_ptr[simapi.SimulatedDetector]] attached = simapi.devices()
    return [_wrap(sim) for sim in attached]
