# Declarations of the simulated-detector C++ interface (sim/simulator.h) for the zvsim module.
from libc.stdint cimport uint8_t, uint16_t, uint32_t, uint64_t
from libcpp cimport bool as cbool
from libcpp.map cimport map as cmap
from libcpp.memory cimport shared_ptr
from libcpp.string cimport string
from libcpp.vector cimport vector

cdef extern from "sim/simulator.h" namespace "zvsim":
    # Scoped enumerations, named value by value.
    ctypedef enum Speed "zvsim::Speed":
        SPEED_HIGH "zvsim::Speed::high"
        SPEED_SUPER "zvsim::Speed::super"

    ctypedef enum StreamFault "zvsim::StreamFault":
        FAULT_BAD_STATUS "zvsim::StreamFault::bad_status"
        FAULT_BAD_LENGTH "zvsim::StreamFault::bad_length"
        FAULT_DATA_LOSS "zvsim::StreamFault::data_loss"
        FAULT_ERROR_STATUS "zvsim::StreamFault::error_status"
        FAULT_TIMEOUT "zvsim::StreamFault::timeout"

    cdef cppclass Calibration:
        float gain
        float offset

    cdef cppclass FirmwareVersion "std::array<uint8_t, 3>":
        uint8_t &operator[](size_t)

    cdef cppclass Calibrations "std::array<zvsim::Calibration, 6>":
        Calibration &operator[](size_t)

    cdef cppclass DetectorConfig:
        string serial
        FirmwareVersion firmware
        uint32_t samplerate
        uint8_t adcbits
        Calibrations calibrations
        vector[uint8_t] identity
        uint16_t vendor
        uint16_t product
        Speed speed
        string manufacturer
        string product_name
        vector[uint16_t] samples
        cbool realtime
        uint32_t fifo_samples

    cdef cppclass LoggedRequest:
        cbool in_ "in"
        uint8_t request
        uint16_t value
        uint16_t index
        vector[uint8_t] data
        cbool stalled

    cdef cppclass PortRecord:
        uint8_t mode
        uint8_t level
        uint32_t period
        uint32_t threshold

    cdef cppclass FeatureStates "zvsim::FeatureStates":
        uint8_t operator[](size_t)

    cdef cppclass PortRecords "std::array<zvsim::PortRecord, zvsim::kPortCount>":
        PortRecord &operator[](size_t)

    const uint8_t kFeatureCount
    const char *kFeatureNames[4]
    const uint8_t kPortCount
    const int kInputFromStream
    const int kEveryPacket
    const int kUntilCleared "zvsim::RequestFaults::kUntilCleared"
    const size_t kIdentitySize

    cdef cppclass SimulatedDetector:
        const DetectorConfig &config()
        const string &path()
        string serial()
        Speed speed()
        void detach()
        cbool detached()
        vector[uint16_t] samples()
        void set_samples(vector[uint16_t] words)
        size_t position()
        void set_position(size_t position)
        uint64_t produced()
        uint64_t dropped()
        vector[LoggedRequest] requests()
        void clear_requests()
        void fail_request(uint8_t request, int count)
        void hang_request(uint8_t request, int count)
        void respond(uint8_t request, vector[uint8_t] data, int count)
        void inject(StreamFault kind, uint32_t transfer, int packet)
        void clear_faults()
        void override_descriptor(uint8_t type, uint8_t index, vector[uint8_t] data)
        void clear_descriptor_overrides()
        FeatureStates features()
        cmap[uint8_t, uint16_t] adc_registers()
        uint8_t test_pattern()
        PortRecords ports()
        void set_port_input(uint8_t port, int level) except +
        uint8_t alt_setting()
        uint32_t stream_packet_size()

    shared_ptr[SimulatedDetector] attach(const DetectorConfig &config) except +
    void detach_all()
    vector[shared_ptr[SimulatedDetector]] devices()
