# Stream: a processed sample stream of one device.

cdef class Stream:
    cdef object device
    cdef object dtype

    def __cinit__(self):
        self.device = None
        self.dtype = None
