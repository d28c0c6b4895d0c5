"""zv record: a continuous acquisition written to an HDF5 recording by libzv's recorder, with
progress on standard error. Every check of the options runs before anything is opened or
written (the cutoff's, which needs the detector's rate, before anything is written); Ctrl-C closes the file with the samples recorded so far."""
import os
import shutil
import sys
import time

from zvtool import checks, recordings, units
from zvtool.commands.capture import add_stream_arguments, configure_stream
from zvtool.connection import add_device_arguments, open_device
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

Progress (on a terminal, twice a second; otherwise every 10 s) shows the time recorded, the
samples written, the rate, the samples lost and the free disk space. Samples are never lost
silently: a detector loss or a disk too slow for the stream is counted, reported and written
to the file's gap table. A full disk or a failed write stops the recording with an error naming
the file and the cause; the file keeps every sample before it. Ctrl-C ends the recording and
closes the file with the samples recorded so far (exit status 130). --simulate records a
simulated detector sampling in real time.

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
    if args.decimate is not None and args.decimate < 1:
        raise UsageError("--decimate must be 1 or more")
    if args.units is not None:
        units.exponent_of(args.units)
    checks.stream_options(args)
    path = args.file
    checks.output_file(path, "the recording")
    if os.path.exists(path) and not args.force:
        raise UsageError(f"{path} exists; add --force to overwrite it, or choose another name")
    processed = any(v is not None for v in (args.filter, args.cutoff, args.decimate, args.dtype,
                                            args.units))
    return "processed" if processed else "raw"


# Bytes per stored sample of each kind of recording.
SAMPLE_BYTES = {"raw": 2, "processed": 4}
# Seconds between progress reports on a terminal, and otherwise.
TERMINAL_EVERY = 0.5
LOG_EVERY = 10.0


def open_stream(device, args, kind):
    if kind == "raw":
        return device.open_raw_stream()
    stream = device.open_stream(dtype="float32")
    configure_stream(stream, args)
    return stream


def size_text(n):
    for unit in ("B", "kB", "MB", "GB", "TB"):
        if n < 1000 or unit == "TB":
            return f"{n:.1f} {unit}" if unit != "B" else f"{n} B"
        n /= 1000


class Report:
    """The progress line: time, samples, rate, losses, free disk space."""

    def __init__(self, path, samplerate, kind, stream=sys.stderr):
        self.folder = os.path.dirname(os.path.abspath(path))
        self.samplerate = samplerate
        self.sample_bytes = SAMPLE_BYTES[kind]
        self.stream = stream
        self.terminal = stream.isatty()
        self.start = self.last = time.monotonic()
        self.last_samples = 0

    def due(self):
        return time.monotonic() - self.last >= (TERMINAL_EVERY if self.terminal else LOG_EVERY)

    def show(self, recorder):
        now = time.monotonic()
        written = recorder.samples_written
        rate = (written - self.last_samples) / max(now - self.last, 1e-9)
        self.last, self.last_samples = now, written
        free = shutil.disk_usage(self.folder).free
        line = (f"{written / self.samplerate:8.1f} s  {written} samples  "
                f"{rate / 1e6:.1f} MS/s ({size_text(rate * self.sample_bytes)}/s)  "
                f"lost {recorder.lost_total}  disk free {size_text(free)}")
        if self.terminal:
            self.stream.write("\r" + line + "\x1b[K")
        else:
            self.stream.write(line + "\n")
        self.stream.flush()

    def close(self):
        if self.terminal:
            self.stream.write("\n")
            self.stream.flush()


def room_warning(path, samples, kind):
    """A note when the disk cannot hold the whole recording (it then stops when it is full)."""
    free = shutil.disk_usage(os.path.dirname(os.path.abspath(path))).free
    needed = samples * SAMPLE_BYTES[kind]
    if needed > free:
        print(f"zv: {path} needs about {size_text(needed)} and the disk has {size_text(free)} "
              "free; the recording will stop when it is full", file=sys.stderr)


def run(args):
    kind = check(args)
    with open_device(args, realtime=True) as device:
        checks.cutoff(args, checks.sample_rate(device))
        stream = open_stream(device, args, kind)
        with stream:
            samplerate = float(stream.samplerate)
            planned = args.samples if args.samples is not None else int(args.seconds * samplerate)
            room_warning(args.file, planned, kind)
            recorder = stream.start_recording(args.file, seconds=args.seconds,
                                              nsamples=args.samples, overwrite=args.force)
            limit = (f"{args.samples} samples" if args.samples is not None
                     else f"{args.seconds:g} s")
            print(f"zv: recording {kind} samples of {device.serial} at {samplerate:g} S/s to "
                  f"{args.file} for {limit}; Ctrl-C ends it", file=sys.stderr, flush=True)
            report = Report(args.file, samplerate, kind)
            interrupted = False
            try:
                while not recorder.wait(timeout=TERMINAL_EVERY):
                    if report.due():
                        report.show(recorder)
            except KeyboardInterrupt:
                interrupted = True
            finally:
                recorder._finish()  # the file is closed whatever ended the wait
                report.close()
            recorder.stop()  # the recording's failure, if it had one
    written, lost = recorder.samples_written, recorder.lost_total
    print(f"wrote {args.file}: {written} samples ({written / samplerate:.6g} s at {samplerate:g} "
          f"S/s), {lost} lost")
    if lost:
        print(f"zv: {lost} samples were lost during the recording; 'zv show {args.file}' lists "
              "where and why", file=sys.stderr)
    if interrupted:
        print(f"zv: interrupted; {args.file} holds the {written} samples recorded so far",
              file=sys.stderr)
        return 130
    return 0
