# Stream: a processed sample stream of one device. It owns one ZVStream<float> or ZVStream<double>
# and keeps a reference to its Device; the C++ stream only borrows the device's record, so every
# call that would reach the device first checks that the record is still the one the stream was
# made with.

from cpython.exc cimport PyErr_Fetch, PyErr_Restore, PyErr_WriteUnraisable
from cpython.ref cimport PyObject, Py_XDECREF
from libc.stdint cimport int32_t
from libcpp.string cimport string
from zvstream cimport (ZVGenericStream, ZVStream, zv_open_stream_float, zv_open_stream_double,
                       kCalibrationAuto)
from libc.stdint cimport uint8_t

# Bytes per sample of a float32 stream.
cdef enum:
    _FLOAT32_SAMPLESIZE = 4


cdef string _stream_text(what, value) except *:
    # Calibration and filter mode names: bytes as given, str encoded as ASCII.
    return _c_text(what, value, "ascii")


cdef int _record_invalid_device() except -1:
    # libzv refuses a collection without a device record and stores 50 "invalid device" as its
    # last error, which the Error raised next reports.
    zv_collect(NULL, NULL, NULL)
    return 0


cdef class Stream(_ContinuousStream):
    cdef ZVGenericStream *stream
    cdef ZVStream[float] *float_stream
    cdef ZVStream[double] *double_stream
    cdef readonly object device
    cdef readonly object dtype
    # The device's release count when the stream was made (see Device.releases).
    cdef unsigned long long device_releases

    def __cinit__(self):
        self.stream = NULL
        self.float_stream = NULL
        self.double_stream = NULL
        self.device = None
        self.dtype = None

    def __init__(self, Device device, dtype=None):
        cdef ZVStream[float] *float_stream = NULL
        cdef ZVStream[double] *double_stream = NULL
        if device is None or device.dev == NULL:
            raise RuntimeError("Device is not open")
        if numpy.dtype(dtype) == numpy.dtype("float32"):
            chosen = numpy.dtype("float32")
            device._check_idle()
            float_stream = zv_open_stream_float(device.dev)
            _check(float_stream == NULL)
        elif numpy.dtype(dtype) == numpy.dtype("float64"):
            chosen = numpy.dtype("float64")
            device._check_idle()
            double_stream = zv_open_stream_double(device.dev)
            _check(double_stream == NULL)
        else:
            raise RuntimeError("Invalid dtype specified. Only float32 and float64 currently supported")
        # A repeated __init__ replaces the stream it made before.
        self._release()
        self.float_stream = float_stream
        self.double_stream = double_stream
        if float_stream != NULL:
            self.stream = float_stream
        else:
            self.stream = double_stream
        self.dtype = chosen
        self._sample_dtype = chosen
        self._release_pending = False
        self.device = device
        self.device_releases = device.releases

    def __del__(self):
        # The finalizer of Python subclasses (see _finalize_stream for this class's own).
        self.close()

    def __dealloc__(self):
        # After _finalize_stream ran close(); also frees the stream when a subclass's close
        # failed or did not close it.
        self._release()

    cdef void _release(self):
        if self.stream != NULL:
            del self.stream
            self.stream = NULL
            self.float_stream = NULL
            self.double_stream = NULL

    cdef void _c_release(self):
        self._release()

    cdef ZVGenericStream *_open(self) except NULL:
        # The stream object, which close() destroyed (or is about to, once the reads that wait on
        # other threads have returned).
        if self.stream == NULL or self._release_pending:
            raise Error("stream is closed")
        return self.stream

    # ---- Continuous streaming (see _ContinuousStream) ----

    cdef int _check_usable(self) except -1:
        return self._check_device()

    cdef int _c_start(self, double buffer_seconds) except? -1:
        if self.float_stream != NULL:
            return self.float_stream.start(buffer_seconds)
        return self.double_stream.start(buffer_seconds)

    cdef int _c_read(self, void *samples, uint8_t *flags, uint64_t count, int32_t timeout_ms,
                     zv_block *block) nogil:
        if self.float_stream != NULL:
            return self.float_stream.read(count, <float *>samples, flags, timeout_ms, block)
        return self.double_stream.read(count, <double *>samples, flags, timeout_ms, block)

    cdef int _c_stop(self):
        if self.float_stream != NULL:
            self.float_stream.stop()
        elif self.double_stream != NULL:
            self.double_stream.stop()
        return 0

    cdef zr.zv_recorder *_c_record(self, const char *path,
                                   const zr.zv_recorder_options *options) nogil:
        if self.float_stream != NULL:
            return zr.zv_recorder_start_float(self.float_stream, path, options)
        return zr.zv_recorder_start_double(self.double_stream, path, options)

    cdef bint _c_running(self):
        if self._release_pending:
            return False
        if self.float_stream != NULL:
            return self.float_stream.running()
        if self.double_stream != NULL:
            return self.double_stream.running()
        return False

    cdef uint64_t _c_lost_total(self):
        if self.float_stream != NULL:
            return self.float_stream.lost_total()
        if self.double_stream != NULL:
            return self.double_stream.lost_total()
        return 0

    cdef double _c_samplerate(self) except? -1:
        return self.read_samplerate()

    cdef bint _auto_mode(self) except -1:
        # In mode "auto" applying the calibration reads the device.
        return self._open().read_calibration_mode() == string(kCalibrationAuto)

    cdef int _check_device(self) except -1:
        # Before a call that reaches the device: the record the stream borrows must be the one it
        # was made with (a closed or reopened Device has freed it), and no collection may be
        # running on it from another thread.
        cdef ZVGenericStream *stream = self._open()
        cdef Device device = self.device
        if (device is None or device.releases != self.device_releases
                or device.dev != stream.device()):
            _record_invalid_device()
            _raise_failure()
        device._check_idle()
        return 0

    cdef object _collect(self, nsamples, bint simulated):
        # acquire and simulate: nsamples processed samples in a new array of the stream's dtype.
        self._open()
        cdef uint64_t count = int(nsamples)
        cdef float[::1] floats
        cdef double[::1] doubles
        cdef void *destination
        cdef int status
        data = numpy.zeros(count, dtype=self.dtype)
        single = self.samplesize == _FLOAT32_SAMPLESIZE
        if single:
            floats = data
            destination = &floats[0]
        else:
            doubles = data
            destination = &doubles[0]
        if not simulated or self._auto_mode():
            self._check_device()
        # Python code above (the conversion, the samplesize property) may have closed the stream.
        self._open()
        if single and self.float_stream != NULL:
            if simulated:
                status = self.float_stream.simulate(count, <float *>destination, NULL)
            else:
                status = self.float_stream.acquire(count, <float *>destination, NULL)
        elif not single and self.double_stream != NULL:
            if simulated:
                status = self.double_stream.simulate(count, <double *>destination, NULL)
            else:
                status = self.double_stream.acquire(count, <double *>destination, NULL)
        else:
            raise Error("the stream's samplesize does not match its element type")
        _check_status(status)
        return data

    def close(self):
        """Stops the stream if it runs and frees it; a read blocked on another thread raises
        Error. Every later call but close raises Error."""
        self.stop()
        if self._reads > 0:
            self._release_pending = True
        else:
            self._release()

    def acquire(self, nsamples):
        return self._collect(nsamples, False)

    def read_samplerate(self):
        cdef double rate = self._open().read_samplerate()
        _check(rate != rate)  # NaN: the detector reports no sample rate
        return rate

    def read_samplesize(self):
        """Returns the number of bytes each sample in the stream is stored in.

        Type: int. Read only.
        """
        return self._open().read_samplesize()

    def read_calibration_mode(self):
        return self._open().read_calibration_mode().decode("ascii")

    def set_calibration_mode(self, mode):
        self._open()
        cdef string name = _stream_text("calibration mode", mode)
        if name == string(kCalibrationAuto):
            self._check_device()
        _check_status(self._open().set_calibration_mode(name))

    def update_auto_calibration(self):
        if self._auto_mode():
            self._check_device()
        _check_status(self._open().update_auto_calibration())

    def read_calibration(self):
        cdef zv_calibration calibration = self._open().read_calibration()
        return numpy.array((calibration.gain, calibration.offset), dtype=self.dtype)

    def set_custom_calibration(self, calibration):
        self._open()
        if len(calibration) != 2:
            raise ValueError("Expected 'calibration' to be a length 2 array")
        cdef double scale = calibration[0]
        cdef double offset = calibration[1]
        _check_status(self._open().set_custom_calibration(scale, offset))

    def read_calibration_wavelength(self):
        return self._open().read_calibration_wavelength()

    def set_calibration_wavelength(self, wavelength):
        self._open()
        cdef double nm = float(wavelength)
        if self._auto_mode():
            self._check_device()
        _check_status(self._open().set_calibration_wavelength(nm))

    def read_calibration_units(self):
        return self._open().read_calibration_units()

    def set_calibration_units(self, units):
        self._open()
        cdef int32_t exponent = int(units)
        if self._auto_mode():
            self._check_device()
        _check_status(self._open().set_calibration_units(exponent))

    def read_cutoff(self):
        return self._open().read_cutoff()

    def set_cutoff(self, cutoff):
        self._open()
        cdef double hz = float(cutoff)
        # The filter runs at the input rate, before downsampling.
        cdef double nyquist = self._open().read_samplerate() * self._open().read_downsampling() / 2
        # Always 0: a cutoff out of range shows only in the filter's response, so it is taken as
        # given and the caller warned.
        self._open().set_cutoff(hz)
        if not hz > 0 or hz >= nyquist:  # NaN fails both; an unknown rate (NaN) only the first
            _warnings.warn(RuntimeWarning(
                "cutoff %r Hz is outside 0 < cutoff < %g Hz (half the stream's input rate): the "
                "filter's response will be meaningless" % (hz, nyquist)), stacklevel=1)

    def read_filter(self):
        return self._open().read_filter().decode("ascii")

    def set_filter(self, filter):
        self._open()
        cdef string name = _stream_text("filter", filter)
        _check_status(self._open().set_filter(name))

    def read_downsampling(self):
        return self._open().read_downsampling()

    def set_downsampling(self, downsampling):
        self._open()
        cdef int32_t factor = int(downsampling)
        _check_status(self._open().set_downsampling(factor))

    def set_decimation(self, decimation):
        self._open()
        cdef int32_t factor = int(decimation)
        _check_status(self._open().set_decimation(factor))

    def simulate(self, nsamples):
        """Processes nsamples samples of a synthetic ramp of raw codes (0, 1, 2, ... wrapping at
        65536) with the stream's settings, without streaming from the device; returns them as
        acquire does. In calibration mode "auto" the device's calibration is read."""
        return self._collect(nsamples, True)

    def benchmark(self, length, repeats, with_flags=False):
        """Seconds the stream takes to process `repeats` blocks of 5120 synthetic raw samples
        with its settings into an output block of `length` samples (with port flags if
        `with_flags`). Nothing is streamed from the device; in calibration mode "auto" its
        calibration is read once.

        Raises:
            zvpy.Error: if the arguments are invalid or the stream's filter mode is unknown.
        """
        self._open()
        cdef int32_t c_length = length
        cdef int32_t c_repeats = repeats
        cdef bint flags = bool(with_flags)
        cdef double seconds
        if self._auto_mode():
            self._check_device()
        if self.float_stream != NULL:
            seconds = self.float_stream.benchmark(c_length, c_repeats, flags)
        elif self.double_stream != NULL:
            seconds = self.double_stream.benchmark(c_length, c_repeats, flags)
        else:
            raise Error("stream is closed")
        _check(seconds < 0)
        return seconds

    # `with device.open_stream() as stream:` closes the stream on leaving the block.
    def __enter__(self):
        return self

    def __exit__(self, exc_type, exc_value, traceback):
        self.close()

    samplerate = property(read_samplerate)
    samplesize = property(read_samplesize)
    calibration_mode = property(read_calibration_mode, set_calibration_mode)
    calibration = property(read_calibration, set_custom_calibration)
    calibration_wavelength = property(read_calibration_wavelength, set_calibration_wavelength)
    calibration_units = property(read_calibration_units, set_calibration_units)
    cutoff = property(read_cutoff, set_cutoff)
    filter = property(read_filter, set_filter)
    downsampling = property(read_downsampling, set_downsampling)


