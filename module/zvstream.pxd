# Declarations of the processed sample stream's C++ interface (stream/zv_stream.h) for zvpy.
# Operations returning int give 0 on success, else the libzv error code they also stored as the
# last error. Those that build a std::string may throw std::bad_alloc, hence `except +`.
from libc.stdint cimport uint8_t, int32_t, uint64_t
from libcpp cimport bool as cbool
from libcpp.string cimport string
from libzv cimport zv_device, zv_calibration, zv_block

cdef extern from "stream/zv_stream.h" nogil:
    cdef cppclass ZVGenericStream:
        zv_device *device()
        double read_samplerate()
        int32_t read_samplesize()
        string read_calibration_mode() except +
        int set_calibration_mode(const string &mode) except +
        int update_auto_calibration()
        zv_calibration read_calibration()
        int set_custom_calibration(double scale, double offset) except +
        double read_calibration_wavelength()
        int set_calibration_wavelength(double wavelength)
        int32_t read_calibration_units()
        int set_calibration_units(int32_t units)
        string read_filter() except +
        int set_filter(const string &name) except +
        double read_cutoff()
        int set_cutoff(double cutoff)
        int32_t read_downsampling()
        int set_downsampling(int32_t factor)
        int set_decimation(int32_t factor) except +

    cdef cppclass ZVStream[T](ZVGenericStream):
        int acquire(uint64_t count, T *destination, uint8_t *flags) except +
        int simulate(uint64_t count, T *destination, uint8_t *flags) except +
        double benchmark(int32_t length, int32_t repeats, cbool with_flags) except +
        int start(double buffer_seconds) except +
        int read(uint64_t count, T *destination, uint8_t *flags, int32_t timeout_ms,
                 zv_block *block)
        int stop()
        cbool running()
        uint64_t lost_total()

    ZVStream[float] *zv_open_stream_float(zv_device *device)
    ZVStream[double] *zv_open_stream_double(zv_device *device)

    # The calibration mode that reads the device's stored calibration.
    const char *kCalibrationAuto
