"""The lines `zv monitor` shows, laid out for the terminal's width: a full layout, a shorter one
for narrow terminals and, below that, the reading alone. No line is longer than the width."""
from zvtool.live.power import UNIT_FACTORS, auto_unit, format_power

KEYS = "q quit  h hold scale  r reset"
WIDE, NARROW = 64, 24


def spread_unit(meter):
    """Minimum, maximum and spread share a linear unit; in dBm mode the spread stays linear."""
    return auto_unit(meter.reading.mean) if meter.unit in ("auto", "dBm") else meter.unit


def reading_line(meter):
    """The one-line form: `zv monitor --once` and readings written to a file or pipe."""
    r = meter.reading
    unit = meter.unit if meter.unit != "auto" else auto_unit(r.mean)
    linear = spread_unit(meter)
    return (f"power {format_power(r.mean, unit)}  min {format_power(r.low, unit)}  "
            f"max {format_power(r.high, unit)}  std {format_power(r.std, linear)}  "
            f"lost {meter.lost}  ({r.count} samples)")


def screen_lines(meter, width, title, now, notice=""):
    """The full-screen form, each line at most `width` characters; a notice (the detector is
    gone, say) comes first."""
    lines = _reading_lines(meter, width, title, now)
    return [fit(notice, width)] + lines if notice else lines


def _reading_lines(meter, width, title, now):
    if meter.reading is None:
        return [fit("waiting for the first reading...", width)]
    power = format_power(meter.reading.mean, meter.unit)
    if width < NARROW:
        return [fit(power, width)]
    total, unit = meter.total, meter.unit if meter.unit != "auto" else auto_unit(
        meter.reading.mean)
    linear = spread_unit(meter)
    scale = format_scale(meter.scale, "auto" if meter.unit == "dBm" else unit)
    scale_note = f"{scale}{' (held)' if meter.held else ''}"
    if width < WIDE:
        bar = progress_bar(meter.fraction(), width - len(scale_note) - 3)
        return [fit(line, width) for line in (
            power,
            f"[{bar}] {scale_note}",
            f"min {format_power(total.low, unit)}",
            f"max {format_power(total.high, unit)}",
            f"std {format_power(total.std, linear)}",
            f"lost {meter.lost}",
            "q quit h hold r reset")]
    aside = f" ({format_power(meter.reading.mean, 'dBm')})" if meter.unit != "dBm" else ""
    bar = progress_bar(meter.fraction(), width - len(scale_note) - 8)
    elapsed = now - meter.since
    return [fit(line, width) for line in (
        f"{title}{KEYS:>{max(0, width - len(title))}}",
        "",
        f"   {power}{aside}",
        f"   [{bar}] 0–{scale_note}",
        "",
        f"   since reset ({elapsed:.1f} s, {total.count / 1e6:.1f} M samples):",
        f"   mean {format_power(total.mean, unit)}   std {format_power(total.std, linear)}",
        f"   min  {format_power(total.low, unit)}   max {format_power(total.high, unit)}",
        f"   lost {meter.lost} samples")]


def format_scale(microwatts, unit):
    """A bar's full scale, a 1-2-5 step: '20 µW', '0.5 mW'."""
    unit = auto_unit(microwatts) if unit == "auto" else unit
    return f"{microwatts * UNIT_FACTORS[unit]:g} {unit}"


def progress_bar(fraction, cells):
    cells = max(1, cells)
    filled = round(fraction * cells)
    return "█" * filled + "░" * (cells - filled)


def fit(line, width):
    return line[:max(0, width)]
