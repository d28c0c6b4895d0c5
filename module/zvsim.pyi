"""Type information for zvsim, the simulated HLM25 detectors living in libzv.

attach() plugs in a simulated detector that zvpy finds after any real ones; the SimDevice it
returns shows the detector's firmware state, logs its vendor requests and injects faults.
"""

from collections.abc import Iterable, Sequence
from typing import Literal, TypedDict

import numpy
from numpy.typing import ArrayLike, NDArray

_Bytes = bytes | bytearray | memoryview | Iterable[int]
_StreamFault = Literal["bad_status", "bad_length", "data_loss", "error_status", "timeout"]
# (direction, request, value, index, data)
_LoggedRequest = tuple[Literal["in", "out"], int, int, int, bytes]

class _PortRecord(TypedDict):
    mode: int
    level: int
    period: int  # clock cycles of about 5 ns
    threshold: int  # clock cycles of about 5 ns

class SimDevice:
    """One attached (or formerly attached) simulated detector; made by attach()."""

    def __init__(self, *args: object, **kwargs: object) -> None:
        """Refused: use zvsim.attach()."""

    def __eq__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    @property
    def serial(self) -> str: ...
    @property
    def path(self) -> str: ...
    @property
    def speed(self) -> Literal["super", "high"]: ...
    @property
    def detached(self) -> bool: ...
    def detach(self) -> None:
        """Unplugs the detector; harmless twice."""

    @property
    def samples(self) -> NDArray[numpy.uint16]:
        """The raw words streamed in a loop: bits 0-13 ADC code, bit 14 port S, bit 15 port T."""

    @samples.setter
    def samples(self, value: ArrayLike) -> None: ...
    @property
    def position(self) -> int: ...
    @position.setter
    def position(self, value: int) -> None: ...
    @property
    def produced(self) -> int:
        """Words streamed since attach."""

    @property
    def dropped(self) -> int:
        """Samples the real-time FIFO dropped because the host fell behind."""

    @property
    def requests(self) -> list[_LoggedRequest]: ...
    def clear_requests(self) -> None: ...
    def fail_request(self, request: int, count: int | None = 1) -> None: ...
    def hang_request(self, request: int, count: int | None = 1) -> None: ...
    def respond(self, request: int, data: _Bytes, count: int | None = 1) -> None: ...
    def inject(self, kind: _StreamFault, transfer: int = 0, packet: int | None = None) -> None: ...
    def clear_faults(self) -> None: ...
    def override_descriptor(self, descriptor_type: int, index: int, data: _Bytes) -> None: ...
    def clear_descriptor_overrides(self) -> None: ...
    @property
    def features(self) -> dict[str, int]:
        """Keys "highgain", "antialias", "powerdown", "adcclock"; values 0 or 1."""

    @property
    def adc_registers(self) -> dict[int, int]: ...
    @property
    def test_pattern(self) -> int:
        """0 off, 4 checkerboard, 6 PN9, 8 user."""

    @property
    def ports(self) -> dict[int, _PortRecord]:
        """Port number (0-6: A, B, S, T, LEDR, LEDG, LEDB) to its last command."""

    def set_port_input(self, port: int, level: Literal[0, 1] | None) -> None: ...
    @property
    def alt_setting(self) -> int: ...
    @property
    def packet_size(self) -> int:
        """Bytes per isochronous packet."""

def attach(
    serial: str | bytes = "HLM25-S00001IC",
    *,
    firmware: tuple[int, int, int] = (1, 0, 2),
    samplerate: int = 80_000_000,
    adcbits: int = 14,
    calibrations: Sequence[tuple[float, float]] | None = None,
    vendor: int = 0x2E9D,
    product: int = 0x0080,
    speed: Literal["super", "high"] = "super",
    identity: _Bytes | None = None,
    samples: ArrayLike | None = None,
    realtime: bool = False,
    fifo_samples: int = 65536,
) -> SimDevice:
    """Plugs in a simulated detector. samplerate in S/s; calibrations: six (gain, offset)
    pairs giving µW per ADC code; serial character 6 'D' makes a balanced unit, 12 picks the photodiode ('I' 1550 nm,
    'V' 760 nm, 'N' 900 nm); realtime: sample in wall-clock time into a FIFO of
    `fifo_samples` samples."""

def detach_all() -> None: ...
def devices() -> list[SimDevice]: ...
