"""zv capture: raw, calibrated or processed samples to a file, optionally plotted."""
import sys

import numpy

from zvtool import capture_files, checks, plotting, units
from zvtool.connection import add_device_arguments, open_device
from zvtool.errors import UsageError
from zvtool.progress import Progress

NAME = "capture"
HELP = "capture raw, calibrated or processed samples to .npy or .csv, optionally with a plot"
EXAMPLES = """\
kinds of capture:
  raw         14-bit ADC codes (uint16), the default
  calibrated  power in µW (float64) from the detector's stored calibration
  processed   a stream: power (µW unless --units), low-pass filtered and/or reduced in rate

examples:
  # 1 million raw samples (12.5 ms at 80 MS/s)
  zv capture 1000000 --out codes.npy
  # power in µW at 1310 nm, as CSV (time_s, power), with a plot
  zv capture 200000 --calibrated --wavelength 1310 --out power.csv --plot power.png
  # one sample in 8 behind an anti-aliasing filter (80 -> 10 MS/s), in mW
  zv capture 100000 --decimate 8 --units mW --out slow.npy
  # low-pass filtered at 2 MHz, full rate, single precision
  zv capture 100000 --filter chebyI4 --cutoff 2e6 --dtype float32 --out filtered.npy
  # 10 bursts of 1000 samples, each at a rising edge of port S, with the port bits
  zv capture 10000 --trigger rising:S --per-trigger 1000 --keep-port-bits --out bursts.npy
  # no hardware needed
  zv capture 50000 --simulate --calibrated --plot trace.png

Untriggered captures of any length are one continuous stream, without gaps between reads and
without filter restarts; a progress bar shows on a terminal, and Ctrl-C keeps the samples read
so far. Samples the detector or a busy computer lost are counted and reported.

File formats: .npy keeps the samples' type (numpy.load reads it); .csv has the columns
time_s and the sample value."""

# The stream's filter modes: the everyday ones, then variants kept for comparison.
FILTER_MODES = ("none", "butterworth2", "butterworth4", "butterworth6", "butterworth8",
                "chebyI2", "chebyI4", "chebyI6", "chebyI8", "rbj", "fir",
                "butterdfI2", "butterdfII2", "buttertdfI2", "buttertdfII2",
                "chebyImax8but2", "chebyImax8but4", "chebyImax8but6",
                "badbutter2", "badbutter4", "badbutter8")
TRIGGER_MODES = ("rising", "falling", "high", "low")
TRIGGER_PORTS = ("S", "T")


def add_stream_arguments(group):
    """The options of a processed stream (also zv record's): filter, cutoff, decimation, unit."""
    group.add_argument("--filter", metavar="MODE", choices=FILTER_MODES,
                       help="low-pass filter: butterworth2/4/6/8, chebyI2/4/6/8 (0.05 dB "
                       "ripple), rbj (biquad), fir (moving average), none; with --cutoff")
    group.add_argument("--cutoff", type=float, metavar="HZ",
                       help="filter cutoff frequency in Hz, above 0 and below half the "
                       "detector's sample rate; needs --filter or --decimate (default: 0.4 × "
                       "the reduced rate with --decimate, else half the sample rate)")
    group.add_argument("--decimate", type=int, metavar="N",
                       help="keep one sample in N after a 4th-order Butterworth low pass at "
                       "0.4 × the reduced rate")
    group.add_argument("--units", metavar="UNIT",
                       help="power unit of processed samples: pW, nW, uW (default), mW, W")


def configure_stream(stream, args):
    """Applies the stream options (unit, decimation, filter, cutoff) to a processed stream."""
    if args.units:
        stream.set_calibration_units(units.exponent_of(args.units))
    if args.decimate is not None:
        stream.set_decimation(args.decimate)
    if args.filter:
        stream.set_filter(args.filter)
    if args.cutoff is not None:
        stream.set_cutoff(args.cutoff)


