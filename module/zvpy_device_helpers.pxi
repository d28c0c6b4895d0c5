# Argument conversions and checks shared by the wrappers.

from cpython.object cimport PyTypeObject, Py_TYPE
import os

# The class bodies run before the module body's own `import numpy`, and _DDevice.out_request's
# default data array is made then; the module attribute is the same either way.
import numpy


cdef int _port_number(port, bint invalid_is_value_error) except? -1:
    # The ZV_PORT_t number of a port_lookup key; an unknown key reaches nothing on the device.
    if port not in port_lookup:
        if invalid_is_value_error:
            raise ValueError("invalid port")
        raise Error("invalid port")
    cdef int number = port_lookup[port]
    return number


cdef int _calibration_type(calibration_type) except? -1:
    # The ZV_CALIBRATION_TYPE_t number of a calibrationtype_lookup key.
    if calibration_type not in calibrationtype_lookup:
        raise Error("Invalid calibration type")
    cdef int number = calibrationtype_lookup[calibration_type]
    return number


cdef int _require_ndarray(name, value) except -1:
    # The type check of an array argument; None passes, as for any typed argument.
    if value is not None and not isinstance(value, numpy.ndarray):
        raise TypeError("Argument '%.200s' has incorrect type (expected %.200s, got %.200s)" % (
            name, "numpy.ndarray", (<bytes>Py_TYPE(value).tp_name).decode()))
    return 0


cdef bytes _c_text(what, value, str encoding):
    # Text handed on to libzv as a zero-terminated string: bytes as given, str encoded. A NUL
    # would end the text early on the C side (a serial cut at it matches every detector).
    if isinstance(value, bytes):
        encoded = value
    elif isinstance(value, str):
        encoded = (<str>value).encode(encoding)
    else:
        raise TypeError("%s must be str or bytes, not %s" % (what, type(value).__name__))
    if b"\0" in encoded:
        raise ValueError("%s must not contain a NUL character: %r" % (what, value))
    return encoded


cdef bytes _c_path(path):
    # A file path handed on to libzv: str, bytes or os.PathLike, without NUL (which would name
    # another file on the C side).
    cdef bytes encoded = os.fsencode(path)
    if b"\0" in encoded:
        raise ValueError("path must not contain a NUL character: %r" % (path,))
    return encoded
