"""Type information for zvpy, the Python interface to libzv (HLM25 USB photodetector).

Units used throughout: sample rates in samples per second (S/s), wavelengths in nm, optical
power in µW (a Stream: watts × 10**calibration_units, -6 by default), port times in device
clock cycles of about 5 ns, time-outs in ms.
"""

import builtins
from collections.abc import Iterable, Iterator
from os import PathLike
from types import TracebackType
from typing import Any, Final, Generic, Literal, TypedDict, TypeVar, overload

import numpy
from numpy.typing import ArrayLike, DTypeLike, NDArray

# Keys of port_lookup (matched exactly: "a" is not a port); the ints are PORT_A .. PORT_T.
_Port = Literal["A", "B", "S", "T", "LEDR", "LEDG", "LEDB"] | int
# Keys of calibrationtype_lookup; the ints are the CALIBRATION_* constants (0 to 4).
_CalibrationType = (
    Literal[
        "auto",
        "digital highgain",
        "digital lowgain",
        "analog highgain",
        "analog lowgain",
        "balanced",
        "balanced digital",
        "balanced analog",
        "p1 digital",
        "p1 analog",
        "p2 digital",
        "p2 analog",
    ]
    | int
)
_UsbSpeed = Literal["unknown", "low", "full", "high", "super"]
# Descriptions numpy reads as float32 or float64 (a Stream's element type).
_Float32Like = (
    Literal["float32", "f4", "<f4", "single"] | type[numpy.float32] | numpy.dtype[numpy.float32]
)
_Float64Like = (
    None
    | Literal["float64", "f8", "<f8", "double", "float"]
    | type[numpy.float64]
    | type[float]
    | numpy.dtype[numpy.float64]
)
# The calibration pair (gain, offset): value = gain * code + offset.
_CalibrationPair = tuple[float, float] | list[float] | NDArray[numpy.floating[Any]]

_F = TypeVar("_F", numpy.float32, numpy.float64)
_T = TypeVar("_T", numpy.uint16, numpy.float32, numpy.float64)
_D = TypeVar("_D", bound=Device)
_S = TypeVar("_S", bound=Stream[Any])
_R = TypeVar("_R", bound=Recording)
_Rec = TypeVar("_Rec", bound=Recorder)
# Power units by name (watts times 1e-12, 1e-9, 1e-6, 1e-3, 1).
_PowerUnit = Literal["pW", "nW", "uW", "µW", "mW", "W"]

class _DeviceInfo(TypedDict):
    serial: str
    product: str
    samplerate: int  # S/s
    adcbits: int
    firmware: tuple[int, int, int]
    usb_speed: _UsbSpeed

PORT_A: Final = 0
PORT_B: Final = 1
PORT_S: Final = 2
PORT_T: Final = 3

CALIBRATION_DIGITAL_HIGHGAIN: Final = 0
CALIBRATION_DIGITAL_LOWGAIN: Final = 1
CALIBRATION_ANALOG_HIGHGAIN: Final = 2
CALIBRATION_ANALOG_LOWGAIN: Final = 3
CALIBRATION_DIGITAL_AUTO: Final = 4

# The words the methods accept, read by name at each use: rebinding one changes the words.
error_lookup: dict[Any, Any]
usb_speed_lookup: dict[int, str]
port_lookup: dict[int | str, int]
calibrationtype_lookup: dict[int | str, int]
_trigger_mode_lookup: dict[tuple[str, str], int]

def version() -> tuple[int, int, int]:
    """The version of libzv used with zvpy, (major, minor, patch)."""

def init() -> None: ...
def exit() -> None: ...
def libusb_version() -> str:
    """The version of the libusb library serving real detectors."""

def list_devices() -> list[_DeviceInfo]:
    """The attached detectors, real ones first, without keeping any open."""

# uint16 and float32 arrays are also ArrayLike: the overlap is meant, the first match wins.
@overload
def envelope(  # type: ignore[misc]
    samples: NDArray[numpy.uint16], columns: int
) -> tuple[NDArray[numpy.uint16], NDArray[numpy.uint16]]: ...
@overload
def envelope(  # type: ignore[misc]
    samples: NDArray[numpy.float32], columns: int
) -> tuple[NDArray[numpy.float32], NDArray[numpy.float32]]: ...
@overload
def envelope(
    samples: ArrayLike, columns: int
) -> tuple[NDArray[numpy.float64], NDArray[numpy.float64]]:
    """(mins, maxs) of `columns` columns: sample i of n lands in column i * columns // n; a
    column holding no sample repeats the one before it. uint16 and float32 keep their type,
    other real numbers are folded as float64; a NaN is its column's minimum and maximum."""

