"""The capture figure of a stretch of a recording, read piece by piece: memory stays bounded
(a few pieces of PIECE samples) whatever the size of the recording."""
import math

import numpy

from zvtool import plotting, units as power_units

# Samples read at a time: 16 MiB of float32 power.
PIECE = 4 * 1024 * 1024
# A long stretch's spectrum averages this many segments spread evenly over it.
MAX_SEGMENTS = 2000
# Gaps marked on the whole-stretch panel at most.
MAX_MARKS = 500


def segment_starts(count, segment, most):
    """Starts of the spectrum's segments: every half-overlapping one, as for a capture in
    memory, or `most` of them spread evenly over a longer stretch."""
    every = range(0, count - segment + 1, segment // 2)
    if len(every) <= most:
        return list(every)
    return [int(s) for s in numpy.linspace(0, count - segment, most).round()]


def plot(path, recording, start, stop, units, columns=2000, detail=400, segment=4096,
         max_points=20_000, piece=PIECE):
    """Draws stored samples [start, stop) of recording as power in `units` into the PNG."""
    label = power_units.power_unit(power_units.exponent_of(units))  # "µW" for "uW"
    count = stop - start
    rate = recording.samplerate
    marks = [index - start for index, _, _ in recording.gaps if start < index < stop][:MAX_MARKS]
    note = f"{recording.path}: stored samples {start} to {stop} of {len(recording)}"
    if marks:
        note += f"; {len(marks)} gaps marked in red"
    if count <= max_points:
        plotting.plot(path, recording.power(start, stop, units), rate, "power", label,
                      note=note, first_time=start / rate, marks=marks)
        return

    width = math.ceil(count / columns)  # samples per envelope column
    piece = max(1, piece // width) * width  # whole columns per piece
    segment = min(segment, count)
    starts = segment_starts(count, segment, MAX_SEGMENTS)
    if len(starts) < len(range(0, count - segment + 1, segment // 2)):
        note += f"\nspectrum: {len(starts)} segments spread over the stretch"
    spectrum = plotting.SpectrumAverage(segment, rate)
    lows, highs, close_look = [], [], None
    next_segment = 0
    for first in range(0, count, piece):
        last = min(first + piece, count)
        values = recording.power(start + first, start + last, units)
        low, high = plotting.envelope(values, math.ceil((last - first) / width))
        lows.append(low)
        highs.append(high)
        if close_look is None:
            close_look = values[:detail].copy()
        while next_segment < len(starts) and starts[next_segment] < last:
            s = starts[next_segment]
            if s + segment <= last:
                spectrum.add(values[s - first:s - first + segment])
            else:  # it runs into the next piece: read it on its own
                spectrum.add(recording.power(start + s, start + s + segment, units))
            next_segment += 1
    low, high = numpy.concatenate(lows), numpy.concatenate(highs)
    whole = ("envelope", numpy.arange(len(low)) * width, low, high)
    plotting.draw(path, count=count, samplerate=rate, quantity="power", unit=label,
                  whole=whole, close_look=close_look, spectrum=spectrum.result(), note=note,
                  first_time=start / rate, marks=marks)
