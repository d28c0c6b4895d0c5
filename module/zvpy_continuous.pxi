# Continuous streams: the reading that Stream (processed samples) and RawStream (raw codes) share,
# the Block a read returns; their warning category DataLossWarning and exception TimeoutError
# are defined with the module's other exceptions (zvpy.pyx).
#
# A started stream keeps the detector streaming on a library thread; read() waits for the next
# samples with the interpreter lock released and continues exactly where the previous read ended.
# A read that times out or is interrupted keeps what it gathered as the start of the next read.

import os
import warnings as _warnings

from operator import index as _operator_index

from cpython.exc cimport PyErr_Fetch, PyErr_Restore, PyErr_Occurred
from cpython.ref cimport PyObject
from libc.math cimport ceil
from libc.stdint cimport INT32_MAX
cimport zvrecording as zr


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
    # The Recorder of the stream's last recording (None before the first).
    cdef object _recorder

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

    cdef zr.zv_recorder *_c_record(self, const char *path,
                                   const zr.zv_recorder_options *options) nogil:
        return NULL

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
        if self._recorder is not None:
            self._recorder._finish()

    def start_recording(self, path, *, seconds=None, nsamples=None, overwrite=False):
        """Starts recording the stream to an HDF5 file (the layout is in the README) on a thread
        of the library, and returns at once with its zvpy.Recorder (samples_written, lost_total,
        running, wait, stop; also a context manager). Starts the stream when it is not running,
        and then stops it when the recording ends; a running stream stays running.

        A RawStream makes a raw recording (its words, port bits as its mask leaves them); a
        Stream a processed float32 one (a float64 stream's samples are rounded to float32, which
        keeps every digit of the detector's 14-bit codes); it must calibrate to power (mode
        "auto" or "custom"). While it records, read and blocks raise Error (the recorder reads
        the samples); settings may change and go to the file's changes table. Samples a read
        that timed out kept for the next read are dropped.

        Args:
            path: the file to create.
            seconds (float): stop after this much stream time from the first sample recorded
                (lost samples counted); None: no limit.
            nsamples (int): stop after exactly this many stored samples; None: no limit.
            overwrite (bool): replace an existing file (never one being recorded).

        Raises:
            FileExistsError: the file exists and overwrite is False.
            ValueError: seconds or nsamples is not positive.
            zvpy.Error: the folder does not exist or cannot be written, the stream is being
                recorded or read on another thread, a Stream does not calibrate to power, or the
                stream cannot start. Nothing is left behind.
        """
        cdef zr.zv_recorder_options options = _recording_options(seconds, nsamples, overwrite)
        path = os.fspath(path)
        cdef bytes encoded = _c_path(path)
        cdef const char *name = encoded
        self._check_usable()
        cdef zr.zv_recorder *rec
        with nogil:
            rec = self._c_record(name, &options)
        if rec == NULL:
            _raise_failure(_recording_start_failure())
        self._carry = None
        self._recorder = _watch_recording(rec, path, self, self.device)
        return self._recorder

    def record(self, path, *, seconds=None, nsamples=None, overwrite=False):
        """Records the stream to an HDF5 file until `seconds` of stream time or exactly
        `nsamples` samples are recorded (the first reached, when both are given), and returns
        the ended zvpy.Recorder (samples_written, lost_total). As start_recording, waiting for
        the end. Ctrl-C closes the file with the samples recorded so far, stops a stream the
        recording started, and raises KeyboardInterrupt.

        Raises:
            as start_recording; ValueError when neither seconds nor nsamples is given;
            zvpy.Error when the recording fails (disk full, write error, the detector fails):
                the message names the file and the cause, and the file holds every sample before.
        """
        if seconds is None and nsamples is None:
            raise ValueError("record needs seconds or nsamples; start_recording records until "
                             "its stop()")
        recorder = self.start_recording(path, seconds=seconds, nsamples=nsamples,
                                        overwrite=overwrite)
        try:
            recorder.wait()
        finally:
            recorder._finish()
        recorder.stop()
        return recorder

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
        # The read's failure is taken before the stream may be released below, whose calls store
        # errors of their own.
        failure = None
        if pending_type == NULL and status not in (0, ZV_ERROR_TIMEOUT, ZV_ERROR_INTERRUPTED):
            failure = Error()
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
        failure.block = gathered
        raise failure

    cdef object _deliver(self, block):
        # Every loss is reported once, when the block it concerns is handed out.
        for index, lost, kind in block.gaps:
            _warnings.warn(DataLossWarning(
                "%d samples lost at stream position %d: %s" % (lost, index, _LOSS_CAUSES[kind])),
                stacklevel=1)
        return block
