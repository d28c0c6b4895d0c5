"""Where the live views get their samples: a continuous stream of processed power samples (µW,
float32) of one detector, read in blocks, and the settings of the detector and stream behind it.

The interface the views use:

    source.serial, source.device_samplerate       the detector
    source.samplerate                             S/s of the samples read (after decimation)
    source.state()                                {setting: value} of the SOURCE settings and
                                                  "samplerate"; safe from any thread
    source.limits()                               bounds only the source knows ({"nyquist": Hz})
    source.configure(name, value)                 validated and applied at once (before reads)
    source.request(name, value) -> Future         a validated change, applied by the reading
                                                  thread before its next read; the future gives
                                                  the new state() or raises SettingError
    source.start(); source.read(n, timeout)       the next n samples as a zvpy.Block (samples,
                                                  flags, index, time, lost, gaps, changes);
                                                  raises the built-in TimeoutError after
                                                  `timeout` seconds, zvpy.Error when the detector
                                                  fails or is unplugged
    source.generation                             grows at every start of a stream: the blocks of
                                                  a new generation do not continue the previous
                                                  ones (their index starts again at 0)
    source.reconnect()                            after a failed read: the detector opened again
    source.can_record                             whether this zvpy records a running stream
    source.request_recording(path) -> Future      a recording to a new file started by the
                                                  reading thread (None: the running one stopped);
                                                  reads wait for it meanwhile
    source.recording_status()                     {name, path, running, samples_written,
                                                  lost_total, seconds, error} of the recording
                                                  running or last ended, or None; any thread
    source.lost_total                             samples lost since the view started
    source.stop(); source.close()                 the detector left idle and closed
"""
import concurrent.futures
import queue
import threading
import warnings

import zvpy

from zvtool.live import recording
from zvtool.live.settings import SettingError, validate

RECORD = "recording"  # the request that starts (a path) or stops (None) a recording


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
        self._apply_pending(refused="the view is closing")
        self.stream.close()
        self.device.close()

    def _read(self, n, timeout):
        raise NotImplementedError

    def _apply_pending(self, refused=None):
        """Applies the changes asked for, in order; with `refused` (the reason), refuses them."""
        while True:
            try:
                name, value, future = self._pending.get_nowait()
            except queue.Empty:
                return
            if refused:
                future.set_exception(SettingError(f"{name} not changed: {refused}"))
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


