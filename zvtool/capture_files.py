"""Writing captured samples to .npy or .csv files."""
import pathlib

import numpy

from zvtool import checks

# The file kinds write() makes, by extension.
KINDS = (".npy", ".csv")


def write(path, samples, samplerate, quantity):
    """Writes samples to path; the format follows the extension (.npy or .csv)."""
    path = pathlib.Path(path)
    suffix = path.suffix.lower()
    if suffix == ".npy":
        numpy.save(path, samples)
    elif suffix == ".csv":
        times = numpy.arange(len(samples)) / samplerate
        fmt = ("%.9g", "%d") if samples.dtype.kind in "ui" else ("%.9g", "%.9g")
        numpy.savetxt(path, numpy.column_stack((times, samples)), delimiter=",", fmt=fmt,
                      header=f"time_s,{quantity}", comments="")
    else:
        checks.kind(str(path), KINDS)


def read(path):
    """Reads a file written by write(): the samples (CSV: the second column)."""
    path = pathlib.Path(path)
    if path.suffix.lower() == ".npy":
        return numpy.load(path)
    return numpy.loadtxt(path, delimiter=",", skiprows=1, usecols=1)
