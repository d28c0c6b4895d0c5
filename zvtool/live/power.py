"""Optical power for people: µW, mW or dBm, five significant digits, and the running
statistics of a power reading (count, mean, spread, extremes) that combine block by block."""
import math
from dataclasses import dataclass

import numpy

import zvpy

PIECE = 1 << 16  # samples per step of the statistics

# Units a power is shown in: the factor from µW, or None for the logarithmic dBm.
UNIT_FACTORS = {"µW": 1.0, "mW": 1e-3, "dBm": None}


def to_dbm(microwatts):
    """dBm of a power in µW; None where the power is not positive (no logarithm)."""
    return 10.0 * math.log10(microwatts / 1000.0) if microwatts > 0 else None


def auto_unit(microwatts):
    return "mW" if abs(microwatts) >= 1000.0 else "µW"


def format_power(microwatts, unit, digits=5):
    """'1.2345 mW', '-0.41230 µW', '+0.91 dBm'; unit "auto" picks µW or mW by size."""
    if unit == "auto":
        unit = auto_unit(microwatts)
    if unit == "dBm":
        dbm = to_dbm(microwatts)
        return "— dBm" if dbm is None else f"{dbm:+.2f} dBm"
    return f"{_significant(microwatts * UNIT_FACTORS[unit], digits)} {unit}"


def _significant(value, digits):
    if value == 0 or not math.isfinite(value):
        return f"{value:.{digits - 1}f}"
    decimals = max(0, digits - 1 - math.floor(math.log10(abs(value))))
    return f"{value:.{decimals}f}"


@dataclass
class Moments:
    """Count, mean, sum of squared deviations and extremes of samples seen so far."""
    count: int = 0
    mean: float = 0.0
    m2: float = 0.0
    low: float = math.inf
    high: float = -math.inf

    @classmethod
    def of(cls, samples):
        """The moments of one block. The sums are of deviations from its first sample (small
        numbers, so the spread survives a large mean), a piece at a time (the pieces stay in the
        processor's cache), and numpy adds pairwise, so single precision loses nothing a reading
        shows; the pieces' sums are added in double precision."""
        x = numpy.asarray(samples)
        n = len(x)
        if n == 0:
            return cls()
        shift = x[0]
        s1 = s2 = 0.0
        for start in range(0, n, PIECE):
            y = x[start:start + PIECE] - shift
            s1 += float(y.sum(dtype=numpy.float64))
            s2 += float(numpy.square(y, out=y).sum())
        mins, maxs = zvpy.envelope(x, 1)
        return cls(n, float(shift) + s1 / n, max(0.0, s2 - s1 * s1 / n), float(mins[0]),
                   float(maxs[0]))

    def add(self, other):
        """Joins another set of samples in (the pairwise update of mean and spread)."""
        if other.count == 0:
            return
        total = self.count + other.count
        delta = other.mean - self.mean
        self.m2 += other.m2 + delta * delta * self.count * other.count / total
        self.mean += delta * other.count / total
        self.count = total
        self.low = min(self.low, other.low)
        self.high = max(self.high, other.high)

    @property
    def std(self):
        return math.sqrt(self.m2 / self.count) if self.count else 0.0