# Releasing a Stream first calls its close method, looked up by name so that a subclass's close
# runs. Calling Python code is only safe in a PEP 442 finalizer (tp_finalize), which the
# interpreter runs before deallocation and which keeps an object that the call made reachable
# again from being freed; Cython 0.29 cannot declare one, so it is installed here.

cdef extern from "Python.h":
    ctypedef void (*_finalizer)(PyObject *)
    ctypedef struct _FinalizableType "PyTypeObject":
        unsigned long tp_flags
        _finalizer tp_finalize
    unsigned long Py_TPFLAGS_HAVE_FINALIZE
    PyObject *PyObject_CallMethod(PyObject *obj, const char *name, const char *format, ...)


cdef void _finalize_stream(PyObject *stream):
    # Reports an exception raised by close as unraisable and leaves any pending one in place.
    cdef PyObject *error_type
    cdef PyObject *error_value
    cdef PyObject *error_traceback
    PyErr_Fetch(&error_type, &error_value, &error_traceback)
    cdef PyObject *result = PyObject_CallMethod(stream, "close", NULL)
    if result == NULL:
        PyErr_WriteUnraisable(<object>stream)
    Py_XDECREF(result)
    PyErr_Restore(error_type, error_value, error_traceback)


cdef object _stream_type = Stream
(<_FinalizableType *><PyObject *>_stream_type).tp_finalize = _finalize_stream
(<_FinalizableType *><PyObject *>_stream_type).tp_flags |= Py_TPFLAGS_HAVE_FINALIZE
