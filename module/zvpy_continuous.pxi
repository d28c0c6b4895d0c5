# Continuous streams: the reading that Stream (processed samples) and RawStream (raw codes) share,
# the Block a read returns; their warning category DataLossWarning and exception TimeoutError
# are defined with the module's other exceptions (zvpy.pyx).
#
# A started stream keeps the detector streaming on a library thread; read() waits for the next
# samples with the interpreter lock released and continues exactly where the previous read ended.
# A read that times out or is interrupted keeps what it gathered as the start of the next read.

import warnings

from operator import index as operator_index

from cpython.exc cimport PyErr_Fetch, PyErr_Restore, PyErr_Occurred, PyErr_CheckSignals
from cpython.ref cimport PyObject
from libc.math cimport ceil
from libc.stdint cimport INT32_MAX


# Words for the kinds of loss in Block.gaps.
_LOSS_KINDS = {ZV_LOSS_DEVICE: "device", ZV_LOSS_OVERFLOW: "overflow"}
_LOSS_CAUSES = {
    "device": "the detector reported lost samples",
    "overflow": "the program read too slowly and the stream's buffer was full",
}


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


cdef str _text_of(const char *name):
    return name.decode("ascii")


cdef uint64_t _sample_count(name, value) except? 0:
    # A positive count of samples; anything else is refused before the stream is touched.
    count = operator_index(value)
    if count <= 0:
        raise ValueError("%s must be a positive number of samples, not %d" % (name, count))
    return count


cdef int32_t _timeout_ms(timeout) except? -2:
    # None: wait without limit (-1); else seconds, at least 0, as whole milliseconds.
    if timeout is None:
        return -1
    seconds = float(timeout)
    if not seconds >= 0:
        raise ValueError("timeout must be None or a number of seconds >= 0, not %r" % (timeout,))
    return <int32_t>min(ceil(seconds * 1000.0), <double>INT32_MAX)


cdef int _interrupt_check(void *user) with gil:
    # Installed as libzv's interrupt check: runs the interpreter's signal handlers while a
    # blocking call waits. When one raises (Ctrl-C: KeyboardInterrupt) the exception stays pending
    # and the call is abandoned; the wrapper then lets it propagate (_raise_failure). Handlers run
    # on the main thread only; elsewhere this returns 0 at once.
    return 1 if PyErr_CheckSignals() != 0 else 0


zv_set_interrupt_check(_interrupt_check, NULL)