class Error(Exception):
    """A libzv error; err and errstr are libzv's last error code and message."""

    err: int
    errstr: str
    def __init__(self, msg: object = None) -> None: ...

class NoDeviceError(Error):
    """No detector (with the requested serial) was found."""

class DataLossWarning(RuntimeWarning):
    """Samples of a continuous stream were lost (issued once per loss)."""

class TimeoutError(Error, builtins.TimeoutError):
    """A blocking call waited longer than its time-out; a read keeps what it gathered."""

class Device:
    """One HLM25 detector; opened at creation unless open=False."""

    def __init__(self, open: bool = True, serial: str | bytes | None = None) -> None: ...
    def __enter__(self: _D) -> _D: ...
    def __exit__(
        self,
        exc_type: type[BaseException] | None,
        exc_value: BaseException | None,
        traceback: TracebackType | None,
    ) -> None: ...
    def open(self, serial: str | bytes | None = None) -> None:
        """Opens the first detector, or the first whose serial contains `serial`."""

    def close(self) -> None: ...
    def isopen(self) -> bool: ...
    @property
    def serial(self) -> str: ...
    @property
    def product(self) -> str: ...
    @property
    def samplerate(self) -> int:
        """Raw sample rate in S/s."""

    @property
    def adcbits(self) -> int: ...
    @property
    def fwversion(self) -> tuple[int, int, int]: ...
    @property
    def usb_speed(self) -> _UsbSpeed: ...
    @property
    def peak_responsivity(self) -> int:
        """Wavelength of the photodiode's peak responsivity, nm."""
    # Data collection. Raw samples: bits 0-13 ADC code, bit 14 port S, bit 15 port T.
    def get_raw_data(
        self,
        nsamples: int,
        mask: bool = True,
        trig_mode: str | None = None,
        trig_port: str | None = None,
        samples_per_trigger: int | None = None,
        *,
        timeout: float | None = None,
    ) -> NDArray[numpy.uint16]:
        """nsamples raw samples; trig_mode "rising", "falling", "high", "low" or "auto" on
        trig_port "S" or "T" (case-insensitive); samples_per_trigger makes bursts; timeout: seconds
        a trigger may keep the collection waiting (None: no limit)."""

    def get_calibrated_data(
        self, nsamples: int, wavelength: float | None = None, **kwargs: Any
    ) -> NDArray[numpy.float64]:
        """nsamples samples in µW at `wavelength` (nm; default: peak responsivity); further
        keywords go to get_raw_data (not mask=False: power comes from the 14-bit code)."""
    # Calibrations: [gain, offset] with µW = gain * code + offset.
    def get_calibration(self, type: _CalibrationType = "auto") -> NDArray[numpy.float64]: ...
    def get_rel_calibration(
        self, wavelength: float, type: _CalibrationType = "auto"
    ) -> NDArray[numpy.float64]:
        """The calibration giving µW at `wavelength` (nm)."""

    def get_rel_responsivity(self, wavelength: float, /) -> float:
        """Responsivity at `wavelength` (nm) relative to the peak: 0 to 1."""
    # Front-end settings; each is also a property.
    def read_highgain(self) -> int: ...
    def set_highgain(self, on: object, /) -> None: ...
    def read_antialias(self) -> bool: ...
    def set_antialias(self, on: object, /) -> None: ...
    def read_powerdown(self) -> bool: ...
    def set_powerdown(self, on: object, /) -> None: ...
    def read_adcclock(self) -> bool: ...
    def set_adcclock(self, on: object, /) -> None: ...
    @property
    def highgain(self) -> int: ...
    @highgain.setter
    def highgain(self, on: object) -> None: ...
    @property
    def antialias(self) -> bool: ...
    @antialias.setter
    def antialias(self, on: object) -> None: ...
    @property
    def powerdown(self) -> bool: ...
    @powerdown.setter
    def powerdown(self, on: object) -> None: ...
    @property
    def adcclock(self) -> bool: ...
    @adcclock.setter
    def adcclock(self, on: object) -> None: ...
    # ADC test patterns.
    def test_normal(self) -> None: ...
    def test_checkerboard(self) -> None: ...
    def test_pn9(self) -> None: ...
    def test_user(self, pattern: int, /) -> None:
        """A constant test pattern (0 to 65535; the ADC uses the low 14 bits)."""
    # Logic ports and LED lines; times in clock cycles of about 5 ns.
    def port_drive(self, port: _Port, value: bool) -> None: ...
    def port_pwm(self, port: _Port, threshold: int, period: int) -> None:
        """A square wave: high for `threshold` of every `period` cycles (~5 ns each)."""

    def port_pulse(self, port: _Port, threshold: int) -> None:
        """One pulse, high for `threshold` cycles (~5 ns each)."""

    def port_read(self, port: _Port, /) -> bool: ...
    def reset(self) -> None: ...
    # numpy's typing makes float32 a subtype of float64, so the first two overlap; the first wins.
    @overload
    def open_stream(self, dtype: _Float32Like) -> Stream[numpy.float32]: ...  # type: ignore[misc]
    @overload
    def open_stream(self, dtype: _Float64Like = None) -> Stream[numpy.float64]: ...
    @overload
    def open_stream(self, dtype: DTypeLike) -> Stream[Any]: ...
    def open_raw_stream(self, mask: bool = True) -> RawStream:
        """A continuous stream of raw codes (port bits cleared when mask is true)."""

