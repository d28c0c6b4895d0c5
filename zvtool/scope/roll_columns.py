"""A rolling trace for spans longer than the samples kept: every `per_column` samples become one
column of (minimum, maximum) as they arrive, the newest `columns` of them kept in a ring."""
import numpy

import zvpy


class RollColumns:
    def __init__(self, columns, per_column):
        self.columns = columns
        self.per_column = max(1, int(per_column))
        self._mins = numpy.full(columns, numpy.nan, dtype=numpy.float32)
        self._maxs = numpy.full(columns, numpy.nan, dtype=numpy.float32)
        self._next = 0  # ring position of the next column
        self._partial = None  # (min, max) of the samples of the column being filled
        self._partial_count = 0

    def feed(self, samples):
        samples = numpy.asarray(samples, dtype=numpy.float32)
        i = 0
        if self._partial_count:
            take = min(self.per_column - self._partial_count, len(samples))
            self._join(samples[:take])
            i = take
        whole = (len(samples) - i) // self.per_column
        if whole > self.columns:  # only the newest columns stay in the ring
            i += (whole - self.columns) * self.per_column
            whole = self.columns
        if whole:
            mins, maxs = zvpy.envelope(samples[i:i + whole * self.per_column], whole)
            self._push(mins, maxs)
            i += whole * self.per_column
        if i < len(samples):
            self._join(samples[i:])

    def trace(self):
        """(mins, maxs) oldest first; columns not filled yet are NaN."""
        order = numpy.r_[self._next:self.columns, 0:self._next]
        return self._mins[order], self._maxs[order]

    def _join(self, samples):
        if not len(samples):
            return
        low, high = (a[0] for a in zvpy.envelope(samples, 1))
        if self._partial is not None:
            low, high = numpy.minimum(low, self._partial[0]), numpy.maximum(high, self._partial[1])
        self._partial, self._partial_count = (low, high), self._partial_count + len(samples)
        if self._partial_count == self.per_column:
            self._push(numpy.array([low]), numpy.array([high]))
            self._partial, self._partial_count = None, 0

    def _push(self, mins, maxs):
        """Adds up to `columns` finished columns behind the newest."""
        positions = (self._next + numpy.arange(len(mins))) % self.columns
        self._mins[positions], self._maxs[positions] = mins, maxs
        self._next = (self._next + len(mins)) % self.columns