def add_arguments(parser):
    add_device_arguments(parser)
    parser.add_argument("nsamples", type=int, help="number of samples to capture (after "
                        "decimation or downsampling for processed captures)")
    parser.add_argument("--out", metavar="FILE", help="write the samples to FILE (.npy or .csv)")
    parser.add_argument("--plot", metavar="FILE.png",
                        help="draw the trace and its power spectrum into a PNG file")
    calibrated = parser.add_argument_group("calibrated samples (µW, from the stored calibration)")
    calibrated.add_argument("--calibrated", action="store_true",
                            help="convert to µW at the photodiode's peak responsivity")
    calibrated.add_argument("--wavelength", type=float, metavar="NM",
                            help="convert to µW at this wavelength (nm)")
    processed = parser.add_argument_group("processed samples (a stream: calibrated, filtered, "
                                          "reduced)")
    add_stream_arguments(processed)
    processed.add_argument("--dtype", choices=("float32", "float64"),
                           help="sample type of processed captures (default float64)")
    trigger = parser.add_argument_group("triggered capture (raw or calibrated)")
    trigger.add_argument("--trigger", metavar="MODE:PORT",
                         help="start at a level or edge on logic port S or T: MODE is rising, "
                         "falling, high or low, e.g. rising:S")
    trigger.add_argument("--per-trigger", type=int, metavar="K",
                         help="capture bursts of K samples, each starting at its own trigger, "
                         "until nsamples are captured")
    parser.add_argument("--keep-port-bits", action="store_true",
                        help="raw captures: keep the port S and T levels in bits 14 and 15")


def plan(args):
    """Which kind of capture the options ask for; rejects contradictory options and output
    files that could not be written, before the detector is touched."""
    processed = any(v is not None for v in (args.filter, args.cutoff, args.decimate, args.dtype,
                                            args.units))
    calibrated = args.calibrated or args.wavelength is not None
    if args.nsamples <= 0:
        raise ValueError("the number of samples must be positive")
    if processed and calibrated:
        raise ValueError("processed captures are calibrated already: drop --calibrated/"
                         "--wavelength, or drop the stream options")
    if processed and (args.trigger or args.per_trigger):
        raise ValueError("triggers apply to raw and calibrated captures, not processed ones")
    if args.per_trigger is not None and not args.trigger:
        raise ValueError("--per-trigger needs --trigger MODE:PORT")
    if args.per_trigger is not None and (args.per_trigger <= 0
                                         or args.nsamples % args.per_trigger):
        # The detector records whole bursts only: a partial last burst would be left as zeros.
        raise ValueError("--per-trigger K must be positive and divide the number of samples")
    kind = "processed" if processed else "calibrated" if calibrated else "raw"
    if args.keep_port_bits and kind != "raw":
        checks.refuse("port bits", kind=kind)
    checks.stream_options(args)
    if args.out is not None:
        checks.output_file(args.out, "--out", capture_files.KINDS)
    if args.plot is not None:
        checks.output_file(args.plot, "--plot", plotting.KINDS)
    return kind


# Samples per read of a continuous capture: about a tenth of a second, so the progress bar moves
# and the loop stays responsive, and never so few that the reads cost more than the samples.
READS_PER_SECOND = 10
SMALLEST_READ = 1 << 16


def stream_into(out, stream, samplerate, convert=None):
    """Fills `out` from a continuous stream, read after read with no gap between them, showing
    progress; Ctrl-C keeps what has been read. `convert` turns each block's samples into the
    output's values. Returns (samples, interrupted, lost)."""
    total = len(out)
    step = max(SMALLEST_READ, int(samplerate / READS_PER_SECOND))
    done = 0
    progress = Progress(total) if total > step else None
    interrupted = False
    stream.start()
    try:
        while done < total:
            block = stream.read(min(step, total - done))
            samples = block.samples if convert is None else convert(block.samples)
            out[done:done + len(block)] = samples
            done += len(block)
            if progress:
                progress.update(done)
    except KeyboardInterrupt:
        interrupted = True
    finally:
        lost = stream.lost_total
        stream.close()
        if progress:
            progress.close()
    if interrupted:
        print(f"zv: interrupted; keeping the {done} samples captured so far", file=sys.stderr)
    return out[:done], interrupted, lost


