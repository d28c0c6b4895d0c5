"""The capture plot: the whole trace (as its envelope when long), a close look at its start, and
its power spectral density, with SI-prefixed axes (s, Hz). A capture in memory and a recording
read piece by piece (zvtool.recording_plot) draw the same figure from the same parts."""
import numpy

# The picture files the plots are written to, by extension.
KINDS = (".png",)


class SpectrumAverage:
    """Welch's averaged periodogram, fed one segment at a time: Hann window, each segment's mean
    removed, one-sided density in unit²/Hz."""

    def __init__(self, segment, samplerate):
        self.segment = int(segment)
        self.samplerate = samplerate
        self.window = numpy.hanning(self.segment)
        self.sum = numpy.zeros(self.segment // 2 + 1)
        self.count = 0

    def add(self, samples):
        x = numpy.asarray(samples, dtype=numpy.float64)
        spectrum = numpy.fft.rfft((x - x.mean()) * self.window)
        self.sum += numpy.abs(spectrum) ** 2
        self.count += 1

    def result(self):
        """(frequencies in Hz, density in unit²/Hz); empty before any segment."""
        if self.count == 0:
            return numpy.zeros(0), numpy.zeros(0)
        density = self.sum / (self.count * self.samplerate * numpy.sum(self.window ** 2))
        density[1:-1] *= 2  # one-sided
        return numpy.fft.rfftfreq(self.segment, 1.0 / self.samplerate), density


def power_spectrum(samples, samplerate, segment=4096):
    """Welch's averaged periodogram over half-overlapping segments: (frequencies in Hz, density
    in unit²/Hz)."""
    segment = int(min(segment, len(samples)))
    if segment < 2:
        return numpy.zeros(0), numpy.zeros(0)
    average = SpectrumAverage(segment, samplerate)
    for start in range(0, len(samples) - segment + 1, segment // 2):
        average.add(samples[start:start + segment])
    return average.result()


def envelope(samples, columns):
    """(minima, maxima) of `columns` consecutive runs of samples, the last run taking the
    remainder: a long trace drawn as its envelope shows every excursion without plotting every
    point. zvpy's own reducer does it where this zvpy has one."""
    import zvpy

    reducer = getattr(zvpy, "envelope", None)
    if reducer is not None:
        return reducer(samples, columns)
    values = numpy.asarray(samples)
    starts = numpy.arange(columns) * (len(values) // columns)
    return numpy.minimum.reduceat(values, starts), numpy.maximum.reduceat(values, starts)


def draw(path, *, count, samplerate, quantity, unit, whole, close_look, spectrum, note=None,
         first_time=0.0, marks=()):
    """Draws the PNG. whole: ("trace", values) or ("envelope", first indices, minima, maxima);
    close_look: the first samples, or None when the whole trace is the close look; spectrum:
    (frequencies, density); indices count from the first sample, at time first_time (s);
    marks: indices where a vertical line is drawn on the whole (gaps)."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as pyplot
    from matplotlib.ticker import EngFormatter

    seconds, hertz = EngFormatter(unit="s"), EngFormatter(unit="Hz")
    label = f"{quantity} ({unit})"
    with_start = close_look is not None
    figure, panels = pyplot.subplots(3 if with_start else 2, 1, constrained_layout=True,
                                     figsize=(9, 10 if with_start else 7))
    whole_axes, spectrum_axes = panels[0], panels[-1]
    rate_text = EngFormatter(unit="S/s")(samplerate)
    figure.suptitle(f"{count} samples at {rate_text} ({seconds(count / samplerate)})"
                    + (f"\n{note}" if note else ""))

    if whole[0] == "envelope":
        _, index, low, high = whole
        whole_axes.fill_between(first_time + numpy.asarray(index) / samplerate, low, high,
                                linewidth=0.6, step="post")
        whole_axes.set_title("whole capture (minimum to maximum of each short stretch)")
    else:
        values = whole[1]
        whole_axes.plot(first_time + numpy.arange(len(values)) / samplerate, values,
                        linewidth=0.6)
        whole_axes.set_title("whole capture")
    for mark in marks:
        whole_axes.axvline(first_time + mark / samplerate, color="tab:red", linewidth=0.6,
                           alpha=0.7)
    if with_start:
        panels[1].plot(first_time + numpy.arange(len(close_look)) / samplerate, close_look,
                       linewidth=0.8)
        panels[1].set_title(f"start of the capture: first {len(close_look)} samples")
    for axes in panels[:-1]:
        axes.set_xlabel("time")
        axes.xaxis.set_major_formatter(seconds)
        axes.set_ylabel(label)
        axes.grid(True, alpha=0.3)

    frequencies, density = spectrum
    if len(frequencies) > 1:
        spectrum_axes.loglog(frequencies[1:], density[1:], linewidth=0.6)
    spectrum_axes.set_title("power spectral density")
    spectrum_axes.set_xlabel("frequency")
    spectrum_axes.xaxis.set_major_formatter(hertz)
    spectrum_axes.set_ylabel(f"{unit}²/Hz")
    spectrum_axes.grid(True, which="both", alpha=0.3)
    figure.savefig(path, dpi=100)
    pyplot.close(figure)


def plot(path, samples, samplerate, quantity, unit, note=None, detail=400, max_points=20_000,
         bins=2000, first_time=0.0, marks=()):
    """Draws the figure of samples held in memory; `note` is added to the title (for example
    how bursts were joined)."""
    if len(samples) > max_points:
        low, high = envelope(samples, bins)  # more bins than the plot has pixels
        whole = ("envelope", numpy.arange(bins) * (len(samples) // bins), low, high)
    else:
        whole = ("trace", samples)
    close_look = samples[:detail] if len(samples) > detail else None
    draw(path, count=len(samples), samplerate=samplerate, quantity=quantity, unit=unit,
         whole=whole, close_look=close_look, spectrum=power_spectrum(samples, samplerate),
         note=note, first_time=first_time, marks=marks)
