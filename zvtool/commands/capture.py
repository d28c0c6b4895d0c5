"""zv capture: raw, calibrated or processed samples to a file, optionally plotted."""
import sys

import numpy

from zvtool import capture_files, units
from zvtool.connection import add_device_arguments, open_device
from zvtool.progress import Progress

NAME = "capture"
HELP = "capture raw, calibrated or processed samples to .npy or .csv, optionally with a plot"


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
    processed.add_argument("--filter", metavar="MODE",
                           help="low-pass filter mode, e.g. butterworth4, chebyI4, rbj, fir")
    processed.add_argument("--cutoff", type=float, metavar="HZ", help="filter cutoff in Hz")
    processed.add_argument("--decimate", type=int, metavar="N",
                           help="keep one sample in N after an automatic anti-aliasing filter")
    processed.add_argument("--dtype", choices=("float32", "float64"), help="sample type")
    processed.add_argument("--units", metavar="UNIT",
                           help="power unit of processed samples: pW, nW, uW (default), mW, W")
    trigger = parser.add_argument_group("triggered capture (raw or calibrated)")
    trigger.add_argument("--trigger", metavar="MODE:PORT",
                         help="start at a level or edge: rising, falling, high or low on port S "
                         "or T, e.g. rising:S")
    trigger.add_argument("--per-trigger", type=int, metavar="K",
                         help="capture bursts of K samples, each starting at its own trigger")
    parser.add_argument("--keep-port-bits", action="store_true",
                        help="raw captures: keep the port S and T levels in bits 14 and 15")
    parser.add_argument("--block", type=int, default=4_000_000, metavar="N",
                        help="untriggered captures longer than N samples are taken as blocks of "
                        "N to show progress and allow Ctrl-C; the detector is not read between "
                        "blocks, so samples between them are not recorded (default %(default)s)")


def plan(args):
    """Which kind of capture the options ask for; rejects contradictory options."""
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
    if args.block <= 0:
        raise ValueError("--block must be positive")
    return "processed" if processed else "calibrated" if calibrated else "raw"


def collect_in_blocks(total, block, read_block, dtype):
    """Fills an array of `total` samples block by block with a progress bar; Ctrl-C keeps what
    has been read so far. Returns (samples, interrupted)."""
    out = numpy.zeros(total, dtype=dtype)
    done = 0
    progress = Progress(total) if total > block else None
    try:
        while done < total:
            count = min(block, total - done)
            out[done:done + count] = read_block(count)
            done += count
            if progress:
                progress.update(done)
    except KeyboardInterrupt:
        if progress:
            progress.close()
        print(f"zv: interrupted; keeping the {done} samples captured so far", file=sys.stderr)
        return out[:done], True
    if progress:
        progress.close()
    return out, False


def trigger_words(args):
    if not args.trigger:
        return {}
    mode, _, port = args.trigger.partition(":")
    if not port:
        raise ValueError("--trigger takes MODE:PORT, e.g. rising:S")
    words = {"trig_mode": mode, "trig_port": port}
    if args.per_trigger is not None:
        words["samples_per_trigger"] = args.per_trigger
    return words


def capture(device, args, kind):
    """Returns (samples, samplerate, quantity, unit, interrupted)."""
    if kind == "processed":
        stream = device.open_stream(dtype=args.dtype or "float64")
        try:
            if args.units:
                stream.set_calibration_units(units.exponent_of(args.units))
            if args.decimate is not None:
                stream.set_decimation(args.decimate)
            if args.filter:
                stream.set_filter(args.filter)
            if args.cutoff is not None:
                stream.set_cutoff(args.cutoff)
            samples, interrupted = collect_in_blocks(args.nsamples, args.block, stream.acquire,
                                                     stream.dtype)
            unit = units.power_unit(stream.read_calibration_units())
            return samples, stream.samplerate, "power", unit, interrupted
        finally:
            stream.close()
    words = trigger_words(args)
    if kind == "calibrated":
        def read(count):
            return device.get_calibrated_data(count, wavelength=args.wavelength, **words)
        quantity, unit, dtype = "power", "µW", numpy.float64
    else:
        def read(count):
            return device.get_raw_data(count, mask=not args.keep_port_bits, **words)
        quantity, unit, dtype = "ADC code", "code", numpy.uint16
    block = args.nsamples if words else args.block  # a triggered capture is one collection
    samples, interrupted = collect_in_blocks(args.nsamples, block, read, dtype)
    return samples, float(device.samplerate), quantity, unit, interrupted


def summary(samples, samplerate, quantity, unit):
    if len(samples) == 0:
        return "0 samples"
    values = numpy.asarray(samples, dtype=numpy.float64)
    return (f"{len(samples)} samples at {samplerate:g} S/s ({len(samples) / samplerate:.6g} s): "
            f"mean {quantity} {values.mean():.6g} {unit}, peak {values.max():.6g} {unit}")


def run(args):
    kind = plan(args)
    with open_device(args) as device:
        samples, samplerate, quantity, unit, interrupted = capture(device, args, kind)
    if args.out:
        capture_files.write(args.out, samples, samplerate, f"{quantity} ({unit})")
        print(f"wrote {args.out}")
    if args.plot:
        from zvtool import plotting

        plotting.plot(args.plot, samples, samplerate, quantity, unit)
        print(f"wrote {args.plot}")
    print(summary(samples, samplerate, quantity, unit))
    return 130 if interrupted else 0
