# Recording: a recording file read through libzv's own reader (recorder/), so Python reads exactly
# what the library's layout says, computes power with the library's calibration code, and needs no
# HDF5 module of its own. Reads release the interpreter lock.

cimport zvrecording as zr
from libc.stdint cimport int32_t

import os

# The recording's state when it was opened, by its libzv number.
_recording_states = {
    zr.ZV_RECORDING_CLOSED: "closed",
    zr.ZV_RECORDING_WRITING: "writing",
    zr.ZV_RECORDING_UNCLOSED: "unclosed",
}


cdef int _power_exponent(units) except? -1:
    # The power of ten of watts of a unit name ("uW", "mW", ...), from the library's table.
    cdef int32_t exponent = 0
    cdef bytes name = _c_text("units", str(units), "utf-8")
    _check_status(zr.zv_power_unit_exponent(name, &exponent))
    return exponent


cdef class Recording:
    """A recording file (HDF5) opened for reading; also a context manager.

    Recording(path) opens a recording read-only, also one that is still being written or whose
    writer was killed (it then holds the samples up to the writer's last flush; refresh() looks
    for more). Indices are stored samples: gaps take no room, they are listed in `gaps`.

    Raises:
        FileNotFoundError: when there is no such file.
        zvpy.Error: when the file is not a zv recording, or is damaged or truncated; the
            message names the file and the cause.
    """
    cdef zr.zv_recording *rec
    cdef readonly str path
    cdef readonly dict attrs
    cdef readonly str kind
    cdef readonly object dtype
    cdef readonly str state

    def __cinit__(self):
        self.rec = NULL

    def __init__(self, path):
        path = os.fspath(path)
        cdef bytes encoded = _c_path(path)
        if not os.path.exists(path):
            raise FileNotFoundError(2, "No such file or directory", path)
        cdef const char *name = encoded
        cdef zr.zv_recording *rec
        with nogil:
            rec = zr.zv_recording_open(name)
        _check(rec == NULL)
        self._close()
        self.rec = rec
        self.path = path
        self.attrs = self._attributes()
        raw = zr.zv_recording_kind(rec) == zr.ZV_RECORDING_RAW
        self.kind = "raw" if raw else "processed"
        self.dtype = numpy.dtype(numpy.uint16 if raw else numpy.float32)
        self.state = _recording_states.get(zr.zv_recording_state(rec), "closed")

    def __dealloc__(self):
        self._close()

    cdef void _close(self):
        if self.rec != NULL:
            zr.zv_recording_close(self.rec)
            self.rec = NULL

    cdef zr.zv_recording *_open(self) except NULL:
        if self.rec == NULL:
            raise ValueError("the recording is closed")
        return self.rec

    cdef dict _attributes(self):
        cdef zr.zv_recording_attribute a
        cdef int i
        attributes = {}
        for i in range(zr.zv_recording_attribute_count(self.rec)):
            _check_status(zr.zv_recording_get_attribute(self.rec, i, &a))
            name = (<bytes>a.name).decode("utf-8", "replace")
            if a.text != NULL:
                attributes[name] = (<bytes>a.text).decode("utf-8", "replace")
                continue
            values = numpy.array([a.values[k] for k in range(a.rows * a.columns)])
            if a.integer:
                values = values.astype(numpy.int64)
            if a.rows * a.columns == 1:
                attributes[name] = values[0].item()
            elif a.rows == 1:
                attributes[name] = values
            else:
                attributes[name] = values.reshape(a.rows, a.columns)
        return attributes

    def close(self):
        """Closes the file; the other methods then raise ValueError."""
        self._close()

    def __enter__(self):
        return self

    def __exit__(self, exc_type, exc_value, traceback):
        self._close()

    def __len__(self):
        return zr.zv_recording_length(self._open())

    @property
    def samplerate(self):
        """Sample rate of the stored samples in S/s (float)."""
        return float(self.attrs["samplerate"])

    @property
    def duration(self):
        """Stored samples divided by the sample rate, in seconds (gaps not counted)."""
        return len(self) / self.samplerate

    @property
    def gaps(self):
        """The gap table: (index, lost, kind) tuples, `lost` samples missing before stored
        sample `index`; kind "device" (the detector's data-loss marker or a damaged packet),
        "overflow" (the host fell behind) or "unknown"."""
        cdef zr.zv_recording *rec = self._open()
        cdef uint64_t n = zr.zv_recording_gap_count(rec)
        cdef vector[zr.zv_gap] rows = vector[zr.zv_gap](n)
        if n:
            _check_status(zr.zv_recording_get_gaps(rec, 0, n, rows.data()))
        return [(row.index, row.lost, (<bytes>zr.zv_loss_kind_name(row.kind)).decode())
                for row in rows]

    @property
    def changes(self):
        """The settings changed while recording: (index, name, value) tuples, the setting
        applying from stored sample `index`."""
        cdef zr.zv_recording *rec = self._open()
        cdef uint64_t n = zr.zv_recording_change_count(rec)
        cdef vector[zr.zv_setting_change] rows = vector[zr.zv_setting_change](n)
        if n:
            _check_status(zr.zv_recording_get_changes(rec, 0, n, rows.data()))
        return [(rows[i].index, (<bytes>rows[i].name).decode("utf-8", "replace"), rows[i].value)
                for i in range(n)]

    def refresh(self):
        """Takes in the samples and table rows the writer has flushed since the file was opened
        or last refreshed; returns the new length."""
        cdef zr.zv_recording *rec = self._open()
        cdef int status
        with nogil:
            status = zr.zv_recording_refresh(rec)
        _check_status(status)
        return len(self)

    cdef tuple _range(self, start, stop):
        # (start, count) of a slice by stored-sample index; stop None means the end.
        length = len(self)
        start = int(start)
        stop = length if stop is None else int(stop)
        if start < 0 or stop < start:
            raise ValueError("start and stop must satisfy 0 <= start <= stop "
                             "(got start %d, stop %d)" % (start, stop))
        return start, stop - start

    def raw(self, start=0, stop=None):
        """Stored samples [start, stop) as the file holds them: uint16 words of a raw recording
        (ADC code in bits 0-13; port S and T in bits 14 and 15 unless port_bits_masked), float32
        values of a processed one (power in the unit of attrs["units"])."""
        cdef zr.zv_recording *rec = self._open()
        first, n = self._range(start, stop)
        cdef uint64_t at = first, count = n
        cdef int status
        out = numpy.empty(count, dtype=self.dtype)
        cdef uint16_t[::1] words
        cdef float[::1] values
        cdef uint16_t *word_pointer = NULL
        cdef float *value_pointer = NULL
        if self.kind == "raw":
            if count:
                words = out
                word_pointer = &words[0]
            with nogil:
                status = zr.zv_recording_read_raw(rec, at, count, word_pointer)
        else:
            if count:
                values = out
                value_pointer = &values[0]
            with nogil:
                status = zr.zv_recording_read_float(rec, at, count, value_pointer)
        _check_status(status)
        return out

    def power(self, start=0, stop=None, units="uW"):
        """Optical power of stored samples [start, stop) as float32 in `units` (pW, nW, uW, mW,
        W): raw codes through the calibration the file records, computed as a float32 stream
        computes it; processed values converted from the file's unit."""
        cdef zr.zv_recording *rec = self._open()
        cdef int32_t exponent = _power_exponent(units)
        first, n = self._range(start, stop)
        cdef uint64_t at = first, count = n
        cdef int status
        out = numpy.empty(count, dtype=numpy.float32)
        cdef float[::1] values
        cdef float *pointer = NULL
        if count:
            values = out
            pointer = &values[0]
        with nogil:
            status = zr.zv_recording_read_power(rec, at, count, exponent, pointer)
        _check_status(status)
        return out

    def chunks(self, n, units=None):
        """Iterates over the whole recording in pieces of n samples (the last may be shorter):
        raw() pieces, or power() pieces in `units` when given."""
        n = int(n)
        if n <= 0:
            raise ValueError("chunks need a positive number of samples, got %d" % n)
        length = len(self)
        for start in range(0, length, n):
            stop = min(start + n, length)
            yield self.raw(start, stop) if units is None else self.power(start, stop, units)

    def __repr__(self):
        if self.rec == NULL:
            return "<zvpy.Recording %r (closed)>" % self.path
        return "<zvpy.Recording %r: %d %s samples at %g S/s>" % (
            self.path, len(self), self.kind, self.samplerate)


def repair_recording(path):
    """Makes a recording whose writer stopped without closing it (Recording.state "unclosed",
    after the recording program was killed) an ordinary HDF5 file that any HDF5 tool opens,
    keeping every flushed sample (as `h5clear -s --increment` does). A closed recording is left
    as it is; one being written is refused.

    Raises:
        FileNotFoundError: when there is no such file.
        zvpy.Error: when the file is not a recording, is being written, or cannot be changed.
    """
    path = os.fspath(path)
    cdef bytes encoded = _c_path(path)
    if not os.path.exists(path):
        raise FileNotFoundError(2, "No such file or directory", path)
    cdef const char *name = encoded
    cdef int status
    with nogil:
        status = zr.zv_recording_repair(name)
    _check_status(status)
