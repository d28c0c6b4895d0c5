"""The checks the commands make on their options before they touch a detector or a file, so that
a mistake costs nothing: output files, options that contradict each other, and (once the
detector is open, before any sample is taken) a filter's cutoff against the detector's rate.
Every refusal is a UsageError whose text is a row of MESSAGES."""
import os

from zvtool.errors import UsageError

MESSAGES = {
    "no file name": "{what} needs a file name{ending}",
    "unknown kind": "cannot write {path}: use a file name ending in {kinds}",
    "folder": "{path} is a folder; name the file to write",
    "no folder": "cannot write {path}: the folder {folder} does not exist",
    "read-only folder": "cannot write {path}: the folder {folder} cannot be written",
    "cutoff without filter": ("--cutoff needs a filter to act on: add --filter MODE (not none) "
                              "or --decimate N (2 or more), or drop --cutoff"),
    "cutoff range": ("--cutoff {cutoff:g} Hz is out of range: the filter runs at the detector's "
                     "{rate:g} S/s, so its cutoff must be above 0 and below {nyquist:g} Hz "
                     "(half the sample rate)"),
    "no sample rate": ("the detector reports no sample rate (its identity leaves it unset), "
                       "so its samples have no time base; 'zv info' shows its identity"),
    "port bits": ("--keep-port-bits applies to raw captures only: {kind} samples are computed "
                  "from the 14-bit code"),
}


def refuse(key, **fields):
    raise UsageError(MESSAGES[key].format(**fields))


def output_file(path, what, kinds=()):
    """Refuses a file a command could not write: no name, a folder, a folder that is missing or
    read-only, or (given kinds, the accepted extensions) an extension it cannot write. `what`
    names the option in the message."""
    if not path:
        ending = f" ending in {' or '.join(kinds)}" if kinds else ""
        refuse("no file name", what=what, ending=ending)
    if kinds:
        kind(path, kinds)
    folder = os.path.dirname(os.path.abspath(path))
    if os.path.isdir(path):
        refuse("folder", path=path)
    if not os.path.isdir(folder):
        refuse("no folder", path=path, folder=folder)
    if not os.access(folder, os.W_OK | os.X_OK):
        refuse("read-only folder", path=path, folder=folder)


def kind(path, kinds):
    """Refuses a file name whose extension is not one of `kinds` (".npy", ...)."""
    if os.path.splitext(path)[1].lower() not in kinds:
        refuse("unknown kind", path=path, kinds=" or ".join(kinds))


def effective_filter(args):
    """The filter a processed stream ends up with: --filter, else the one --decimate N (N of 2
    or more) chooses, else none."""
    if args.filter:
        return args.filter
    return "butterworth4" if args.decimate is not None and args.decimate >= 2 else "none"


def stream_options(args):
    """Refuses a cutoff with no filter to act on."""
    if args.cutoff is not None and effective_filter(args) == "none":
        refuse("cutoff without filter")


def sample_rate(device):
    """The detector's sample rate in S/s; refuses a detector whose identity leaves it unset or
    zero (the binding raises for both)."""
    import zvpy

    try:
        return float(device.samplerate)
    except zvpy.Error:
        refuse("no sample rate")


def cutoff(args, rate):
    """Refuses a cutoff the filter cannot have at the detector's rate `rate` (the rate the
    filter runs at, before any decimation): zero, negative, not a number, or at or above half
    the rate, where the designs give diverging or meaningless coefficients."""
    if args.cutoff is not None and not 0 < args.cutoff < rate / 2:  # NaN fails too
        refuse("cutoff range", cutoff=args.cutoff, rate=rate, nyquist=rate / 2)

