# Recorder: a continuous stream being written to a recording by libzv's recorder, on a library
# thread (Stream.start_recording, RawStream.start_recording; Stream.record and RawStream.record
# wait for one). The Python object only watches and ends it: the samples never pass through the
# interpreter.

cimport cython
cimport zvrecording as zr

import os


cdef object _recording_start_failure():
    # The error zv_recorder_start_* stored: an existing file is the built-in FileExistsError.
    if zv_get_error() == zr.ZV_ERROR_FILE_EXISTS:
        return FileExistsError((<bytes>zv_get_error_string()).decode("utf-8", "replace"))
    return Error()


cdef zr.zv_recorder_options _recording_options(seconds, nsamples, overwrite) except *:
    # The limits of a recording, checked: None or positive.
    cdef zr.zv_recorder_options options
    options.nsamples = 0 if nsamples is None else _sample_count("nsamples", nsamples)
    options.seconds = 0.0
    if seconds is not None:
        options.seconds = float(seconds)
        if not (options.seconds > 0 and options.seconds < float("inf")):
            raise ValueError("seconds must be None or a positive number of seconds, not %r"
                             % (seconds,))
    options.buffer_seconds = 0.0
    options.overwrite = bool(overwrite)
    return options


@cython.no_gc_clear  # its stream must outlive the library's recorder, whatever the collector does
cdef class Recorder:
    """A recording in progress, from Stream.start_recording or RawStream.start_recording; also a
    context manager that stops it.

    The samples go from the stream to the file on a thread of the library; while it records, the
    stream's own read and blocks raise Error (its samples go to the recording). A disk too slow
    for the stream shows as samples lost ("overflow" gaps in the file), never as a stalled
    detector.

    Attributes:
        path (str): the file.
        samples_written (int): samples stored so far.
        lost_total (int): samples the stream lost while recording (the file's gap table).
        running (bool): True until the recording has ended and its file is closed.
    """
    # Freed only with this object: a wait() on one thread and a stop() on another may use it at
    # once (the library's recorder is safe for that), and after it ended it still answers for
    # its counts and its failure.
    cdef zr.zv_recorder *rec
    cdef readonly str path
    cdef object _stream
    cdef Device _device
    cdef object _failure

    def __cinit__(self):
        self.rec = NULL

    def __init__(self):
        raise TypeError("a Recorder comes from Stream.start_recording or "
                        "RawStream.start_recording")

    def __dealloc__(self):
        cdef zr.zv_recorder *rec = self.rec
        self.rec = NULL
        if rec != NULL:
            with nogil:
                zr.zv_recorder_close(rec)

    cpdef _finish(self):
        """Ends the recording if it runs and waits until its file is closed; keeps the failure
        for stop(), raising nothing. Lets go of the stream and the device."""
        cdef zr.zv_recorder *rec = self.rec
        cdef int status
        with nogil:
            status = zr.zv_recorder_stop(rec)
        if status != 0 and self._failure is None:
            self._failure = Error()
        if self._device is not None:
            self._device._recorders.discard(self)
        self._device = None
        self._stream = None

    @property
    def running(self):
        return zr.zv_recorder_running(self.rec)

    @property
    def samples_written(self):
        return zr.zv_recorder_samples(self.rec)

    @property
    def lost_total(self):
        return zr.zv_recorder_lost(self.rec)

    def wait(self, timeout=None):
        """Waits for the recording to end (its nsamples or seconds reached, or its stream
        stopped): True once it has, False when `timeout` seconds passed first. Answers Ctrl-C
        (KeyboardInterrupt; the recording goes on until stop()).

        Raises:
            zvpy.Error: the recording failed (disk full, write error, the detector failed); the
                message names the file and the cause, and the file holds every sample before.
        """
        cdef int32_t timeout_ms = _timeout_ms(timeout)
        cdef zr.zv_recorder *rec = self.rec
        cdef int status
        with nogil:
            status = zr.zv_recorder_wait(rec, timeout_ms)
        _check(PyErr_Occurred() != NULL)  # Ctrl-C while waiting
        if status == 0:
            return True
        if status == ZV_ERROR_TIMEOUT:
            return False
        if status == ZV_ERROR_INTERRUPTED:
            raise KeyboardInterrupt()
        self._finish()
        raise self._failure

    def stop(self):
        """Ends the recording and closes its file (the samples recorded so far stay in it). A
        stream the recording started is stopped; one that was running stays running. Harmless
        when it has ended already.

        Raises:
            zvpy.Error: the recording failed (each call raises the same error).
        """
        self._finish()
        if self._failure is not None:
            raise self._failure

    def __enter__(self):
        return self

    def __exit__(self, exc_type, exc_value, traceback):
        if exc_type is None:
            self.stop()
        else:
            self._finish()  # the body's exception is the one to see

    def __repr__(self):
        state = "recording" if self.running else "ended"
        return "<zvpy.Recorder %r: %s, %d samples written, %d lost>" % (
            self.path, state, self.samples_written, self.lost_total)


cdef Recorder _watch_recording(zr.zv_recorder *rec, str path, stream, Device device):
    # The Recorder of a recording libzv has started: it keeps the stream alive while it records,
    # and the device ends it before it closes.
    cdef Recorder recorder = Recorder.__new__(Recorder)
    recorder.rec = rec
    recorder.path = path
    recorder._stream = stream
    recorder._device = device
    device._recorders.add(recorder)
    return recorder
