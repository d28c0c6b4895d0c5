"""zv record: a continuous acquisition written to an HDF5 recording.

The options and their checking are here; the command is registered in zvtool.__main__ together
with the recording itself, which needs the continuous stream (its `run` is added then). Every
check runs before anything is opened or written."""
import os

from zvtool import recordings, units
from zvtool.commands.capture import add_stream_arguments
from zvtool.connection import add_device_arguments
from zvtool.errors import UsageError

NAME = "record"
HELP = "record a continuous acquisition to an HDF5 file, raw codes or processed power"
EXAMPLES = """\
kinds of recording:
  raw         the detector's 16-bit words as they arrive (2 bytes a sample, the exact data;
              power is computed from the calibration the file records when it is read)
  processed   float32 power (µW unless --units) after the filter and decimation chosen

The file is HDF5 (layout in the README): the samples, the detector's identity, settings and
calibration, a table of gaps (samples lost, and why) and a table of settings changed while
recording. Other programs can read it while it grows (HDF5's single-writer / multiple-reader
mode: h5py.File(path, "r", swmr=True)); 'zv show' and 'zv plot' read it afterwards.

examples:
  zv record run.h5 --seconds 600
  zv record run.h5 --samples 80000000 --force
  zv record slow.h5 --seconds 3600 --decimate 80 --units mW
  zv record test.h5 --seconds 5 --simulate

""" + recordings.UNCLOSED_ADVICE


def add_arguments(parser):
    add_device_arguments(parser)
    recordings.add_file_argument(parser)
    length = parser.add_mutually_exclusive_group(required=True)
    length.add_argument("--seconds", type=float, metavar="S", help="record for S seconds")
    length.add_argument("--samples", type=int, metavar="N",
                        help="record exactly N stored samples (after decimation or "
                        "downsampling for processed recordings)")
    parser.add_argument("--force", action="store_true", help="overwrite FILE if it exists")
    processed = parser.add_argument_group("processed recordings (float32 power)")
    add_stream_arguments(processed)
    processed.add_argument("--dtype", choices=("float32",),
                           help="sample type of processed recordings (float32, the only one)")


def check(args):
    """Refuses options that cannot make a recording, before anything is opened; returns the
    kind of recording, "raw" or "processed"."""
    if args.seconds is not None and not args.seconds > 0:
        raise UsageError("--seconds must be positive")
    if args.samples is not None and args.samples <= 0:
        raise UsageError("--samples must be positive")
    if args.cutoff is not None and not args.cutoff > 0:
        raise UsageError("--cutoff must be a positive frequency in Hz")
    if args.decimate is not None and args.decimate < 1:
        raise UsageError("--decimate must be 1 or more")
    if args.units is not None:
        units.exponent_of(args.units)
    path = args.file
    folder = os.path.dirname(os.path.abspath(path))
    if os.path.isdir(path):
        raise UsageError(f"{path} is a folder; name the file to record to")
    if os.path.exists(path) and not args.force:
        raise UsageError(f"{path} exists; add --force to overwrite it, or choose another name")
    if not os.path.isdir(folder):
        raise UsageError(f"cannot record to {path}: the folder {folder} does not exist")
    if not os.access(folder, os.W_OK | os.X_OK):
        raise UsageError(f"cannot record to {path}: the folder {folder} cannot be written")
    processed = any(v is not None for v in (args.filter, args.cutoff, args.decimate, args.dtype,
                                            args.units))
    return "processed" if processed else "raw"
