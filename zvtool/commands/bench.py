"""zv bench: the stream's processing throughput for each filter mode."""
from zvtool.connection import add_device_arguments, open_device

NAME = "bench"
HELP = "measure the stream's processing throughput for each filter mode"
EXAMPLES = """\
Prints million raw samples processed per second (MS/s) for each filter mode: synthetic raw
blocks go through the stream's calibration and filter on this computer, so the figures show
whether it keeps up with the detector's sample rate ('zv info' shows it). The detector is
only read for its calibration.

examples:
  zv bench --simulate
  zv bench --dtype float32 --samples 5000000"""

FILTER_MODES = ("none", "fir", "rbj", "butterworth2", "butterworth4", "butterworth6",
                "butterworth8", "butterdfI2", "buttertdfI2", "buttertdfII2", "badbutter4",
                "chebyI2", "chebyI4", "chebyI8")


def add_arguments(parser):
    add_device_arguments(parser)
    parser.add_argument("--samples", type=int, default=20_000_000, metavar="N",
                        help="raw samples processed per measurement (default %(default)s)")
    parser.add_argument("--dtype", choices=("float32", "float64", "both"), default="both",
                        help="sample type of the streams measured (default both)")


def run(args):
    if args.samples <= 0:
        raise ValueError("--samples must be positive")
    dtypes = ("float32", "float64") if args.dtype == "both" else (args.dtype,)
    block = 5120  # raw words per processing call, as the acquisition engine delivers them
    repeats = max(1, args.samples // block)
    with open_device(args) as device:
        print(f"{'filter mode':14}" + "".join(f"{d + ' (MS/s)':>18}" for d in dtypes))
        for mode in FILTER_MODES:
            cells = []
            for dtype in dtypes:
                stream = device.open_stream(dtype=dtype)
                try:
                    stream.set_filter(mode)
                    if mode != "none":
                        stream.set_cutoff(device.samplerate * 0.05)
                    seconds = stream.benchmark(block, repeats)
                finally:
                    stream.close()
                cells.append(f"{block * repeats / seconds / 1e6:18.1f}")
            print(f"{mode:14}" + "".join(cells))
    return 0