cdef class _ContinuousStream:
    # What Stream and RawStream share: start, read, blocks, stop and the bookkeeping of reads.
    # Subclasses provide the _c_* operations on their libzv stream.

    # Samples a read gathered before it timed out or was interrupted: the start of the next read.
    cdef Block _carry
    # Reads waiting in libzv with the interpreter lock released; close() during one defers freeing
    # the libzv stream to the last of them.
    cdef int _reads
    cdef bint _release_pending
    cdef object _sample_dtype

    def __cinit__(self):
        self._carry = None
        self._reads = 0
        self._release_pending = False

    cdef int _check_usable(self) except -1:
        raise NotImplementedError

    cdef int _c_start(self, double buffer_seconds) except? -1:
        raise NotImplementedError

    cdef int _c_read(self, void *samples, uint8_t *flags, uint64_t count, int32_t timeout_ms,
                     zv_block *block) nogil:
        return -1

    cdef int _c_stop(self):
        return 0

    cdef bint _c_running(self):
        return False

    cdef uint64_t _c_lost_total(self):
        return 0

    cdef double _c_samplerate(self) except? -1:
        return 1.0

    cdef void _c_release(self):
        pass

    def start(self, *, buffer_seconds=1.0):
        """Starts continuous acquisition with the settings in force.

        Args:
            buffer_seconds (float): seconds of samples the stream holds for a reader that falls
                behind, before it drops (and counts) samples.

        Raises:
            ValueError: if buffer_seconds is not a positive number.
            zvpy.Error: if this or another stream already runs on the detector.
        """
        seconds = float(buffer_seconds)
        if not (seconds > 0 and seconds < float("inf")):
            raise ValueError("buffer_seconds must be a positive number of seconds, not %r"
                             % (buffer_seconds,))
        self._check_usable()
        self._carry = None
        _check_status(self._c_start(seconds))

    def stop(self):
        """Stops continuous acquisition and leaves the detector idle. Unread samples are dropped;
        a read blocked on another thread raises Error. Stopping a stopped stream does nothing."""
        self._carry = None
        self._c_stop()

    @property
    def running(self):
        """True from start until stop (False once the detector was closed or unplugged)."""
        return bool(self._c_running())

    @property
    def lost_total(self):
        """Samples lost since start (the sum of every Block's `lost`)."""
        return self._c_lost_total()

    def read(self, nsamples, *, timeout=None):
        """Returns a zvpy.Block with the next nsamples samples, continuing exactly where the
        previous read ended.

        Args:
            nsamples (int): samples to read (> 0).
            timeout (float): seconds to wait at most; None waits as long as it takes. The wait
                answers Ctrl-C.

        Raises:
            zvpy.TimeoutError: when the samples do not arrive in time. Nothing is lost: the samples
                gathered are the start of the next read.
            zvpy.Error: if the stream is not running or was stopped, or the acquisition failed
                (the error's `block` then holds the samples read before the failure).
        """
        cdef uint64_t count = _sample_count("nsamples", nsamples)
        cdef int32_t timeout_ms = _timeout_ms(timeout)
        self._check_usable()
        return self._read(count, timeout_ms, timeout)

    def blocks(self, nsamples, *, count=None, timeout=None):
        """An iterator of consecutive Blocks of nsamples samples each: `count` of them, or without
        end. Each read is as read(nsamples, timeout=timeout)."""
        _sample_count("nsamples", nsamples)
        _timeout_ms(timeout)
        if count is not None and operator_index(count) < 0:
            raise ValueError("count must be None or a number of blocks >= 0, not %r" % (count,))
        return self._blocks(nsamples, count, timeout)

    def _blocks(self, nsamples, count, timeout):
        produced = 0
        while count is None or produced < count:
            yield self.read(nsamples, timeout=timeout)
            produced += 1

    cdef object _read(self, uint64_t count, int32_t timeout_ms, timeout):
        cdef Block carried = self._carry
        cdef Block gathered = None
        cdef uint64_t wanted = count
        if carried is not None:
            self._carry = None
            if <uint64_t>len(carried) >= count:
                if <uint64_t>len(carried) > count:
                    carried, self._carry = _split_block(carried, count, self._c_samplerate())
                return self._deliver(carried)
            wanted -= len(carried)

        samples = numpy.empty(wanted, dtype=self._sample_dtype)
        flags = numpy.empty(wanted, dtype=numpy.uint8)
        cdef uint8_t *flag_data = <uint8_t *><size_t>flags.__array_interface__["data"][0]
        cdef void *destination = <void *><size_t>samples.__array_interface__["data"][0]
        cdef zv_block block
        cdef int status
        cdef PyObject *pending_type = NULL
        cdef PyObject *pending_value = NULL
        cdef PyObject *pending_traceback = NULL
        self._reads += 1
        with nogil:
            status = self._c_read(destination, flag_data, wanted, timeout_ms, &block)
        self._reads -= 1
        # A KeyboardInterrupt left pending by the interrupt check is set aside while the samples
        # are kept, and raised afterwards.
        if PyErr_Occurred() != NULL:
            PyErr_Fetch(&pending_type, &pending_value, &pending_traceback)
        if block.count > 0:
            gathered = Block(samples[:block.count], flags[:block.count], block.index, block.time,
                             [(block.gaps[i].index, block.gaps[i].lost,
                               _LOSS_KINDS.get(block.gaps[i].kind, "device"))
                              for i in range(block.ngaps)],
                             [(block.changes[i].index, _text_of(block.changes[i].name),
                               block.changes[i].value)
                              for i in range(block.nchanges)])
        if carried is not None:
            gathered = carried if gathered is None else _join_blocks(carried, gathered)
        if self._release_pending and self._reads == 0:
            self._c_release()

        if pending_type != NULL:
            self._carry = gathered
            PyErr_Restore(pending_type, pending_value, pending_traceback)
            _raise_failure()
        if status == 0:
            return self._deliver(gathered)
        if status == ZV_ERROR_TIMEOUT:
            self._carry = gathered
            raise TimeoutError("%d samples did not arrive within %s s; the %d that did are kept "
                               "for the next read" % (count, timeout,
                                                      0 if gathered is None else len(gathered)))
        if status == ZV_ERROR_INTERRUPTED:
            self._carry = gathered
            raise KeyboardInterrupt()
        error = Error()
        error.block = gathered
        raise error

    cdef object _deliver(self, Block block):
        # Every loss is reported once, when the block it concerns is handed out.
        for index, lost, kind in block.gaps:
            warnings.warn(DataLossWarning(
                "%d samples lost at stream position %d: %s" % (lost, index, _LOSS_CAUSES[kind])),
                stacklevel=1)
        return block


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
