"""zv plot: the capture figure of a recording, read piece by piece."""
from zvtool import checks, plotting, recordings, units

NAME = "plot"
HELP = "plot a recording (or a stretch of it): envelope, close look and power spectrum"
SIMULATE_HELP = recordings.SIMULATE_HELP
EXAMPLES = """\
The figure of 'zv capture --plot': the whole stretch as the minimum and maximum of each short
run of samples (gaps marked in red), its first 400 samples, and its power spectral density.
The recording is read piece by piece, so a recording larger than memory plots in bounded
memory. Times count stored samples from the first (index / sample rate).

examples:
  zv plot run.h5 --out run.png
  zv plot run.h5 --out detail.png --start 12.5 --stop 12.6 --units mW"""


def add_arguments(parser):
    recordings.add_file_argument(parser)
    parser.add_argument("--out", metavar="FILE.png", required=True,
                        help="the PNG file to write")
    parser.add_argument("--start", type=float, metavar="S",
                        help="start of the stretch, in seconds from the first sample")
    parser.add_argument("--stop", type=float, metavar="S",
                        help="end of the stretch, in seconds from the first sample")
    parser.add_argument("--units", default="uW", metavar="UNIT",
                        help="power unit: pW, nW, uW (default), mW, W")


def run(args):
    from zvtool import recording_plot

    units.exponent_of(args.units)  # refuses an unknown unit before reading anything
    checks.output_file(args.out, "--out", plotting.KINDS)
    with recordings.open_recording(args.file) as recording:
        start, stop = recordings.stretch(recording, args.start, args.stop)
        recording_plot.plot(args.out, recording, start, stop, units=args.units)
    print(f"wrote {args.out}")
    return 0