class StreamSource(DeviceSource):
    """A source on the detector's continuous stream: consecutive reads join up exactly, port
    levels come with every sample and losses are counted (not warned about).

    A running stream takes gain and wavelength changes as it runs, and a new cutoff when its
    filter is redesigned as it runs (LIVE_CUTOFF_FILTERS); the other filters keep their design
    until the next start, and a new filter or decimation needs a stopped stream. For those the
    source stops the stream, changes it and starts it again (a break of a few milliseconds;
    `generation` grows), so that what the view shows is always what the settings say.

    After a failed read (the detector unplugged, say) reconnect() closes the stream and the
    detector and, once the detector with the same serial number is back, opens it with the
    settings in force before and starts streaming again.

    A recording (request_recording) takes the stream's samples to a file; meanwhile reads wait
    for it and raise TimeoutError, and changes that would restart the stream are refused."""

    # Seconds of samples the stream holds for a reader that falls behind (80 MB of raw words at
    # 80 MS/s): far more than a view ever lags, far less than the machine's memory.
    BUFFER_SECONDS = 0.5
    # The settings a running stream cannot change.
    RESTARTING = ("filter", "decimation")
    # The filter modes whose cutoff a running stream takes at once (a cutoff without a filter
    # changes nothing); every other filter is designed once per start.
    LIVE_CUTOFF_FILTERS = ("none", "badbutter2", "badbutter4", "badbutter8")

    # Seconds a read waits for a recording before it raises TimeoutError (the reading thread's
    # pace while the recorder reads the samples).
    RECORDING_POLL = 0.25

    def __init__(self, device):
        super().__init__(device)
        self.generation = 0
        self.recording = None  # the LiveRecording running or last ended

    @property
    def can_record(self):
        return recording.available()

    def request_recording(self, path):
        """A Future for a recording to `path` started (path None: the running one stopped) by
        the reading thread; it gives the new state() or raises SettingError."""
        return self.request(RECORD, path)

    def recording_status(self):
        return None if self.recording is None else self.recording.status()

    def _recording_running(self):
        return self.recording is not None and self.recording.running

    def read(self, n, timeout=None):
        self._apply_pending()
        if self._recording_running():
            poll = self.RECORDING_POLL if timeout is None else min(timeout, self.RECORDING_POLL)
            if not self.recording.wait(poll):
                raise TimeoutError("the stream is being recorded: its samples go to the file")
        return self._read(n, timeout)

    def start(self):
        # Losses are counted and shown by the views (Block.lost, lost_total): a warning for each
        # would only flood the terminal the view runs in. Only the reads made here are quieted.
        warnings.filterwarnings("ignore", category=zvpy.DataLossWarning, module=__name__)
        self.stream.start(buffer_seconds=self.BUFFER_SECONDS)
        self.generation += 1

    def stop(self):
        if self._recording_running():  # its file closed first, with what it recorded
            self.recording.stop()
        if self.stream is not None:  # None while a reconnect() has not found the detector
            self.stream.stop()

    def _read(self, n, timeout):
        block = self.stream.read(n, timeout=timeout)
        self.lost_total += block.lost
        return block

    def _apply(self, name, value):
        if name == RECORD:
            return self._record(value)
        restart = name in self.RESTARTING or (
            name == "cutoff" and self.stream.read_filter() not in self.LIVE_CUTOFF_FILTERS)
        if not restart or not self.stream.running:
            return super()._apply(name, value)
        if self._recording_running():
            raise SettingError(f"{name} cannot change while recording (it restarts the stream, "
                               "which would end the recording): stop the recording first")
        self.stream.stop()
        try:
            super()._apply(name, value)
        finally:
            self.start()

    def _record(self, path):
        if path is None:
            if not self._recording_running():
                raise SettingError("no recording is running")
            return self.recording.stop()
        if not self.can_record:
            raise SettingError("this zvpy cannot record a running stream")
        if self._recording_running():
            raise SettingError(f"a recording is running already ({self.recording.path})")
        try:
            self.recording = recording.LiveRecording(self.stream, path)
        except (zvpy.Error, OSError) as error:
            raise SettingError(f"cannot record to {path}: {error}") from None

    def reconnect(self):
        """Called by the reading thread after a read failed: closes the stream and the detector
        and opens the detector with the same serial number again, with the settings in force
        before, and starts it. True once it streams again; False while the detector is not
        back (call again later). Changes asked for meanwhile are refused."""
        self._apply_pending(refused=f"the detector {self.serial} is not connected")
        if self.device is not None:
            _close_quietly(self.stream, self.device)
            self.device = self.stream = None
        try:
            device = zvpy.Device(serial=self.serial)
        except zvpy.Error:  # not back yet (or not accessible yet)
            return False
        self.device = device
        try:
            self.stream = device.open_stream("float32")
            self._restore(self.state())
            self.start()
        except zvpy.Error:  # unplugged again while being set up
            _close_quietly(self.stream, device)
            self.device = self.stream = None
            return False
        self._refresh_state()
        return True

    def close(self):
        if self.device is not None:
            super().close()
        else:  # between a failed read and a successful reconnect()
            self._apply_pending(refused="the view is closing")

    def _restore(self, state):
        """The settings of `state` on the detector and stream just opened."""
        self.device.set_highgain(state["highgain"])
        self.stream.set_decimation(state["decimation"])
        self.stream.set_filter(state["filter"])
        # A cutoff never changed is the stream's default (half the rate), which set_cutoff would
        # warn about: only a chosen one is given again.
        if state["filter"] != "none" and state["cutoff"] != self.stream.read_cutoff():
            self.stream.set_cutoff(state["cutoff"])
        self.stream.set_calibration_wavelength(state["wavelength"])


def _close_quietly(stream, device):
    """Closes what is left of a stream and its detector after a failure: errors of a detector
    that is gone say nothing new."""
    for thing in (stream, device):
        if thing is not None:
            try:
                thing.close()
            except zvpy.Error:
                pass
