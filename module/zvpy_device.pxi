# Device: one HLM25 detector.

cdef class Device:
    """Device(open=True, serial=None)

    Represents one HLM25 device. Before any function can be used the device must be opened with
    open(); by default this happens automatically when a new Device is created, which can be
    disabled by setting `open` to False.

    Args:
        open (bool): try opening the device immediately.
        serial (str): a string to find in the serial number of the device to connect to.

    Raises:
        zvpy.NoDeviceError: if no device is found.
    """
    cdef zv_device *dev

    def __cinit__(self):
        init()
        self.dev = NULL
