"""What the commands on recording files share: opening one with errors a user can act on, the
advice for a recording whose writer was killed, and times given in seconds turned into stored
sample indices."""
import math

from zvtool.errors import UsageError

UNCLOSED_ADVICE = """\
A recording whose program was killed or crashed holds every sample up to its last flush, at
most half a second before the end. zv show, zv plot,
zvpy.Recording and h5py with swmr=True read it as it is. HDF5 tools that do not use the
single-writer / multiple-reader mode refuse it ("file is already open for write"): run
'zv repair FILE' once, which does what 'h5clear -s --increment=0 FILE' does. Never run
'h5clear -s' without --increment on a recording: it cuts the file back to its first
allocation and the samples are lost."""

SIMULATE_HELP = "accepted for uniformity; this command reads only the file"


def add_file_argument(parser):
    parser.add_argument("file", metavar="FILE", help="a recording (.h5) written by zv")


def open_recording(path):
    """zvpy.Recording(path); a missing file is a UsageError naming it."""
    import zvpy

    try:
        return zvpy.Recording(path)
    except FileNotFoundError:
        raise UsageError(f"no such file: {path}") from None


def stretch(recording, start_seconds, stop_seconds):
    """(start, stop) stored-sample indices of the seconds [start, stop) of a recording (stored
    time: index / sample rate, gaps not counted); the whole recording by default."""
    length, rate = len(recording), recording.samplerate
    duration = length / rate
    start = 0 if start_seconds is None else start_seconds
    stop = duration if stop_seconds is None else stop_seconds
    for name, value in (("--start", start), ("--stop", stop)):
        if not (math.isfinite(value) and 0 <= value <= duration):
            raise UsageError(f"{name} {value:g} s is outside the recording, which lasts "
                             f"{duration:.9g} s ({length} samples at {rate:g} S/s)")
    first, last = int(round(start * rate)), min(length, int(round(stop * rate)))
    if last - first < 2:
        raise UsageError(f"--start {start:g} s to --stop {stop:g} s holds fewer than 2 samples; "
                         f"the recording lasts {duration:.9g} s")
    return first, last
