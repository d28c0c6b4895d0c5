"""zv show: what a recording holds and how it was made."""
import datetime
import os

from zvtool import recordings

NAME = "show"
HELP = "summarise a recording: duration, rate, detector, settings, calibration, gaps, changes"
SIMULATE_HELP = recordings.SIMULATE_HELP
EXAMPLES = """\
Times count stored samples from the first (index / sample rate): a gap takes no time in the
file, it is listed with the samples it lost.

examples:
  zv show run.h5
  zv show run.h5 --all          every gap and setting change, not only the first 10

""" + recordings.UNCLOSED_ADVICE

STATES = {
    "closed": "closed by its writer",
    "writing": "being written now (this summary is of its last flush)",
    "unclosed": "not closed: its writer stopped without closing it (killed or crashed); "
                "zv and h5py (swmr=True) read it as it is, 'zv repair' makes it readable by "
                "other HDF5 tools",
}
LISTED = 10


def add_arguments(parser):
    recordings.add_file_argument(parser)
    parser.add_argument("--all", action="store_true",
                        help="list every gap and setting change (default: the first 10)")


def utc(seconds):
    if not seconds:
        return "none yet"
    moment = datetime.datetime.fromtimestamp(seconds, tz=datetime.timezone.utc)
    return moment.isoformat(timespec="microseconds").replace("+00:00", "Z")


def rows(recording, list_all):
    """(label, text) lines of the summary."""
    a = recording.attrs
    rate = recording.samplerate
    size = os.path.getsize(recording.path)
    yield "file", f"{recording.path} ({size / 1e6:.1f} MB), {STATES[recording.state]}"
    if recording.kind == "raw":
        port_bits = ("bits 14 and 15 cleared" if a.get("port_bits_masked")
                     else "ports S and T in bits 14 and 15")
        yield "samples", f"raw 16-bit words (ADC code in bits 0-13, {port_bits})"
    else:
        yield "samples", f"processed float32 power in {a.get('units')}"
    yield "length", (f"{len(recording)} samples at {rate:g} S/s = {recording.duration:.9g} s")
    yield "started", f"{a.get('start_utc')} (first sample at {utc(a.get('first_sample_time'))})"
    yield "detector", (f"{a.get('serial')} ({a.get('product')}), firmware {a.get('firmware')}, "
                       f"recorded by zv {a.get('zv_version')}")
    yield "ADC", (f"{a.get('adc_bits')} bits at {a.get('device_samplerate', 0):g} S/s, high gain "
                  f"{'on' if a.get('high_gain') else 'off'} at the start")
    if recording.kind == "processed" or a.get("filter") not in (None, "none"):
        cutoff = f", cutoff {a.get('cutoff'):g} Hz" if a.get("cutoff") else ""
        yield "processing", (f"filter {a.get('filter')}{cutoff}, downsampling "
                             f"{a.get('downsampling')}, decimation {a.get('decimation')}")
    gain, offset = a.get("calibration", (float("nan"), float("nan")))
    follows = " (the automatic choice: follows the gain)" if a.get(
        "calibration_follows_gain") else ""
    pair = a.get("calibration_pair")
    source = "custom" if pair == -1 else f"pair {pair}{follows}"
    yield "calibration", (f"{source}: µW = {gain:.6g} × code "
                          f"{'-' if offset < 0 else '+'} {abs(offset):.6g}, at "
                          f"{a.get('wavelength'):g} nm (relative responsivity "
                          f"{a.get('responsivity'):.6g})")
    for index, (pair_gain, pair_offset) in enumerate(a.get("calibrations", ())):
        yield "", f"stored pair {index}: {pair_gain:.6g} µW/code, offset {pair_offset:.6g} µW"
    gaps = recording.gaps
    lost = sum(g[1] for g in gaps)
    yield "gaps", (f"{len(gaps)}, {lost} samples lost" if gaps else "none: no sample lost")
    shown = gaps if list_all else gaps[:LISTED]
    for index, count, kind in shown:
        yield "", f"at sample {index} ({index / rate:.9g} s): {count} lost ({kind})"
    if len(shown) < len(gaps):
        yield "", f"... and {len(gaps) - len(shown)} more (--all lists them)"
    changes = recording.changes
    yield "changes", f"{len(changes)} settings changed while recording" if changes else "none"
    shown = changes if list_all else changes[:LISTED]
    for index, name, value in shown:
        yield "", f"at sample {index} ({index / rate:.9g} s): {name} = {value:g}"
    if len(shown) < len(changes):
        yield "", f"... and {len(changes) - len(shown)} more (--all lists them)"


def run(args):
    with recordings.open_recording(args.file) as recording:
        for label, text in rows(recording, args.all):
            print(f"{label:14}{text}" if label else f"{'':16}{text}")  # rows under a label
    return 0
