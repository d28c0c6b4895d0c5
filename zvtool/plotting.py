"""The capture plot: the whole trace, a close look at its start, and its power spectral
density, with SI-prefixed axes (s, Hz)."""
import numpy


def power_spectrum(samples, samplerate, segment=4096):
    """Welch's averaged periodogram: (frequencies in Hz, density in unit²/Hz)."""
    x = numpy.asarray(samples, dtype=numpy.float64)
    segment = int(min(segment, len(x)))
    if segment < 2:
        return numpy.zeros(0), numpy.zeros(0)
    window = numpy.hanning(segment)
    step = segment // 2
    starts = range(0, len(x) - segment + 1, step)
    density = numpy.zeros(segment // 2 + 1)
    for start in starts:
        chunk = x[start:start + segment]
        spectrum = numpy.fft.rfft((chunk - chunk.mean()) * window)
        density += numpy.abs(spectrum) ** 2
    density /= len(starts) * samplerate * numpy.sum(window ** 2)
    density[1:-1] *= 2  # one-sided
    return numpy.fft.rfftfreq(segment, 1.0 / samplerate), density


def envelope(samples, bins):
    """(first index, minimum, maximum) of each of `bins` consecutive runs of samples: a long
    trace drawn as its envelope shows every excursion without plotting every point."""
    values = numpy.asarray(samples, dtype=numpy.float64)
    starts = numpy.arange(bins) * (len(values) // bins)  # the last run takes the remainder
    return starts, numpy.minimum.reduceat(values, starts), numpy.maximum.reduceat(values, starts)


def plot(path, samples, samplerate, quantity, unit, note=None, detail=400, max_points=20_000,
         bins=2000):
    """Draws the PNG; `note` is added to the title (for example how bursts were joined)."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as pyplot
    from matplotlib.ticker import EngFormatter

    seconds, hertz = EngFormatter(unit="s"), EngFormatter(unit="Hz")
    label = f"{quantity} ({unit})"
    with_start = len(samples) > detail  # else the whole capture is the close look
    figure, panels = pyplot.subplots(3 if with_start else 2, 1, constrained_layout=True,
                                     figsize=(9, 10 if with_start else 7))
    whole, spectrum = panels[0], panels[-1]
    rate_text = EngFormatter(unit="S/s")(samplerate)
    figure.suptitle(f"{len(samples)} samples at {rate_text} "
                    f"({seconds(len(samples) / samplerate)})" + (f"\n{note}" if note else ""))

    if len(samples) > max_points:
        index, low, high = envelope(samples, bins)  # more bins than the plot has pixels
        whole.fill_between(index / samplerate, low, high, linewidth=0.6, step="post")
        whole.set_title("whole capture (minimum to maximum of each short stretch)")
    else:
        whole.plot(numpy.arange(len(samples)) / samplerate, samples, linewidth=0.6)
        whole.set_title("whole capture")
    if with_start:
        panels[1].plot(numpy.arange(detail) / samplerate, samples[:detail], linewidth=0.8)
        panels[1].set_title(f"start of the capture: first {detail} samples")
    for axes in panels[:-1]:
        axes.set_xlabel("time")
        axes.xaxis.set_major_formatter(seconds)
        axes.set_ylabel(label)
        axes.grid(True, alpha=0.3)

    frequencies, density = power_spectrum(samples, samplerate)
    if len(frequencies) > 1:
        spectrum.loglog(frequencies[1:], density[1:], linewidth=0.6)
    spectrum.set_title("power spectral density")
    spectrum.set_xlabel("frequency")
    spectrum.xaxis.set_major_formatter(hertz)
    spectrum.set_ylabel(f"{unit}²/Hz")
    spectrum.grid(True, which="both", alpha=0.3)
    figure.savefig(path, dpi=100)
    pyplot.close(figure)
