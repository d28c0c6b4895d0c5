# cython: language_level=3
# distutils: language = c++
#
# zvpy: Python interface to libzv, the host library of the HLM25 USB photodetector.
#
# The module is one extension built from this file and the class files it includes. Every wrapper
# converts its arguments, calls one libzv function and turns a failure into an exception through
# _raise_failure (zvpy_failures.pxi):
# - a libzv failure raises Error() with no argument, so its text carries the library's last error;
# - a check made here raises Error(message) or a built-in exception with a fixed message;
# - the developer requests of _DDevice raise RuntimeError with the status;
# - an exception already pending when a call fails (Ctrl-C while it waited) propagates instead.
# The lookup tables below are read by name at each use, so a program that rebinds them changes
# the accepted words.

from libc.stdint cimport uint8_t, uint16_t, uint32_t, uint64_t
from libcpp.vector cimport vector
from libzv cimport *

include "zvpy_failures.pxi"
include "zvpy_device_helpers.pxi"
include "zvpy_device.pxi"
include "zvpy_continuous.pxi"
include "zvpy_stream.pxi"
include "zvpy_ddevice.pxi"
include "zvpy_raw_stream.pxi"
include "zvpy_recording.pxi"
include "zvpy_recorder.pxi"
include "zvpy_envelope.pxi"

import builtins as _builtins

import numpy

cdef bint _initialised = False


def init():
    global _initialised
    if not _initialised:
        _initialised = True


def exit():
    pass


import atexit
atexit.register(exit)

error_lookup = {}

usb_speed_lookup = {0: "unknown", 1: "low", 2: "full", 3: "high", 4: "super"}

PORT_A = ZV_PORT_A
PORT_B = ZV_PORT_B
PORT_S = ZV_PORT_S
PORT_T = ZV_PORT_T

port_lookup = {
    PORT_A: ZV_PORT_A,
    PORT_B: ZV_PORT_B,
    PORT_S: ZV_PORT_S,
    PORT_T: ZV_PORT_T,
    "A": ZV_PORT_A,
    "B": ZV_PORT_B,
    "S": ZV_PORT_S,
    "T": ZV_PORT_T,
    "LEDR": ZV_LEDR,
    "LEDG": ZV_LEDG,
    "LEDB": ZV_LEDB,
}

CALIBRATION_DIGITAL_HIGHGAIN = ZV_CALIBRATION_DIGITAL_HIGHGAIN
CALIBRATION_DIGITAL_LOWGAIN = ZV_CALIBRATION_DIGITAL_LOWGAIN
CALIBRATION_ANALOG_HIGHGAIN = ZV_CALIBRATION_ANALOG_HIGHGAIN
CALIBRATION_ANALOG_LOWGAIN = ZV_CALIBRATION_ANALOG_LOWGAIN
CALIBRATION_DIGITAL_AUTO = ZV_CALIBRATION_DIGITAL_AUTO

calibrationtype_lookup = {
    CALIBRATION_DIGITAL_HIGHGAIN: ZV_CALIBRATION_DIGITAL_HIGHGAIN,
    CALIBRATION_DIGITAL_LOWGAIN: ZV_CALIBRATION_DIGITAL_LOWGAIN,
    CALIBRATION_ANALOG_HIGHGAIN: ZV_CALIBRATION_ANALOG_HIGHGAIN,
    CALIBRATION_ANALOG_LOWGAIN: ZV_CALIBRATION_ANALOG_LOWGAIN,
    CALIBRATION_DIGITAL_AUTO: ZV_CALIBRATION_DIGITAL_AUTO,
    "digital highgain": ZV_CALIBRATION_DIGITAL_HIGHGAIN,
    "digital lowgain": ZV_CALIBRATION_DIGITAL_LOWGAIN,
    "analog highgain": ZV_CALIBRATION_ANALOG_HIGHGAIN,
    "analog lowgain": ZV_CALIBRATION_ANALOG_LOWGAIN,
    "balanced": ZV_CALIBRATION_BALANCED_DIGITAL,
    "balanced digital": ZV_CALIBRATION_BALANCED_DIGITAL,
    "balanced analog": ZV_CALIBRATION_BALANCED_ANALOG,
    "p1 digital": ZV_CALIBRATION_P1_DIGITAL,
    "p1 analog": ZV_CALIBRATION_P1_ANALOG,
    "p2 digital": ZV_CALIBRATION_P2_DIGITAL,
    "p2 analog": ZV_CALIBRATION_P2_ANALOG,
    "auto": ZV_CALIBRATION_DIGITAL_AUTO,
}

