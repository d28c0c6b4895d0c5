# _DDevice: the developer's Device with raw vendor requests.

cdef extern from "libzv/request_codes.h":
    const uint8_t _REQUEST_WRITE_ADC_REGISTER "zv::request::kWriteAdcRegister"
    const uint8_t _REQUEST_READ_ADC_REGISTER "zv::request::kReadAdcRegister"

cdef extern from "libzv/adc_registers.h":
    const uint8_t _ADC_CLOCK_DIVIDE_REGISTER "zv::adc::kClockDivideRegister"
    const uint8_t _ADC_COMMIT_REGISTER "zv::adc::kCommitRegister"
    const uint8_t _ADC_COMMIT "zv::adc::kCommitValue"

cdef enum:
    _REQUEST_DATA_LIMIT = 1024


cdef class _DDevice(Device):

    def in_request(self, request, value=0, index=0, length=0, timeout=1000):
        """Issues a device-to-host vendor request; returns the bytes as a uint8 array of `length`
        elements (those the device did not send stay 0)."""
        self._check_idle()
        data = numpy.zeros(length, dtype=numpy.uint8)
        cdef uint8_t[::1] view = data
        cdef uint8_t *pointer = NULL
        if length > 0:
            pointer = &view[0]
        cdef uint8_t c_request = request
        cdef uint16_t c_value = value
        cdef uint16_t c_index = index
        cdef uint16_t c_length = length
        cdef unsigned int c_timeout = timeout
        cdef int status = zv_in_request(self.dev, c_request, c_value, c_index, pointer, c_length,
                                        c_timeout)
        _check_request(status, "in_request")
        return data

    def out_request(self, request, value=0, index=0, data=numpy.zeros(0, dtype=numpy.uint8),
                    timeout=1000):
        """Issues a host-to-device vendor request with `data` (a uint8 array of at most 1024
        bytes)."""
        self._check_idle()
        _require_ndarray("data", data)
        cdef uint8_t[::1] view = data
        cdef Py_ssize_t size = len(data)
        cdef const uint8_t *pointer = NULL
        if size > 0:
            pointer = &view[0]
        if size > _REQUEST_DATA_LIMIT:
            raise RuntimeError("data too large")
        cdef uint8_t c_request = request
        cdef uint16_t c_value = value
        cdef uint16_t c_index = index
        cdef unsigned int c_timeout = timeout
        cdef int status = zv_out_request(self.dev, c_request, c_value, c_index, pointer,
                                         <uint16_t>size, c_timeout)
        _check_request(status, "out_request")

    def set_clock_divide(self, divide):
        """Sets the ADC clock divider to 1, 2 or 4 and checks it by reading it back."""
        if divide != 1 and divide != 2 and divide != 4:
            raise ValueError("Invalid clock divide")
        code = divide - 1
        self.out_request(_REQUEST_WRITE_ADC_REGISTER, value=code, index=_ADC_CLOCK_DIVIDE_REGISTER)
        self.out_request(_REQUEST_WRITE_ADC_REGISTER, value=_ADC_COMMIT,
                         index=_ADC_COMMIT_REGISTER)
        data = self.in_request(_REQUEST_READ_ADC_REGISTER, index=_ADC_CLOCK_DIVIDE_REGISTER,
                               length=1)
        if data[0] != code:
            raise RuntimeError("clock divide unable to be set")
