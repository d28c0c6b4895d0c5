"""zv info: everything a bug report needs about one detector and this installation."""
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


def run(args):
    import zvpy

    with open_device(args) as device:
        print(f"serial            {device.serial}")
        print(f"product           {device.product}")
        print(f"sample rate       {device.samplerate} S/s")
        print(f"ADC bits          {device.adcbits}")
        print(f"firmware          {'.'.join(map(str, device.fwversion))}")
        print(f"usb speed         {device.usb_speed}")
        try:
            peak = device.peak_responsivity
            print(f"peak wavelength   {peak} nm")
        except zvpy.Error as error:
            print(f"peak wavelength   unknown ({error.errstr})")
        print("calibrations (µW = gain × code + offset):")
        for name in CALIBRATION_TYPES:
            try:
                gain, offset = device.get_calibration(name)
            except zvpy.Error:
                continue  # a type this model does not have
            print(f"  {name:18} gain {gain:.6g}  offset {offset:.6g}")
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
