"""Where the live views get their samples: a source of processed power samples (µW, float32)
read in blocks, and the settings of the detector and stream behind it.

The interface the views use. Today AcquireSource implements it with one collection per block,
standing in until the continuous stream can be read; a source on Stream.start/read replaces it:

    source.serial, source.device_samplerate       the detector
    source.samplerate                             S/s of the samples read (after decimation)
    source.state()                                {setting: value} of the SOURCE settings and
                                                  "samplerate"; safe from any thread
    source.limits()                               bounds only the source knows ({"nyquist": Hz})
    source.configure(name, value)                 validated and applied at once (before reads)
    source.request(name, value) -> Future         a validated change, applied by the reading
                                                  thread before its next read; the future gives
                                                  the new state() or raises SettingError
    source.start(); source.read(n, timeout)       the next n samples as a block with the
                                                  attributes of zvpy.Block (samples, flags or None,
                                                  index, time, lost, gaps, changes); raises the
                                                  built-in TimeoutError after `timeout` seconds
    source.lost_total                             samples lost since start
    source.stop(); source.close()                 the detector left idle
"""
import concurrent.futures
import queue
import threading
import time
from dataclasses import dataclass

import numpy

from zvtool.live.settings import SettingError, validate


@dataclass
class LiveBlock:
    """A block read from a source, shaped as zvpy.Block."""
    samples: numpy.ndarray
    flags: object  # uint8 array (bit 0 port S, bit 1 port T), or None when not delivered
    index: int  # stream position of the first sample
    time: float  # host time (UNIX seconds) of the first sample
    lost: int = 0
    gaps: tuple = ()
    changes: tuple = ()


class DeviceSource:
    """The settings side of a source on one opened detector: every change is applied by the
    thread that reads, between reads, so the detector is never asked two things at once."""

    def __init__(self, device):
        self.device = device
        self.stream = device.open_stream("float32")
        self.serial = device.serial
        self.device_samplerate = float(device.samplerate)
        self.lost_total = 0
        self._pending = queue.SimpleQueue()
        self._lock = threading.Lock()
        self._state = {}
        self._refresh_state()

    @property
    def samplerate(self):
        return self.state()["samplerate"]

    def limits(self):
        return {"nyquist": self.device_samplerate / 2}

    def state(self):
        with self._lock:
            return dict(self._state)

    def request(self, name, value):
        future = concurrent.futures.Future()
        self._pending.put((name, value, future))
        return future

    def configure(self, name, value):
        """Validates and applies a change at once; only from the thread that reads, or before
        reading starts. Returns the new state(); raises SettingError."""
        future = self.request(name, validate(name, value, self.limits()))
        self._apply_pending()
        return future.result()

    def read(self, n, timeout=None):
        self._apply_pending()
        return self._read(n, timeout)

    def start(self):
        raise NotImplementedError

    def stop(self):
        pass

    def close(self):
        self.stop()
        self._apply_pending(refuse=True)
        self.stream.close()

    def _read(self, n, timeout):
        raise NotImplementedError

    def _apply_pending(self, refuse=False):
        while True:
            try:
                name, value, future = self._pending.get_nowait()
            except queue.Empty:
                return
            if refuse:
                future.set_exception(SettingError(f"{name} not changed: the view is closing"))
                continue
            try:
                self._apply(name, value)
            except SettingError as error:
                future.set_exception(error)
            except Exception as error:  # the library's refusal, told to the one who asked
                future.set_exception(SettingError(f"the detector refused {name} = {value}: "
                                                  f"{error}"))
            finally:
                self._refresh_state()
            if not future.done():
                future.set_result(self.state())

    def _apply(self, name, value):
        if name == "highgain":
            self.device.set_highgain(value)
        elif name == "filter":
            self.stream.set_filter(value)
        elif name == "cutoff":
            self.stream.set_cutoff(value)
        elif name == "decimation":
            self.stream.set_decimation(value)  # also sets the filter and cutoff it needs
        elif name == "wavelength":
            if not 0 < self.device.get_rel_responsivity(value) < float("inf"):
                raise SettingError(f"the photodiode does not respond at {value:g} nm; "
                                   f"its peak is at {self.device.peak_responsivity} nm")
            self.stream.set_calibration_wavelength(value)
        else:
            raise SettingError(f"{name} is not a setting of the detector")

    def _refresh_state(self):
        state = {
            "highgain": bool(self.device.read_highgain()),
            "filter": self.stream.read_filter(),
            "cutoff": self.stream.read_cutoff(),
            "decimation": self.stream.downsampling,
            "wavelength": self.stream.read_calibration_wavelength(),
            "samplerate": self.stream.samplerate,
        }
        with self._lock:
            self._state = state


class AcquireSource(DeviceSource):
    """TEMPORARY, until the continuous stream exists: each read is a collection of its own
    (Stream.acquire), paced by the wall clock so that samples come at the detector's rate. A
    collection starts and stops the detector, so consecutive blocks need not join up, port levels
    are not delivered (flags None: no triggered trace) and losses are not seen. Its replacement
    reads a started Stream and keeps everything else of DeviceSource."""

    # Catch-up allowed when reads fall behind the clock (the rest of the delay is skipped).
    MAX_BEHIND = 0.25

    def start(self):
        self._clock = time.monotonic()
        self._index = 0

    def _read(self, n, timeout):
        due = self._clock + n / self.samplerate
        wait = due - time.monotonic()
        if timeout is not None and wait > timeout:
            time.sleep(timeout)
            raise TimeoutError(f"{n} samples take longer than {timeout} s")
        if wait > 0:
            time.sleep(wait)
        self._clock = max(due, time.monotonic() - self.MAX_BEHIND)
        start = time.time()
        samples = self.stream.acquire(n)
        block = LiveBlock(samples, None, self._index, start)
        self._index += n
        return block
