"""The settings a live view accepts while it runs, as one table, and their validation.

Settings owned by the source change the detector or its stream (gain, filter, decimation,
wavelength); settings owned by the view change only how frames are made and drawn. Every value
arriving from outside (a browser's message) passes validate() first: a wrong name, type or range
raises SettingError with a sentence for the user, never anything else.
"""
import math
from dataclasses import dataclass

from zvtool.commands.capture import FILTER_MODES

SOURCE, VIEW = "source", "view"
POWER_UNITS = ("µW", "mW", "dBm")
UNIT_ALIASES = {"uW": "µW"}


class SettingError(ValueError):
    """A setting refused; the text says what is accepted."""


@dataclass(frozen=True)
class Setting:
    owner: str  # SOURCE or VIEW
    kind: str  # "bool", "int", "number" or "choice"
    help: str
    unit: str = ""
    default: object = None  # VIEW settings only; a source reports its own state
    low: float = None
    high: object = None  # a number, or the name of a limit the source reports ("nyquist")
    choices: tuple = ()


SETTINGS = {
    "highgain": Setting(SOURCE, "bool", "transimpedance amplifier in high-gain mode"),
    "filter": Setting(SOURCE, "choice", "low-pass filter of the stream", choices=FILTER_MODES),
    "cutoff": Setting(SOURCE, "number", "filter cutoff frequency", "Hz", low=1.0,
                      high="nyquist"),
    "decimation": Setting(SOURCE, "int", "keep one sample in N behind an anti-aliasing filter "
                          "(1: every sample)", low=1, high=100_000),
    "wavelength": Setting(SOURCE, "number", "wavelength the power is calibrated for", "nm",
                          low=100.0, high=3000.0),
    "units": Setting(VIEW, "choice", "power unit shown", default="µW", choices=POWER_UNITS),
    "span": Setting(VIEW, "number", "time span of the trace", "s", default=1e-3, low=1e-7,
                    high=100.0),
    "mode": Setting(VIEW, "choice", "roll: the newest samples; trigger: at an edge of a port",
                    default="roll", choices=("roll", "trigger")),
    "trigger_port": Setting(VIEW, "choice", "port whose edge triggers", default="S",
                            choices=("S", "T")),
    "trigger_edge": Setting(VIEW, "choice", "edge that triggers", default="rising",
                            choices=("rising", "falling")),
    "pretrigger": Setting(VIEW, "number", "share of the span shown before the trigger",
                          default=0.2, low=0.0, high=1.0),
    "paused": Setting(VIEW, "bool", "freeze the trace and spectrum", default=False),
}


def view_defaults():
    return {name: s.default for name, s in SETTINGS.items() if s.owner == VIEW}


def validate(name, value, limits):
    """The value to apply for setting `name`, checked against its table entry; `limits` holds
    the bounds only the source knows ({"nyquist": Hz}). Raises SettingError."""
    if not isinstance(name, str) or name not in SETTINGS:
        known = ", ".join(SETTINGS)
        raise SettingError(f"unknown setting {str(name)[:40]!r}; the settings are {known}")
    setting = SETTINGS[name]
    if setting.kind == "bool":
        if not isinstance(value, bool):
            raise SettingError(f"{name} takes true or false, not {_shown(value)}")
        return value
    if setting.kind == "choice":
        value = UNIT_ALIASES.get(value, value) if isinstance(value, str) else value
        if value not in setting.choices:
            raise SettingError(f"{name} takes one of {', '.join(setting.choices)}, "
                               f"not {_shown(value)}")
        return value
    integral = setting.kind == "int"
    if isinstance(value, bool) or not isinstance(value, (int, float)) or (
            integral and not isinstance(value, int)):
        raise SettingError(f"{name} takes {'an integer' if integral else 'a number'}, "
                           f"not {_shown(value)}")
    high = limits[setting.high] if isinstance(setting.high, str) else setting.high
    finite = not isinstance(value, float) or math.isfinite(value)  # an int may exceed any float
    if not (finite and setting.low <= value <= high):
        unit = f" {setting.unit}" if setting.unit else ""
        raise SettingError(f"{name} ({setting.help}) takes {setting.low:g} to {high:g}{unit}, "
                           f"not {_shown(value)}")
    return int(value) if integral else float(value)


def _shown(value):
    text = repr(value)
    return text if len(text) <= 40 else text[:37] + "..."
