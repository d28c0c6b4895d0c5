"""zv monitor: a terminal power meter, about ten readings a second."""
import sys
import time

import zvpy

from zvtool.connection import add_device_arguments, open_device
from zvtool.errors import UsageError
from zvtool.live import meter_layout
from zvtool.live.meter import Meter
from zvtool.live.power import Moments
from zvtool.live.source import StreamSource
from zvtool.live.terminal import Terminal

NAME = "monitor"
HELP = "show the optical power live in the terminal: mean, minimum, maximum, spread, a bar"
EXAMPLES = """\
Each reading is the mean power of the samples of one interval (0.1 s by default); minimum,
maximum and standard deviation are of every sample since the start or the last reset. The bar
scales itself: it grows at once and shrinks after the power has stayed low for 2 s. When the
detector is unplugged, the live view says so and goes on once it is plugged in again.

keys:  q quit   h hold the bar's scale   r reset the statistics   (Ctrl-C also quits)

examples:
  zv monitor --simulate
  zv monitor --units dBm --wavelength 1310
  zv monitor --once            one reading on one line, for scripts
  zv monitor --once --units mW --interval 1"""

UNITS = {"auto": "auto", "uW": "µW", "µW": "µW", "mW": "mW", "dBm": "dBm"}
READ_SECONDS = 0.05  # a reading is joined from reads of at most this many seconds of samples
READ_TIMEOUT = 2.0  # seconds a read may wait for its samples before the detector counts as gone
RETRY_SECONDS = 0.5  # how often a view waiting for its detector looks for it


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
    with open_device(args, realtime=True) as device:
        source = StreamSource(device)
        try:
            if args.wavelength is not None:
                source.configure("wavelength", args.wavelength)
            source.start()
            meter = Meter(unit=UNITS[args.units], since=time.monotonic())
            take_reading(source, meter, args.interval)
            if args.once or not sys.stdout.isatty():
                return print_readings(source, meter, args.interval, args.once)
            watch(source, meter, args.interval, f"zv monitor  {device.serial}  ")
        except KeyboardInterrupt:
            pass  # the way to stop a live view: not a failure
        finally:
            source.close()
    return 0


def take_reading(source, meter, interval):
    """Reads `interval` seconds of samples, a piece at a time (memory stays small for long
    intervals), and adds their statistics to the meter as one reading."""
    remaining = max(1, round(source.samplerate * interval))
    piece = max(1, round(source.samplerate * READ_SECONDS))
    reading = Moments()
    while remaining:
        block = source.read(min(remaining, piece), timeout=READ_TIMEOUT)
        reading.add(Moments.of(block.samples))
        remaining -= len(block.samples)
    meter.add(reading, source.lost_total, time.monotonic())


def print_readings(source, meter, interval, once):
    """One line per reading for scripts and pipes (only the first with --once)."""
    while True:
        print(meter_layout.reading_line(meter), flush=True)
        if once:
            return 0
        take_reading(source, meter, interval)


def watch(source, meter, interval, title):
    """The full-screen view until q or Ctrl-C. A detector that fails or is unplugged is told on
    the screen and looked for again until it is back."""
    notice = ""
    with Terminal() as terminal:
        while True:
            terminal.draw(meter_layout.screen_lines(meter, terminal.width(), title,
                                                    time.monotonic(), notice))
            for key in terminal.keys().lower():
                if key == "q":
                    return
                if key == "h":
                    meter.toggle_hold()
                elif key == "r":
                    meter.reset(time.monotonic())
            if notice:
                time.sleep(RETRY_SECONDS)
                if source.reconnect():
                    notice = ""
                continue
            try:
                take_reading(source, meter, interval)
            except zvpy.Error as error:
                notice = f"{source.serial} unplugged or not answering: waiting for it ({error})"