_trigger_mode_lookup = {
    ("s", "rising"): ZV_TRIGGER_S_UP,
    ("s", "falling"): ZV_TRIGGER_S_DOWN,
    ("s", "high"): ZV_TRIGGER_S_HIGH,
    ("s", "low"): ZV_TRIGGER_S_LOW,
    ("t", "rising"): ZV_TRIGGER_T_UP,
    ("t", "falling"): ZV_TRIGGER_T_DOWN,
    ("t", "high"): ZV_TRIGGER_T_HIGH,
    ("t", "low"): ZV_TRIGGER_T_LOW,
}


class Error(Exception):
    """A libzv error.

    Raised whenever libzv reports an error in its operation. It has two attributes, err and
    errstr: the libzv error code and error string as returned by zv_get_error and
    zv_get_error_string at the moment the exception was made.
    """

    def __init__(self, msg=None):
        self.err = zv_get_error()
        cdef bytes errstr = zv_get_error_string()
        self.errstr = errstr.decode()
        if msg:
            Exception.__init__(self, "zvpy error: %s" % msg)
        else:
            Exception.__init__(self, "libzv error (%d): %s" % (self.err, self.errstr))


class NoDeviceError(Error):
    pass


class DataLossWarning(RuntimeWarning):
    """Samples of a continuous stream were lost: the detector reported a loss, or the program
    read too slowly and the stream's buffer overflowed. Issued once per loss; the Block it concerns
    counts the samples in `lost` and places them in `gaps`. Make it fatal with
    `warnings.simplefilter("error", zvpy.DataLossWarning)`."""


class TimeoutError(Error, _builtins.TimeoutError):
    """A blocking call waited longer than its `timeout`. Nothing is lost: a stream's read keeps
    the samples it gathered as the start of its next read."""


def version():
    """Returns the version of libzv used with zvpy as (major, minor, patch)."""
    cdef int major = 0, minor = 0, patch = 0
    zv_get_version(&major, &minor, &patch)
    return (major, minor, patch)


def libusb_version():
    """Returns the version of the libusb library serving real detectors, as a str."""
    cdef bytes text = zv_get_libusb_version()
    return text.decode()


def list_devices():
    """Lists the attached detectors without keeping any open: real ones first, then simulated
    ones, each as a dict with the keys serial, product, samplerate (S/s), adcbits, firmware
    (major, minor, patch) and usb_speed (a word of usb_speed_lookup).

    Raises:
        zvpy.Error: if a detector's identity cannot be read.
    """
    cdef vector[zv_device_info] infos
    cdef vector[int] speeds
    cdef int found = 0
    while True:
        found = zv_list_devices_with_speed(infos.data(), speeds.data(), <int>infos.size())
        _check(found < 0)
        if <size_t>found <= infos.size():
            break
        infos.resize(found)  # more detectors than room: ask again with room for all
        speeds.resize(found)
    devices = []
    for i in range(found):
        devices.append({
            "serial": (<bytes>infos[i].serial).decode("utf-8", "replace"),
            "product": (<bytes>infos[i].product).decode("utf-8", "replace"),
            "samplerate": infos[i].samplerate,
            "adcbits": infos[i].adcbits,
            "firmware": (infos[i].fw_major, infos[i].fw_minor, infos[i].fw_patch),
            "usb_speed": usb_speed_lookup.get(speeds[i], "unknown"),
        })
    return devices


cdef int find_trigger_mode(mode, port) except? -1:
    # Turns trigger words ("rising", "S") into a trigger-mode number; "auto" is free-running.
    try:
        mode = mode.lower()
    except:
        raise Error("invalid trigger mode")
    if mode == "auto":
        return ZV_TRIGGER_NONE
    try:
        port = port.lower()
    except:
        raise Error("invalid trigger port")
    try:
        return _trigger_mode_lookup[(port, mode)]
    except KeyError:
        raise Error("invalid trigger mode or port")

# The base of Stream and RawStream is no part of the module's interface.
del globals()["_ContinuousStream"]
