"""The capture plot: the trace against time and its power spectral density."""
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


def plot(path, samples, samplerate, quantity, unit, max_points=200_000):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as pyplot

    shown = samples[:max_points]
    times = numpy.arange(len(shown)) / samplerate
    figure, (trace, spectrum) = pyplot.subplots(2, 1, figsize=(9, 7), constrained_layout=True)
    trace.plot(times, shown, linewidth=0.6)
    trace.set_xlabel("time (s)")
    trace.set_ylabel(f"{quantity} ({unit})")
    shown_note = "" if len(shown) == len(samples) else f" (first {len(shown)} of {len(samples)})"
    trace.set_title(f"{len(samples)} samples at {samplerate:g} S/s{shown_note}")
    trace.grid(True, alpha=0.3)
    frequencies, density = power_spectrum(samples, samplerate)
    if len(frequencies) > 1:
        spectrum.loglog(frequencies[1:], density[1:], linewidth=0.6)
    spectrum.set_xlabel("frequency (Hz)")
    spectrum.set_ylabel(f"power spectral density ({unit}²/Hz)")
    spectrum.grid(True, which="both", alpha=0.3)
    figure.savefig(path, dpi=100)
    pyplot.close(figure)
