# Continuous streams: the reading that Stream (processed samples) and RawStream (raw codes) share,
# the Block a read returns; their warning category DataLossWarning and exception TimeoutError
# are defined with the module's other exceptions (zvpy.pyx).
#
# A started stream keeps the detector streaming on a library thread; read() waits for the next
# samples with the interpreter lock released and continues exactly where the previous read ended.
# A read that times out or is interrupted keeps what it gathered as the start of the next read.

import warnings as _warnings

from operator import index as _operator_index

from cpython.exc cimport PyErr_Fetch, PyErr_Restore, PyErr_Occurred
from cpython.ref cimport PyObject
from libc.math cimport ceil
from libc.stdint cimport INT32_MAX


# Words for the kinds of loss in Block.gaps.
_LOSS_KINDS = {ZV_LOSS_DEVICE: "device", ZV_LOSS_OVERFLOW: "overflow"}
_LOSS_CAUSES = {
    "device": "the detector reported lost samples",
    "overflow": "the program read too slowly and the stream's buffer was full",
}


cdef str _text_of(const char *name):
    return name.decode("ascii")


cdef uint64_t _sample_count(name, value) except? 0:
    # A positive count of samples; anything else is refused before the stream is touched.
    count = _operator_index(value)
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


cdef extern from "Python.h":
    # Declared without an exception value: the exception a handler raises must stay pending for
    # the wrapper of the interrupted call, not be handled here.
    int _run_signal_handlers "PyErr_CheckSignals" ()


cdef int _interrupt_check(void *user) with gil:
    # Installed as libzv's interrupt check: runs the interpreter's signal handlers while a
    # blocking call waits. When one raises (Ctrl-C: KeyboardInterrupt) the exception stays pending
    # and the call is abandoned; the wrapper then lets it propagate (_raise_failure). Handlers run
    # on the main thread only; elsewhere this returns 0 at once.
    return 1 if _run_signal_handlers() != 0 else 0


zv_set_interrupt_check(_interrupt_check, NULL)


cdef class _ContinuousStream:
    # What Stream and RawStream share: start, read, blocks, stop and the bookkeeping of reads.
    # Subclasses provide the _c_* operations on their libzv stream.

    # Samples a read gathered before it timed out or was interrupted: the start of the next read.
    cdef object _carry
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
        if self._reads > 0:
            # The stream's acquisition is still in use by a read returning on another thread.
            raise Error("a read of this stream is still returning on another thread")
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
        if count is not None and _operator_index(count) < 0:
            raise ValueError("count must be None or a number of blocks >= 0, not %r" % (count,))
        return self._blocks(nsamples, count, timeout)

    def _blocks(self, nsamples, count, timeout):
        produced = 0
        while count is None or produced < count:
            yield self.read(nsamples, timeout=timeout)
            produced += 1

    cdef object _read(self, uint64_t count, int32_t timeout_ms, timeout):
        carried = self._carry
        gathered = None
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

    cdef object _deliver(self, block):
        # Every loss is reported once, when the block it concerns is handed out.
        for index, lost, kind in block.gaps:
            _warnings.warn(DataLossWarning(
                "%d samples lost at stream position %d: %s" % (lost, index, _LOSS_CAUSES[kind])),
                stacklevel=1)
        return block
