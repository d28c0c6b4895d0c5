# Argument conversions and checks shared by the Device and _DDevice wrappers.

from cpython.object cimport PyTypeObject, Py_TYPE

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
