"""zv info: everything a bug report needs about one detector and this installation."""
import math
import platform

from zvtool.connection import add_device_arguments, open_device

NAME = "info"
HELP = "show a detector's identity, calibrations, responsivity and settings, and the versions"
EXAMPLES = """\
Everything a bug report needs. Calibrations convert ADC codes to optical power:
µW = gain × code + offset, at the photodiode's peak wavelength.

examples:
  zv info
  zv info --serial S00012"""

CALIBRATION_TYPES = ("digital highgain", "digital lowgain", "analog highgain", "analog lowgain",
                     "balanced digital", "balanced analog", "p1 digital", "p1 analog",
                     "p2 digital", "p2 analog")
FEATURES = ("highgain", "antialias", "powerdown", "adcclock")
# The identity fields shown: (label, property, how a value shows).
IDENTITY = (("sample rate", "samplerate", "{} S/s".format),
            ("ADC bits", "adcbits", str),
            ("firmware", "fwversion", lambda version: ".".join(map(str, version))))
NOT_SET = "not set"
# The library's code for a calibration type the model does not have.
UNSUPPORTED_TYPE = 48
UNUSABLE_CALIBRATION = ("unusable: gain {gain:.6g}, offset {offset:.6g} (not a pair of finite "
                        "numbers; calibrated captures from it are refused)")
UNREADABLE_CALIBRATION = "unreadable ({errstr})"


def add_arguments(parser):
    add_device_arguments(parser)


def versions():
    import numpy
    import zvpy

    lines = [("zv", ".".join(map(str, zvpy.version()))),
             ("numpy", numpy.__version__),
             ("python", platform.python_version())]
    libusb = getattr(zvpy, "libusb_version", None)
    if libusb is not None:
        lines.insert(1, ("libusb", libusb()))
    return lines


def identity_field(device, name, shown):
    """The field's text, "not set" where the identity leaves it unset (the binding raises for
    that)."""
    import zvpy

    try:
        value = getattr(device, name)
    except zvpy.Error:  # the fields are read from the opened record: only "not set" fails
        return NOT_SET
    return shown(value)


def calibration_text(device, name):
    """The calibration of type `name` as shown, or None for a type this model does not have."""
    import zvpy

    try:
        gain, offset = device.get_calibration(name)
    except zvpy.Error as error:
        if error.err == UNSUPPORTED_TYPE:
            return None
        return UNREADABLE_CALIBRATION.format(errstr=error.errstr)
    if not (math.isfinite(gain) and math.isfinite(offset)):
        return UNUSABLE_CALIBRATION.format(gain=gain, offset=offset)
    return f"gain {gain:.6g}  offset {offset:.6g}"


def run(args):
    import zvpy

    with open_device(args) as device:
        print(f"serial            {device.serial}")
        print(f"product           {device.product}")
        for label, name, shown in IDENTITY:
            print(f"{label:17} {identity_field(device, name, shown)}")
        print(f"usb speed         {device.usb_speed}")
        try:
            peak = device.peak_responsivity
            print(f"peak wavelength   {peak} nm")
        except zvpy.Error as error:
            print(f"peak wavelength   unknown ({error.errstr})")
        print("calibrations (µW = gain × code + offset):")
        for name in CALIBRATION_TYPES:
            text = calibration_text(device, name)
            if text is not None:
                print(f"  {name:18} {text}")
        print("settings:")
        for feature in FEATURES:
            try:
                state = getattr(device, f"read_{feature}")()
                print(f"  {feature:18} {'on' if state else 'off'}")
            except zvpy.Error as error:
                print(f"  {feature:18} unreadable ({error.errstr})")
    print("versions:")
    for name, value in versions():
        print(f"  {name:18} {value}")
    return 0
