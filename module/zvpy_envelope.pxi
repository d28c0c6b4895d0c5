# envelope: the library's min/max envelope for drawing long traces (zv_envelope_*).

from cpython.buffer cimport PyBUF_C_CONTIGUOUS, PyBuffer_Release, PyObject_GetBuffer

import operator

# Element types folded as they are; other real numbers are folded as float64.
_ENVELOPE_TYPES = (numpy.dtype(numpy.uint16), numpy.dtype(numpy.float32),
                   numpy.dtype(numpy.float64))


def envelope(samples, columns):
    """Folds a block of samples into `columns` (minimum, maximum) pairs for drawing: sample i of
    n belongs to column i * columns // n, so every sample, a single-sample spike included, reaches
    the extremes of its column. With more columns than samples, a column that holds no sample
    repeats the sample before it. Returns (mins, maxs), two arrays of `columns` values.

    samples is a 1-D array of uint16 (raw codes), float32 or float64, folded in its own type;
    other real numbers (a list, an int array) are folded as float64. A NaN in a column is its
    minimum and its maximum; -0.0 counts as below 0.0. The interpreter lock is released while
    the library folds.

    Raises:
        TypeError: if samples are not real numbers or columns is not an integer.
        ValueError: if samples are empty or not 1-D, or columns is below 1.
    """
    columns = operator.index(columns)  # refuses floats
    data = numpy.asarray(samples)
    if data.dtype not in _ENVELOPE_TYPES:
        if data.dtype.kind not in "biuf":
            raise TypeError("envelope: samples must be real numbers, not %s" % data.dtype)
        data = data.astype(numpy.float64)
    if data.ndim != 1:
        raise ValueError("envelope: samples must be a 1-D array, not %d-D" % data.ndim)
    if data.shape[0] == 0 or columns < 1:
        raise ValueError("envelope: needs at least one sample and at least one column")
    cdef uint64_t count = columns
    data = numpy.ascontiguousarray(data)
    mins = numpy.empty(count, dtype=data.dtype)
    maxs = numpy.empty(count, dtype=data.dtype)
    cdef uint64_t n = data.shape[0]
    cdef int status
    cdef uint16_t[::1] code_lo, code_hi
    cdef float[::1] float_lo, float_hi
    cdef double[::1] double_lo, double_hi
    cdef uint16_t *code_out[2]
    cdef float *float_out[2]
    cdef double *double_out[2]
    cdef Py_buffer view
    # The samples through the buffer protocol, which also takes read-only arrays.
    PyObject_GetBuffer(data, &view, PyBUF_C_CONTIGUOUS)
    try:
        if data.dtype == numpy.uint16:
            code_lo, code_hi = mins, maxs
            code_out[0], code_out[1] = &code_lo[0], &code_hi[0]
            with nogil:
                status = zv_envelope_uint16(<const uint16_t *>view.buf, n, count, code_out[0],
                                            code_out[1])
        elif data.dtype == numpy.float32:
            float_lo, float_hi = mins, maxs
            float_out[0], float_out[1] = &float_lo[0], &float_hi[0]
            with nogil:
                status = zv_envelope_float(<const float *>view.buf, n, count, float_out[0],
                                           float_out[1])
        else:
            double_lo, double_hi = mins, maxs
            double_out[0], double_out[1] = &double_lo[0], &double_hi[0]
            with nogil:
                status = zv_envelope_double(<const double *>view.buf, n, count, double_out[0],
                                            double_out[1])
    finally:
        PyBuffer_Release(&view)
    _check_status(status)
    return mins, maxs