class _DDevice(Device):
    """Developer access: raw vendor requests (time-outs in ms)."""

    def in_request(
        self, request: int, value: int = 0, index: int = 0, length: int = 0, timeout: int = 1000
    ) -> NDArray[numpy.uint8]: ...
    def out_request(
        self,
        request: int,
        value: int = 0,
        index: int = 0,
        data: NDArray[numpy.uint8] = ...,
        timeout: int = 1000,
    ) -> None: ...
    def set_clock_divide(self, divide: Literal[1, 2, 4], /) -> None: ...

# Generic over its element type in the stub only: at run time Stream is not subscriptable.
class Stream(Generic[_F]):
    """A processed stream of one Device: calibrated (power in watts × 10**calibration_units),
    low-pass filtered and rate-reduced samples of dtype float32 or float64."""

    @overload
    def __init__(self: Stream[numpy.float32], device: Device, dtype: _Float32Like) -> None: ...
    @overload
    def __init__(
        self: Stream[numpy.float64], device: Device, dtype: _Float64Like = None
    ) -> None: ...
    @overload
    def __init__(self: Stream[Any], device: Device, dtype: DTypeLike) -> None: ...
    def __enter__(self: _S) -> _S: ...
    def __exit__(
        self,
        exc_type: type[BaseException] | None,
        exc_value: BaseException | None,
        traceback: TracebackType | None,
    ) -> None: ...
    @property
    def device(self) -> Device: ...
    @property
    def dtype(self) -> numpy.dtype[_F]: ...
    def close(self) -> None: ...
    def acquire(self, nsamples: int, /) -> NDArray[_F]:
        """nsamples processed samples from the detector."""

    def simulate(self, nsamples: int, /) -> NDArray[_F]:
        """nsamples processed samples of a synthetic ramp of raw codes (no streaming)."""

    def benchmark(self, length: int, repeats: int, with_flags: bool = False) -> float:
        """Seconds taken to process `repeats` blocks of 5120 synthetic raw samples."""

    # Continuous streaming: reads continue exactly where the previous read ended.
    def start(self, *, buffer_seconds: float = 1.0) -> None: ...
    def stop(self) -> None: ...
    @property
    def running(self) -> bool: ...
    @property
    def lost_total(self) -> int: ...
    def read(self, nsamples: int, *, timeout: float | None = None) -> Block[_F]:
        """The next nsamples samples; timeout in seconds (None: no limit)."""

    def blocks(
        self, nsamples: int, *, count: int | None = None, timeout: float | None = None
    ) -> Iterator[Block[_F]]: ...
    # Recording to an HDF5 file (stored as float32 whatever the stream's dtype).
    def start_recording(
        self,
        path: str | PathLike[str],
        *,
        seconds: float | None = None,
        nsamples: int | None = None,
        overwrite: bool = False,
    ) -> Recorder:
        """Starts recording to an HDF5 file on a library thread; returns at once."""

    def record(
        self,
        path: str | PathLike[str],
        *,
        seconds: float | None = None,
        nsamples: int | None = None,
        overwrite: bool = False,
    ) -> Recorder:
        """Records until `seconds` of stream time or exactly `nsamples` samples; blocking."""

    def read_samplerate(self) -> float:
        """Output rate in S/s: the raw rate divided by the downsampling."""

    def read_samplesize(self) -> int:
        """Bytes per sample: 4 (float32) or 8 (float64)."""

    def read_calibration_mode(self) -> str: ...
    def set_calibration_mode(self, mode: str | bytes, /) -> None:
        """Mode "auto" (the stored calibration), "none" (raw codes) or "custom"."""

    def update_auto_calibration(self) -> None:
        """Reads the stored calibration again (after a gain change)."""

    def read_calibration(self) -> NDArray[_F]: ...
    def set_custom_calibration(self, calibration: _CalibrationPair, /) -> None: ...
    def read_calibration_wavelength(self) -> float: ...
    def set_calibration_wavelength(self, wavelength: float, /) -> None: ...
    def read_calibration_units(self) -> int: ...
    def set_calibration_units(self, units: int, /) -> None:
        """Output unit as a power of ten of watts: -6 µW (default), -3 mW, 0 W, -9 nW."""

    def read_cutoff(self) -> float: ...
    def set_cutoff(self, cutoff: float, /) -> None:
        """Filter cutoff in Hz."""

    def read_filter(self) -> str: ...
    def set_filter(self, filter: str | bytes, /) -> None:
        """Filter mode: "none", "butterworth2/4/6/8", "chebyI2/4/6/8", "rbj", "fir", ..."""

    def read_downsampling(self) -> int: ...
    def set_downsampling(self, downsampling: int, /) -> None:
        """Keep one sample in `downsampling` (no anti-aliasing filter)."""

    def set_decimation(self, decimation: int, /) -> None:
        """Keep one sample in `decimation` after a 4th-order Butterworth low pass at
        0.4 × the reduced rate (0 or 1: no reduction)."""

    @property
    def samplerate(self) -> float: ...
    @property
    def samplesize(self) -> int: ...
    @property
    def calibration_mode(self) -> str: ...
    @calibration_mode.setter
    def calibration_mode(self, mode: str | bytes) -> None: ...
    @property
    def calibration(self) -> NDArray[_F]: ...
    @calibration.setter
    def calibration(self, calibration: _CalibrationPair) -> None: ...
    @property
    def calibration_wavelength(self) -> float: ...
    @calibration_wavelength.setter
    def calibration_wavelength(self, wavelength: float) -> None: ...
    @property
    def calibration_units(self) -> int: ...
    @calibration_units.setter
    def calibration_units(self, units: int) -> None: ...
    @property
    def cutoff(self) -> float: ...
    @cutoff.setter
    def cutoff(self, cutoff: float) -> None: ...
    @property
    def filter(self) -> str: ...
    @filter.setter
    def filter(self, filter: str | bytes) -> None: ...
    @property
    def downsampling(self) -> int: ...
    @downsampling.setter
    def downsampling(self, downsampling: int) -> None: ...

