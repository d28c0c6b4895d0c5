# How a libzv failure becomes a Python exception. A wrapper compares the result of its libzv call
# with that call's failure value (the table below and libzv.h's ZV_*_NOT_SET and ZV_QUERY_FAILED)
# and hands a failure to _raise_failure, the one place such exceptions are raised.
#
#   call                                         failure value
#   status-returning calls (zv_set_*, ...)       non-zero
#   zv_get_serial, zv_get_product                NULL
#   zv_get_samplerate                            ZV_SAMPLERATE_NOT_SET
#   zv_get_adcbits                               ZV_ADCBITS_NOT_SET
#   zv_get_fwversion                             ZV_FWVERSION_NOT_SET in all three parts
#   zv_get_usb_speed, zv_get_peak_responsivity   ZV_QUERY_FAILED
#   zv_read_feature                              negative
#   zv_list_devices_with_speed                   negative
#   zv_port_read                                 anything but 0 or 1
#   zv_get_rel_responsivity                      +infinity
#   zv_get_calibration, zv_get_rel_calibration   the pair (0, 0)
#   zv_open_stream_*                             NULL
#   ZVStream<T>::benchmark                       negative

from cpython.exc cimport PyErr_Occurred
from libc.math cimport INFINITY


cdef int _raise_failure(exception=None) except -1:
    # An exception already pending is the reason the call failed (the interrupt check ran the
    # interpreter's signal handlers while the call waited, and Ctrl-C raised KeyboardInterrupt):
    # it propagates unchanged. Otherwise `exception` is raised, by default Error(), which reads the
    # code and message the failing call stored as this thread's last error.
    if PyErr_Occurred() != NULL:
        return -1
    if exception is None:
        raise Error()
    raise exception


cdef inline int _check(bint failed) except -1:
    # After every libzv call: its failure, or an exception its interrupt check left pending even
    # though the call itself completed.
    if failed or PyErr_Occurred() != NULL:
        return _raise_failure()
    return 0


cdef int _check_request(int status, str request) except -1:
    # The developer requests' status form (RuntimeError "in_request: 32"). The exception is made
    # only once none is pending: nothing may be called with Ctrl-C's KeyboardInterrupt set.
    if PyErr_Occurred() != NULL:
        return -1
    if status != 0:
        return _raise_failure(RuntimeError("%s: %d" % (request, status)))
    return 0


cdef inline int _check_status(int status) except -1:
    return _check(status != 0)


cdef object _calibration_array(zv_calibration calibration):
    # An unprogrammed pair reads (1, 0); (0, 0) is the failure value.
    _check(calibration.gain == 0.0 and calibration.offset == 0.0)
    return numpy.array((calibration.gain, calibration.offset))
