"""zv monitor: a terminal power meter, about ten readings a second."""
import sys
import time

from zvtool.connection import add_device_arguments, open_device
from zvtool.errors import UsageError
from zvtool.live import meter_layout
from zvtool.live.meter import Meter
from zvtool.live.power import Moments
from zvtool.live.source import AcquireSource
from zvtool.live.terminal import Terminal

NAME = "monitor"
HELP = "show the optical power live in the terminal: mean, minimum, maximum, spread, a bar"
EXAMPLES = """\
Each reading is the mean power of the samples of one interval (0.1 s by default); minimum,
maximum and standard deviation are of every sample since the start or the last reset. The bar
scales itself: it grows at once and shrinks after the power has stayed low for 2 s.

keys:  q quit   h hold the bar's scale   r reset the statistics   (Ctrl-C also quits)

examples:
  zv monitor --simulate
  zv monitor --units dBm --wavelength 1310
  zv monitor --once            one reading on one line, for scripts
  zv monitor --once --units mW --interval 1"""

UNITS = {"auto": "auto", "uW": "µW", "µW": "µW", "mW": "mW", "dBm": "dBm"}


def add_arguments(parser):
    add_device_arguments(parser)
    parser.add_argument("--units", default="auto", choices=tuple(UNITS), metavar="UNIT",
                        help="auto (µW or mW by size, the default), uW, mW or dBm")
    parser.add_argument("--wavelength", type=float, metavar="NM",
                        help="calibrate the power for this wavelength (default: the "
                        "photodiode's peak)")
    parser.add_argument("--interval", type=float, default=0.1, metavar="S",
                        help="seconds of samples per reading, 0.01 to 10 (default %(default)s)")
    parser.add_argument("--once", action="store_true",
                        help="print one reading on one line and exit")


def run(args):
    if not 0.01 <= args.interval <= 10:
        raise UsageError("--interval takes 0.01 to 10 seconds")
    with open_device(args) as device:
        source = AcquireSource(device)
        try:
            if args.wavelength is not None:
                source.configure("wavelength", args.wavelength)
            source.start()
            meter = Meter(unit=UNITS[args.units], since=time.monotonic())
            reading = take_reading(source, meter, args.interval)
            if args.once or not sys.stdout.isatty():
                return print_readings(source, meter, args.interval, reading, args.once)
            watch(source, meter, args.interval, f"zv monitor  {device.serial}  ")
        except KeyboardInterrupt:
            pass  # the way to stop a live view: not a failure
        finally:
            source.close()
    return 0


def take_reading(source, meter, interval):
    block = source.read(max(1, round(source.samplerate * interval)), timeout=interval + 5)
    meter.add(Moments.of(block.samples), source.lost_total, time.monotonic())
    return block


def print_readings(source, meter, interval, block, once):
    """One line per reading for scripts and pipes (only the first with --once)."""
    while True:
        print(meter_layout.reading_line(meter), flush=True)
        if once:
            return 0
        take_reading(source, meter, interval)


def watch(source, meter, interval, title):
    with Terminal() as terminal:
        while True:
            terminal.draw(meter_layout.screen_lines(meter, terminal.width(), title,
                                                    time.monotonic()))
            for key in terminal.keys().lower():
                if key == "q":
                    return
                if key == "h":
                    meter.toggle_hold()
                elif key == "r":
                    meter.reset(time.monotonic())
            take_reading(source, meter, interval)