class Block(Generic[_T]):
    """What one read of a continuous stream returned."""

    def __init__(
        self,
        samples: NDArray[_T],
        flags: NDArray[numpy.uint8],
        index: int,
        time: float,
        gaps: Iterable[tuple[int, int, str]] = (),
        changes: Iterable[tuple[int, str, float]] = (),
    ) -> None: ...
    @property
    def samples(self) -> NDArray[_T]: ...
    @property
    def flags(self) -> NDArray[numpy.uint8]:
        """Port levels of each sample: bit 0 port S, bit 1 port T."""

    @property
    def index(self) -> int:
        """Stream position of samples[0], lost samples counted."""

    @property
    def time(self) -> float:
        """Host UNIX time of samples[0], seconds."""

    @property
    def lost(self) -> int: ...
    @property
    def gaps(self) -> list[tuple[int, int, str]]:
        """(index, lost, kind "device" or "overflow") of each loss."""

    @property
    def changes(self) -> list[tuple[int, str, float]]:
        """(index, name, value) of each setting changed while the block was collected."""

    def __len__(self) -> int: ...
    def __array__(self, dtype: DTypeLike = None) -> NDArray[Any]: ...

class RawStream:
    """A continuous stream of a Device's raw 16-bit sample codes."""

    def __init__(self, device: Device, mask: bool = True) -> None: ...
    @property
    def device(self) -> Device: ...
    @property
    def mask(self) -> bool: ...
    @property
    def samplerate(self) -> int: ...
    def start(self, *, buffer_seconds: float = 1.0) -> None: ...
    def stop(self) -> None: ...
    @property
    def running(self) -> bool: ...
    @property
    def lost_total(self) -> int: ...
    def read(self, nsamples: int, *, timeout: float | None = None) -> Block[numpy.uint16]: ...
    def blocks(
        self, nsamples: int, *, count: int | None = None, timeout: float | None = None
    ) -> Iterator[Block[numpy.uint16]]: ...
    def start_recording(
        self,
        path: str | PathLike[str],
        *,
        seconds: float | None = None,
        nsamples: int | None = None,
        overwrite: bool = False,
    ) -> Recorder:
        """Starts recording to an HDF5 file on a library thread; returns at once."""

    def record(
        self,
        path: str | PathLike[str],
        *,
        seconds: float | None = None,
        nsamples: int | None = None,
        overwrite: bool = False,
    ) -> Recorder:
        """Records until `seconds` of stream time or exactly `nsamples` samples; blocking."""
    def close(self) -> None: ...
    def __enter__(self) -> RawStream: ...
    def __exit__(
        self,
        exc_type: type[BaseException] | None,
        exc_value: BaseException | None,
        traceback: TracebackType | None,
    ) -> None: ...