def trigger_words(args):
    if not args.trigger:
        return {}
    mode, _, port = args.trigger.partition(":")
    if mode.lower() not in TRIGGER_MODES or port.upper() not in TRIGGER_PORTS:
        raise UsageError(f"--trigger takes MODE:PORT with MODE one of {', '.join(TRIGGER_MODES)} "
                         f"and PORT S or T, e.g. rising:S (not {args.trigger!r})")
    words = {"trig_mode": mode, "trig_port": port}
    if args.per_trigger is not None:
        words["samples_per_trigger"] = args.per_trigger
    return words


def capture(device, args, kind):
    """Returns (samples, samplerate, quantity, unit, interrupted, lost)."""
    samplerate = checks.sample_rate(device)
    checks.cutoff(args, samplerate)
    if kind == "processed":
        stream = device.open_stream(dtype=args.dtype or "float64")
        try:
            configure_stream(stream, args)
            samplerate = stream.samplerate
            unit = units.power_unit(stream.read_calibration_units())
            out = numpy.empty(args.nsamples, dtype=stream.dtype)
            samples, interrupted, lost = stream_into(out, stream, samplerate)
            return samples, samplerate, "power", unit, interrupted, lost
        finally:
            stream.close()
    if kind == "calibrated":
        # The library refuses a stored pair that is not finite, saying so.
        gain, offset = (device.get_calibration("auto") if args.wavelength is None
                        else device.get_rel_calibration(args.wavelength, "auto"))
    words = trigger_words(args)
    if words:
        # A triggered capture is one collection (Ctrl-C ends it without samples).
        try:
            if kind == "calibrated":
                samples = device.get_calibrated_data(args.nsamples, wavelength=args.wavelength,
                                                     **words)
            else:
                samples = device.get_raw_data(args.nsamples, mask=not args.keep_port_bits,
                                              **words)
        except KeyboardInterrupt:
            print("zv: interrupted before the triggered capture was complete", file=sys.stderr)
            samples = numpy.zeros(0, numpy.float64 if kind == "calibrated" else numpy.uint16)
            return samples, samplerate, *QUANTITIES[kind], True, 0
        return samples, samplerate, *QUANTITIES[kind], False, 0
    if kind == "calibrated":
        out = numpy.empty(args.nsamples, dtype=numpy.float64)
        samples, interrupted, lost = stream_into(out, device.open_raw_stream(), samplerate,
                                                 lambda codes: codes * gain + offset)
    else:
        out = numpy.empty(args.nsamples, dtype=numpy.uint16)
        stream = device.open_raw_stream(mask=not args.keep_port_bits)
        samples, interrupted, lost = stream_into(out, stream, samplerate)
    return samples, samplerate, *QUANTITIES[kind], interrupted, lost


# What raw and calibrated captures hold: (quantity, unit).
QUANTITIES = {"raw": ("ADC code", "code"), "calibrated": ("power", "µW")}


def summary(samples, samplerate, quantity, unit):
    if len(samples) == 0:
        return "0 samples"
    values = numpy.asarray(samples, dtype=numpy.float64)
    return (f"{len(samples)} samples at {samplerate:g} S/s ({len(samples) / samplerate:.6g} s): "
            f"mean {quantity} {values.mean():.6g} {unit}, peak {values.max():.6g} {unit}")


def run(args):
    kind = plan(args)
    with open_device(args) as device:
        samples, samplerate, quantity, unit, interrupted, lost = capture(device, args, kind)
    if args.out is not None:
        capture_files.write(args.out, samples, samplerate, f"{quantity} ({unit})")
        print(f"wrote {args.out}")
    if args.plot is not None:
        note = None
        if args.per_trigger:
            note = (f"{len(samples) // args.per_trigger} bursts of {args.per_trigger} samples, "
                    "each from its own trigger, joined end to end")
        plotting.plot(args.plot, samples, samplerate, quantity, unit, note=note)
        print(f"wrote {args.plot}")
    print(summary(samples, samplerate, quantity, unit))
    if lost:
        print(f"zv: {lost} samples were lost during the capture (the warnings above say where); "
              "the file holds the samples that arrived, joined", file=sys.stderr)
    return 130 if interrupted else 0
