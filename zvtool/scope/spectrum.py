"""The averaged power spectral density of a stream for a logarithmic frequency axis: Welch's
periodogram (Hann window, mean removed) of the newest segments of each block, averaged
exponentially over about `memory` segments, then reduced to a few hundred points spaced evenly
in log frequency (the mean density of the FFT bins in each)."""
import numpy

SEGMENT = 8192
SEGMENTS_PER_BLOCK = 4  # at most: the rest of a block is not analysed (the cost stays bounded)
MEMORY = 32  # segments the average reaches back over
POINTS = 400


class Spectrum:
    def __init__(self, samplerate, segment=SEGMENT, points=POINTS):
        self.samplerate = float(samplerate)
        self.segment = int(segment)
        self.window = numpy.hanning(self.segment).astype(numpy.float32)
        self._scale = 2.0 / (self.samplerate * float(numpy.sum(self.window.astype(float) ** 2)))
        self._pending = numpy.empty(0, dtype=numpy.float32)  # samples short of a segment
        self.density = None  # averaged one-sided density, per FFT bin
        self.averaged = 0  # segments in the average
        frequencies = numpy.fft.rfftfreq(self.segment, 1.0 / self.samplerate)[1:]  # no DC
        edges = numpy.geomspace(frequencies[0], frequencies[-1] * (1 + 1e-9), points + 1)
        starts = numpy.unique(numpy.searchsorted(frequencies, edges[:-1]))
        self._starts = starts[starts < len(frequencies)]
        self.frequencies = numpy.sqrt(  # geometric centre of each point's bins
            frequencies[self._starts] * frequencies[numpy.r_[self._starts[1:],
                                                             len(frequencies)] - 1])

    def feed(self, samples):
        """Analyses the newest whole segments of a block (joined to the samples left over from
        the previous blocks when they are short)."""
        if len(samples) < self.segment:
            samples = numpy.concatenate((self._pending, samples))[-2 * self.segment:]
        whole = min(len(samples) // self.segment, SEGMENTS_PER_BLOCK)
        if whole == 0:
            self._pending = samples
            return
        used = samples[len(samples) - whole * self.segment:]
        self._pending = numpy.empty(0, dtype=numpy.float32)
        segments = used.reshape(whole, self.segment).astype(numpy.float32)
        segments -= segments.mean(axis=1, keepdims=True)
        power = numpy.abs(numpy.fft.rfft(segments * self.window, axis=1)) ** 2
        weight = 1.0 / min(self.averaged + 1, MEMORY)
        for row in power:
            self.density = row if self.density is None else (
                (1 - weight) * self.density + weight * row)
            self.averaged += 1
            weight = 1.0 / min(self.averaged + 1, MEMORY)

    def points(self):
        """(frequencies in Hz, density in µW²/Hz) for the logarithmic axis, or None before the
        first segment."""
        if self.density is None:
            return None
        bins = self.density[1:] * self._scale  # one-sided; DC left out
        bins[-1] /= 2  # the Nyquist bin has no mirror image
        counts = numpy.diff(numpy.r_[self._starts, len(bins)])
        return self.frequencies, numpy.add.reduceat(bins, self._starts) / counts
