# _DDevice: the developer's Device with raw vendor requests.

cdef class _DDevice(Device):
    pass
