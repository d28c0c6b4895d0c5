"""The newest samples of a stream and their port flags, kept so that any stretch of them is one
contiguous array: a triggered trace needs the samples before its trigger, and a saved trace the
samples behind the picture."""
import numpy


class SampleHistory:
    """Holds up to `capacity` of the newest samples, indexed by stream position. The buffers are
    twice the capacity: blocks are appended behind the newest sample and, when the end is
    reached, the samples still kept move to the front, so each sample is copied about twice in
    all and no stretch wraps around."""

    def __init__(self, capacity, dtype=numpy.float32):
        self.capacity = int(capacity)
        self._samples = numpy.empty(2 * self.capacity, dtype=dtype)
        self._flags = numpy.zeros(2 * self.capacity, dtype=numpy.uint8)
        self._end = 0  # buffer position after the newest sample
        self.length = 0  # samples kept
        self.end_index = None  # stream position after the newest sample

    @property
    def start_index(self):
        return self.end_index - self.length

    def append(self, samples, flags, index):
        """Adds a block that starts at stream position `index`. A block that does not follow the
        newest sample (samples were lost) starts the history afresh: a stretch is never joined
        across a gap."""
        m = len(samples)
        if self.end_index != index:
            self._end = self.length = 0
        self.end_index = index + m
        if m >= self.capacity:
            samples, flags = samples[m - self.capacity:], flags[m - self.capacity:]
            m, self._end, self.length = self.capacity, 0, 0
        elif self._end + m > len(self._samples):
            keep = min(self.length, self.capacity - m)
            for buffer in (self._samples, self._flags):
                buffer[:keep] = buffer[self._end - keep:self._end]
            self._end = self.length = keep
        self._samples[self._end:self._end + m] = samples
        self._flags[self._end:self._end + m] = flags
        self._end += m
        self.length = min(self.length + m, self.capacity)

    def window(self, start_index, count):
        """(samples, flags) of stream positions [start_index, start_index + count) as views, or
        None when they are not all kept."""
        if self.end_index is None or start_index < self.start_index or (
                start_index + count > self.end_index):
            return None
        begin = self._end - (self.end_index - start_index)
        return self._samples[begin:begin + count], self._flags[begin:begin + count]
