# Device: one HLM25 detector.

cdef enum _Collection:
    _FREE_RUNNING
    _TRIGGERED
    _PER_TRIGGER



cdef class Device:
    """Device(open=True, serial=None)

    Represents one HLM25 device. Before any function can be used the device must be opened with
    open(); by default this happens automatically when a new Device is created, which can be
    disabled by setting `open` to False.

    A Device is also a context manager: `with zvpy.Device() as d:` closes it on leaving the block.

    Args:
        open (bool): try opening the device immediately.
        serial (str or bytes): text to find in the serial number of the device to connect to.

    Raises:
        zvpy.NoDeviceError: if no device is found.
        zvpy.Error: if another Device of this program holds the detector open.
    """
    cdef zv_device *dev
    # Set while get_raw_data collects with the interpreter lock released. Meanwhile every call
    # from another thread that would reach libzv is refused: it would free the record under the
    # collection (close, open) or drive the device concurrently with it.
    cdef bint collecting
    # Counts the records this instance has released. A Stream remembers it at creation: a
    # different count means its record is gone, even if a reopened record got the same address.
    cdef unsigned long long releases
    # The recordings of this device's streams in progress (Recorder objects): ended before the
    # record is released, so each file is closed while its stream still has a device.
    cdef set _recorders

    def __cinit__(self):
        init()
        self.dev = NULL
        self.collecting = False
        self.releases = 0
        self._recorders = set()

    def __init__(self, open=True, serial=None):
        if open:
            self.open(serial=serial)

    def __dealloc__(self):
        # A collection holds a reference to the instance, so none can be running here.
        self._release()

    def __enter__(self):
        return self

    def __exit__(self, exc_type, exc_value, traceback):
        self.close()

    cdef int _check_idle(self) except -1:
        if self.collecting:
            raise Error("device is busy: a collection is running on another thread")
        return 0

    cdef void _release(self):
        if self._recorders:
            for recorder in list(self._recorders):
                recorder._finish()
        if self.dev != NULL:
            zv_close(self.dev)
            self.dev = NULL
            self.releases += 1

    def open(self, serial=None):
        """Opens the first device found, or the first whose serial number contains `serial`.

        A device this instance already holds is closed first.

        Raises:
            zvpy.NoDeviceError: if no such device is found.
            zvpy.Error: if another Device of this program holds the detector open.
        """
        cdef const char *text
        self._check_idle()
        if serial is None:
            self._release()
            self.dev = zv_open()
        else:
            encoded = _c_text("serial", serial, "utf-8")
            text = encoded
            self._release()
            self.dev = zv_open_serial(text)
        if self.dev == NULL:
            if zv_get_error() == ZV_ERROR_DEVICE_OPEN:
                raise Error()  # held by another Device of this program
            raise NoDeviceError("Could not find a device.")

    def close(self):
        """Closes the device; harmless when it is not open."""
        self._check_idle()
        self._release()

    def isopen(self):
        """True while the device is open (not a check that it is still attached)."""
        return self.dev != NULL

    @property
    def serial(self):
        """The serial number of the device.

        Read only.
        """
        self._check_idle()
        cdef const char *text = zv_get_serial(self.dev)
        _check(text == NULL)
        return text.decode("UTF-8")

    @property
    def product(self):
        """The product name of the device.

        Read only.
        """
        self._check_idle()
        cdef const char *text = zv_get_product(self.dev)
        _check(text == NULL)
        return text.decode("UTF-8")

    @property
    def samplerate(self):
        """The sample rate of the device.

        Read only.
        """
        self._check_idle()
        cdef uint32_t rate = zv_get_samplerate(self.dev)
        _check(rate == ZV_SAMPLERATE_NOT_SET)
        return rate

    @property
    def adcbits(self):
        """The number of ADC sampling bits of the device.

        Read only.
        """
        self._check_idle()
        cdef uint8_t bits = zv_get_adcbits(self.dev)
        _check(bits == ZV_ADCBITS_NOT_SET)
        return bits

    @property
    def fwversion(self):
        """Get the firmware version

        Returns:
            the firmware version as a 3-tuple (major, minor, patch).

        Read only.
        """
        self._check_idle()
        cdef zv_fwversion version = zv_get_fwversion(self.dev)
        _check(version.major == ZV_FWVERSION_NOT_SET and version.minor == ZV_FWVERSION_NOT_SET
               and version.patch == ZV_FWVERSION_NOT_SET)
        return (version.major, version.minor, version.patch)

    @property
    def usb_speed(self):
        """The current usb connection speed as a string.

        Valid responses are "unknown", "low", "full", "high" and "super".

        Read only.
        """
        self._check_idle()
        cdef int speed = zv_get_usb_speed(self.dev)
        _check(speed == ZV_QUERY_FAILED)
        return usb_speed_lookup[speed]

    @property
    def peak_responsivity(self):
        """The peak wavelength responsivity (in nm) of the photodiode in the device.

        Read only.
        """
        self._check_idle()
        cdef int wavelength = zv_get_peak_responsivity(self.dev)
        _check(wavelength == ZV_QUERY_FAILED)
        return wavelength

    # ---- Data collection ----

    def get_raw_data(self, nsamples, mask=True, trig_mode=None, trig_port=None,
                     samples_per_trigger=None, *, timeout=None):
        """Collects raw ADC samples from the device.

        Args:
            nsamples (int): number of samples to collect.
            mask (bool): if true, zeros the highest 2 bits of the samples so that only the 14 bits
                sampled by the ADC are returned.
            trig_mode (str): with trig_port, when acquisition starts: "rising" on a low-to-high
                transition, "falling" on a high-to-low transition, "high" while the port is high,
                "low" while the port is low.
            trig_port (str): the port searched for the trigger, "S" or "T".
            samples_per_trigger (int): if given, records only that many samples per trigger and
                then waits for the next trigger until all nsamples are acquired; requires
                trig_mode and trig_port.
            timeout (float): for a triggered collection, the seconds a trigger may keep it
                waiting (counted again after each burst); None waits as long as it takes. Every
                wait answers Ctrl-C.

        Returns:
            a numpy array of unsigned 16-bit ints.

        Raises:
            zvpy.TimeoutError: when a trigger does not come in time.
            zvpy.Error: on an error, or while a stream runs on the device.
        """
        self._check_idle()
        cdef int32_t timeout_ms = _timeout_ms(timeout)
        cdef uint64_t count = nsamples
        cdef uint64_t per_trigger = 0
        cdef ZV_TRIGGER_MODE_t mode = ZV_TRIGGER_NONE
        cdef _Collection collection
        cdef int status = 0
        cdef uint16_t *samples = NULL
        cdef uint16_t[::1] view
        cdef zv_device *dev

        data = numpy.zeros(count, dtype=numpy.uint16)
        _require_ndarray("data", data)
        view = data
        if count > 0:
            samples = &view[0]
        if samples_per_trigger is not None:
            per_trigger = samples_per_trigger
            mode = <ZV_TRIGGER_MODE_t>find_trigger_mode(trig_mode, trig_port)
            collection = _PER_TRIGGER
        elif trig_mode is None and trig_port is None:
            collection = _FREE_RUNNING
        else:
            mode = <ZV_TRIGGER_MODE_t>find_trigger_mode(trig_mode, trig_port)
            collection = _TRIGGERED

        # Checked again: the conversions above may have run Python code that let another thread
        # start a collection.
        self._check_idle()
        self.collecting = True
        dev = self.dev
        try:
            with nogil:
                if collection == _PER_TRIGGER:
                    status = zv_get_raw_data_per_trigger_timeout(dev, samples, count, mode,
                                                                 per_trigger, timeout_ms)
                elif collection == _TRIGGERED:
                    status = zv_get_raw_data_triggered_timeout(dev, samples, count, mode,
                                                               timeout_ms)
                else:
                    status = zv_get_raw_data(dev, samples, count)
        finally:
            self.collecting = False
        if status == ZV_ERROR_TIMEOUT and PyErr_Occurred() == NULL:
            raise TimeoutError("no %s trigger on port %s within %s s" % (
                str(trig_mode).lower(), str(trig_port).upper(), timeout))
        _check_status(status)

        if mask:
            data = data & ZV_SAMPLE_CODE_MASK
        return data

    def get_calibrated_data(self, nsamples, wavelength=None, **kwargs):
        """Collects samples from the device calibrated to units of uW.

        Args:
            nsamples (int): number of samples to collect.
            wavelength (int or None): if given (in nm), the photodiode's response curve gives the
                power at that wavelength; otherwise the power at peak responsivity.
            Further named arguments are passed to get_raw_data, but not mask=False: the power
                is computed from the 14-bit code alone, never from the port bits.

        Returns:
            a numpy array of float64 in uW.
        """
        if not kwargs.get("mask", True):
            raise ValueError("get_calibrated_data calibrates the 14-bit code: mask=False would "
                             "count the port bits as light")
        raw = self.get_raw_data(nsamples, **kwargs)
        if wavelength is None:
            calibration = self.get_calibration("auto")
        else:
            calibration = self.get_rel_calibration(wavelength, "auto")
        return raw * calibration[0] + calibration[1]

    # ---- Calibrations and responsivity ----

    def get_calibration(self, type="auto"):
        """Gets a stored calibration.

        Calibrations map native detector units (ADC code for the digital path, volts for the
        analog output) to uW of power at the peak sensitivity of the photodiode.

        Args:
            type: the calibration type. For non-balanced units: "digital highgain",
                "digital lowgain", "analog highgain", "analog lowgain". For balanced units:
                "balanced" (the same as "balanced digital"), "balanced analog", "p1 digital",
                "p1 analog", "p2 digital", "p2 analog". For both: "auto", the digital calibration
                for the unit and its current gain mode.

        Returns:
            a two-item numpy array in the same format as numpy polynomials, such that the
            calibrated value Y is found from the uncalibrated value X with
            Y = calibration[0]*X + calibration[1].
        """
        self._check_idle()
        cdef int number = _calibration_type(type)
        return _calibration_array(zv_get_calibration(self.dev, <ZV_CALIBRATION_TYPE_t>number))

    def get_rel_calibration(self, wavelength, type="auto"):
        """Gets a stored calibration adjusted to uW of power at a specific wavelength (in nm).

        The returned format is the same as for get_calibration.
        """
        self._check_idle()
        cdef int number = _calibration_type(type)
        cdef double nm = float(wavelength)
        return _calibration_array(
            zv_get_rel_calibration(self.dev, <ZV_CALIBRATION_TYPE_t>number, nm))

    def get_rel_responsivity(self, wavelength):
        """Gets the relative responsivity from the peak responsivity for a given wavelength.

        Args:
            wavelength (float): in nm.

        Returns:
            a float between 0 and 1.
        """
        self._check_idle()
        cdef double nm = float(wavelength)
        cdef double responsivity = zv_get_rel_responsivity(self.dev, nm)
        _check(responsivity == INFINITY)
        return responsivity

    # ---- Front-end settings ----

    cdef int _read_feature(self, ZV_FEATURE_t feature) except -1:
        self._check_idle()
        cdef int state = zv_read_feature(self.dev, feature)
        _check(state < 0)
        return state

    def read_highgain(self):
        """Controls the gain mode of the HLM25: whether the transimpedance amplifier is in
        high-gain or low-gain mode (see zv_set_highgain).

        Type: bool. Readable and Writeable.
        """
        return self._read_feature(ZV_FEATURE_HIGHGAIN)

    def set_highgain(self, on):
        self._check_idle()
        _check_status(zv_set_highgain(self.dev, bool(on)))

    def read_antialias(self):
        """Controls the anti-aliasing filter of the HLM25: whether it is enabled
        (see zv_set_antialias).

        Type: bool. Readable and Writeable.
        """
        return self._read_feature(ZV_FEATURE_ANTIALIAS) != 0

    def set_antialias(self, on):
        self._check_idle()
        _check_status(zv_set_antialias(self.dev, bool(on)))

    def read_powerdown(self):
        """Controls the power-down of the HLM25: whether the analog circuitry is powered down
        (see zv_set_powerdown).

        Type: bool. Readable and Writeable.
        """
        return self._read_feature(ZV_FEATURE_POWERDOWN) != 0

    def set_powerdown(self, on):
        self._check_idle()
        _check_status(zv_set_powerdown(self.dev, bool(on)))

    def read_adcclock(self):
        """Controls the ADC clock of the HLM25: whether it is enabled (see zv_set_adcclock).

        Type: bool. Readable and Writeable.
        """
        return self._read_feature(ZV_FEATURE_ADCCLOCK) != 0

    def set_adcclock(self, on):
        self._check_idle()
        _check_status(zv_set_adcclock(self.dev, bool(on)))

    highgain = property(read_highgain, set_highgain)
    antialias = property(read_antialias, set_antialias)
    powerdown = property(read_powerdown, set_powerdown)
    adcclock = property(read_adcclock, set_adcclock)

    # ---- Test patterns (the device reports nothing for these) ----

    def test_normal(self):
        self._check_idle()
        zv_test_normal(self.dev)

    def test_checkerboard(self):
        self._check_idle()
        zv_test_checkerboard(self.dev)

    def test_pn9(self):
        self._check_idle()
        zv_test_pn9(self.dev)

    def test_user(self, pattern):
        self._check_idle()
        cdef uint16_t value = pattern
        zv_test_user(self.dev, value)

    # ---- Logic ports, LED lines and reset ----

    def port_drive(self, port, value):
        """Drives a logic signal to a port.

        Args:
            port: a valid port string ("A", "B", "S", "T", "LEDR", "LEDG", "LEDB").
            value (bool): the logic level to drive.
        """
        self._check_idle()
        cdef int number = _port_number(port, False)
        cdef uint8_t level = 1 if value else 0
        _check_status(zv_port_drive(self.dev, <ZV_PORT_t>number, level))

    def port_pwm(self, port, threshold, period):
        """Drives a square wave on the port.

        Args:
            port: a valid port string.
            threshold (int): the time during the cycle the port is high, in clock cycles of about
                5 ns.
            period (int): the period of the square wave, in clock cycles of about 5 ns.
        """
        self._check_idle()
        cdef int number = _port_number(port, True)
        cdef uint32_t high = threshold
        cdef uint32_t cycle = period
        _check_status(zv_port_pwm(self.dev, <ZV_PORT_t>number, high, cycle))

    def port_pulse(self, port, threshold):
        """Drives a single pulse on the port, high for `threshold` clock cycles of about 5 ns."""
        self._check_idle()
        cdef int number = _port_number(port, False)
        cdef uint32_t high = threshold
        _check_status(zv_port_pulse(self.dev, <ZV_PORT_t>number, high))

    def port_read(self, port):
        """Reads the logic level applied to the port.

        Returns:
            the measured level as a bool.
        """
        self._check_idle()
        cdef int number = _port_number(port, False)
        cdef int level = zv_port_read(self.dev, <ZV_PORT_t>number)
        _check(level != 0 and level != 1)
        return level == 1

    def reset(self):
        """Resets the attached device."""
        self._check_idle()
        _check_status(zv_reset(self.dev))

    # ---- Processed stream ----

    def open_stream(self, dtype=None):
        return Stream(self, dtype=dtype)

    def open_raw_stream(self, mask=True):
        """Returns a zvpy.RawStream of this device's raw sample codes (port bits cleared when
        mask is true), ready to start."""
        return RawStream(self, mask=mask)
