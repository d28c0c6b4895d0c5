# The Block a continuous stream's read returns, and RawStream: a continuous stream of raw sample
# codes. Defined after the classes the module lists first (Device, Stream, _DDevice).


cdef class Block:
    """The samples one read of a continuous stream returned.

    Attributes:
        samples (numpy.ndarray): the samples (the stream's dtype).
        index (int): position of samples[0] in the stream's output since start, lost samples
            counted, so index / samplerate is its time since start in seconds.
        time (float): host UNIX time of samples[0], in seconds.
        lost (int): output samples lost just before or inside the block (0: none).
        flags (numpy.ndarray): uint8 port levels of each sample (bit 0 port S, bit 1 port T).
        gaps (list): (index, lost, kind) of each loss, kind "device" or "overflow"; `lost`
            samples are missing from stream position `index` on.
        changes (list): (index, name, value) of each setting that changed while the block was
            collected, taking effect at stream position `index`.

    numpy.asarray(block) and len(block) give the samples and their count.
    """
    cdef readonly object samples
    cdef readonly object flags
    cdef readonly object index
    cdef readonly double time
    cdef readonly object lost
    cdef readonly list gaps
    cdef readonly list changes

    def __init__(self, samples, flags, index, time, gaps=(), changes=()):
        self.samples = samples
        self.flags = flags
        self.index = int(index)
        self.time = time
        self.gaps = list(gaps)
        self.changes = list(changes)
        self.lost = sum(gap[1] for gap in self.gaps)

    def __len__(self):
        return len(self.samples)

    def __array__(self, dtype=None):
        return numpy.asarray(self.samples, dtype=dtype)

    def __repr__(self):
        return "<zvpy.Block of %d %s samples at index %d, %d lost>" % (
            len(self.samples), self.samples.dtype, self.index, self.lost)



cdef object _block_position(Block block, Py_ssize_t k):
    # The stream position of sample k of the block: its index, k and the gaps inside before it.
    position = block.index + k
    for gap_index, lost, kind in block.gaps:
        if gap_index >= block.index and gap_index < position + 1:
            position += lost
    return position


cdef tuple _split_block(Block block, Py_ssize_t k, double samplerate):
    # The block's first k samples and the rest, each with the gaps and changes that belong to it
    # (a gap right before sample k is "just before" the rest); samplerate gives the rest's time.
    at = _block_position(block, k)
    first = Block(block.samples[:k], block.flags[:k], block.index, block.time,
                  [g for g in block.gaps if g[0] + g[1] < at],
                  [c for c in block.changes if c[0] < at])
    rest = Block(block.samples[k:], block.flags[k:], at,
                 block.time + float(at - block.index) / samplerate,
                 [g for g in block.gaps if g[0] + g[1] >= at],
                 [c for c in block.changes if c[0] >= at])
    return first, rest


cdef Block _join_blocks(Block first, Block second):
    # Two consecutive blocks as one.
    return Block(numpy.concatenate((first.samples, second.samples)),
                 numpy.concatenate((first.flags, second.flags)),
                 first.index, first.time, first.gaps + second.gaps,
                 first.changes + second.changes)


cdef class RawStream(_ContinuousStream):
    """RawStream(device, mask=True)

    A continuous stream of raw 16-bit sample codes from a Device (see Device.open_raw_stream):
    start, read, blocks, stop, running, lost_total, close, and a context manager, as Stream has.
    With mask (the default) each sample is its 14-bit ADC code; with mask=False the levels of ports
    S and T stay in bits 14 and 15. Block.flags carries the port levels either way.
    """
    cdef zv_raw_stream *stream
    cdef readonly object device
    cdef readonly bint mask
    # The device's release count when the stream was made (see Device.releases).
    cdef unsigned long long device_releases

    def __cinit__(self):
        self.stream = NULL
        self.device = None
        self._sample_dtype = numpy.dtype(numpy.uint16)

    def __init__(self, Device device, mask=True):
        if device is None or device.dev == NULL:
            raise RuntimeError("Device is not open")
        device._check_idle()
        cdef zv_raw_stream *stream = zv_raw_stream_open(device.dev, bool(mask))
        _check(stream == NULL)
        # A repeated __init__ replaces the stream it made before.
        self.close()
        self._release_pending = False
        self.stream = stream
        self.device = device
        self.mask = bool(mask)
        self.device_releases = device.releases

    def __dealloc__(self):
        self._c_release()

    cdef void _c_release(self):
        if self.stream != NULL:
            zv_raw_stream_close(self.stream)
            self.stream = NULL

    cdef int _check_usable(self) except -1:
        if self.stream == NULL or self._release_pending:
            raise Error("stream is closed")
        cdef Device device = self.device
        if device is None or device.releases != self.device_releases:
            _record_invalid_device()
            _raise_failure()
        device._check_idle()
        return 0

    cdef int _c_start(self, double buffer_seconds) except? -1:
        return zv_raw_stream_start(self.stream, buffer_seconds)

    cdef int _c_read(self, void *samples, uint8_t *flags, uint64_t count, int32_t timeout_ms,
                     zv_block *block) nogil:
        return zv_raw_stream_read(self.stream, <uint16_t *>samples, flags, count, timeout_ms, block)

    cdef int _c_stop(self):
        if self.stream != NULL:
            zv_raw_stream_stop(self.stream)
        return 0

    cdef zr.zv_recorder *_c_record(self, const char *path,
                                   const zr.zv_recorder_options *options) nogil:
        return zr.zv_recorder_start_raw(self.stream, path, options)

    cdef bint _c_running(self):
        return self.stream != NULL and not self._release_pending and zv_raw_stream_running(self.stream)

    cdef uint64_t _c_lost_total(self):
        return zv_raw_stream_lost_total(self.stream) if self.stream != NULL else 0

    cdef double _c_samplerate(self) except? -1:
        return self.samplerate

    @property
    def samplerate(self):
        """Samples per second of the stream: the detector's sample rate."""
        self._check_usable()
        return self.device.samplerate

    def close(self):
        """Stops the stream and frees it; a read blocked on another thread raises Error."""
        self.stop()
        if self._reads > 0:
            self._release_pending = True
        else:
            self._c_release()

    def __enter__(self):
        return self

    def __exit__(self, exc_type, exc_value, traceback):
        self.close()