class Recorder:
    """A recording in progress (start_recording); also a context manager that stops it."""

    @property
    def path(self) -> str: ...
    @property
    def running(self) -> bool:
        """True until the recording has ended and its file is closed."""

    @property
    def samples_written(self) -> int: ...
    @property
    def lost_total(self) -> int:
        """Samples the stream lost while recording (the file's gap table)."""

    def wait(self, timeout: float | None = None) -> bool:
        """True once the recording has ended, False when `timeout` seconds passed first."""

    def stop(self) -> None:
        """Ends the recording and closes the file; raises the recording's failure if any."""

    def __enter__(self: _Rec) -> _Rec: ...
    def __exit__(
        self,
        exc_type: type[BaseException] | None,
        exc_value: BaseException | None,
        traceback: TracebackType | None,
    ) -> None: ...

class Recording:
    """A recording file (HDF5) opened for reading; also a context manager. Indices count
    stored samples: a gap takes no room, it is listed in `gaps`."""

    def __init__(self, path: str | PathLike[str]) -> None: ...
    def __enter__(self: _R) -> _R: ...
    def __exit__(
        self,
        exc_type: type[BaseException] | None,
        exc_value: BaseException | None,
        traceback: TracebackType | None,
    ) -> None: ...


    def __len__(self) -> int:
        """Stored samples (as of the open or the last refresh)."""

    @property
    def path(self) -> str: ...
    @property
    def attrs(self) -> dict[str, Any]:
        """The file's attributes: serial, product, firmware, samplerate (S/s), calibrations
        (6 x 2: µW per code, µW), wavelength (nm), units, filter, cutoff (Hz), ..."""

    @property
    def kind(self) -> Literal["raw", "processed"]: ...
    @property
    def dtype(self) -> numpy.dtype[Any]:
        """uint16 (raw words) or float32 (processed samples)."""

    @property
    def state(self) -> Literal["closed", "writing", "unclosed"]:
        """When opened: closed by its writer, being written, or left unclosed (killed)."""

    @property
    def samplerate(self) -> float:
        """S/s of the stored samples."""

    @property
    def duration(self) -> float:
        """Seconds of stored samples."""

    @property
    def gaps(self) -> list[tuple[int, int, Literal["device", "overflow", "unknown"]]]:
        """(index, lost, kind): `lost` samples missing before stored sample `index`."""

    @property
    def changes(self) -> list[tuple[int, str, float]]:
        """(index, name, value): a setting changed from stored sample `index` on."""

    def close(self) -> None: ...
    def refresh(self) -> int:
        """Takes in what the writer flushed since; returns the new length."""

    def raw(self, start: int = 0, stop: int | None = None) -> NDArray[Any]:
        """Stored samples [start, stop): uint16 words, or float32 processed values."""

    def power(
        self, start: int = 0, stop: int | None = None, units: _PowerUnit = "uW"
    ) -> NDArray[numpy.float32]:
        """Optical power of stored samples [start, stop) in `units`."""

    def chunks(self, n: int, units: _PowerUnit | None = None) -> Iterator[NDArray[Any]]:
        """The whole recording in pieces of n samples: raw(), or power() in `units`."""

def repair_recording(path: str | PathLike[str], /) -> None:
    """Makes a recording left unclosed by a killed writer readable by every HDF5 tool."""
