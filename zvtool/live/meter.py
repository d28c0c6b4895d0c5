"""The power meter behind `zv monitor`: the latest reading, statistics since the last reset, and
the full scale of a bar that follows the reading (rising at once, falling after it has stayed
low for a while, or held)."""
import math
from dataclasses import dataclass, field

from zvtool.live.power import Moments

# The bar's full scale falls to a smaller step only after the reading stayed below it this long.
SHRINK_AFTER_S = 2.0
SMALLEST_SCALE_UW = 1e-3


def nice_scale(microwatts):
    """The smallest of 1, 2, 5 × 10**k µW at or above the power."""
    value = max(abs(microwatts), SMALLEST_SCALE_UW)
    decade = 10.0 ** math.floor(math.log10(value))
    for step in (1.0, 2.0, 5.0, 10.0):
        if value <= step * decade * (1 + 1e-12):
            return step * decade
    return 10.0 * decade


@dataclass
class Meter:
    unit: str = "auto"  # "auto" (µW or mW by size), "µW", "mW" or "dBm"
    reading: Moments = None  # the latest reading
    total: Moments = field(default_factory=Moments)  # every sample since the last reset
    since: float = 0.0  # monotonic time of the last reset
    scale: float = None  # the bar's full scale, µW
    held: bool = False
    lost: int = 0
    _low_since: float = None

    def add(self, reading, lost_total, now):
        self.reading = reading
        self.total.add(reading)
        self.lost = lost_total
        if self.held:
            return
        wanted = nice_scale(reading.mean)
        if self.scale is None or wanted > self.scale:
            self.scale, self._low_since = wanted, None
        elif wanted < self.scale:
            self._low_since = now if self._low_since is None else self._low_since
            if now - self._low_since >= SHRINK_AFTER_S:
                self.scale, self._low_since = wanted, None
        else:
            self._low_since = None

    def reset(self, now):
        self.total = Moments()
        self.since = now

    def toggle_hold(self):
        self.held = not self.held

    def fraction(self):
        """The bar's filled share, 0 to 1 (a negative power fills nothing)."""
        if self.reading is None or not self.scale:
            return 0.0
        return min(1.0, max(0.0, self.reading.mean / self.scale))
