"""The zvpy module frame: attributes, constants, lookups, exceptions and conventions."""
import pickle
import subprocess
import sys
import textwrap

import pytest

import zvpy


def test_attributes_in_order_and_version(project_version):
    names = [n for n in vars(zvpy) if not n.startswith("__")]
    assert names[:3] == ["Device", "Stream", "_DDevice"]
    expected = ["numpy", "init", "exit", "atexit", "error_lookup", "usb_speed_lookup",
                "PORT_A", "PORT_B", "PORT_S", "PORT_T", "port_lookup",
                "CALIBRATION_DIGITAL_HIGHGAIN", "CALIBRATION_DIGITAL_LOWGAIN",
                "CALIBRATION_ANALOG_HIGHGAIN", "CALIBRATION_ANALOG_LOWGAIN",
                "CALIBRATION_DIGITAL_AUTO", "calibrationtype_lookup", "_trigger_mode_lookup",
                "Error", "NoDeviceError", "version"]
    assert [n for n in names if n in expected] == expected
    assert zvpy.version() == tuple(int(part) for part in project_version.split("."))
    assert zvpy.__doc__ is None
    assert not hasattr(zvpy, "find_trigger_mode")
    assert zvpy.init() is None and zvpy.exit() is None
    assert zvpy.error_lookup == {}


def test_constants_and_lookups():
    assert (zvpy.PORT_A, zvpy.PORT_B, zvpy.PORT_S, zvpy.PORT_T) == (0, 1, 2, 3)
    assert zvpy.usb_speed_lookup == {0: "unknown", 1: "low", 2: "full", 3: "high", 4: "super"}
    ports = zvpy.port_lookup
    assert len(ports) == 11
    assert ports[zvpy.PORT_T] == ports["T"] == 3
    assert (ports["LEDR"], ports["LEDG"]) == (4, 5)
    assert ports["LEDB"] == 6
    assert "s" not in ports and "a" not in ports
    cal = zvpy.calibrationtype_lookup
    assert len(cal) == 17
    assert cal["balanced"] == cal["balanced digital"] == 5
    assert cal[zvpy.CALIBRATION_DIGITAL_AUTO] == cal["auto"] == 4
    assert [cal[k] for k in ("balanced analog", "p1 digital", "p1 analog", "p2 digital",
                             "p2 analog")] == [6, 7, 8, 9, 10]
    assert list(cal)[:5] == [0, 1, 2, 3, 4]
    triggers = zvpy._trigger_mode_lookup
    assert triggers == {("s", "rising"): 1, ("s", "falling"): 2, ("s", "high"): 3,
                        ("s", "low"): 4, ("t", "rising"): 5, ("t", "falling"): 6,
                        ("t", "high"): 7, ("t", "low"): 8}


def test_error_message_forms():
    plain = zvpy.Error()
    assert isinstance(plain.err, int) and isinstance(plain.errstr, str)
    assert str(plain) == "libzv error (%d): %s" % (plain.err, plain.errstr)
    assert str(zvpy.Error("x")) == "zvpy error: x"
    assert str(zvpy.Error(42)) == "zvpy error: 42"
    # The empty string is false, so the library form is used.
    empty = zvpy.Error("")
    assert str(empty) == "libzv error (%d): %s" % (empty.err, empty.errstr)
    # The docstring says what the class is and names both attributes and where they come from.
    for words in ("libzv error", "err and", "errstr", "zv_get_error", "zv_get_error_string"):
        assert words in zvpy.Error.__doc__, words


def test_no_device_error_is_an_error():
    e = zvpy.NoDeviceError("Could not find a device.")
    assert isinstance(e, zvpy.Error)
    assert str(e) == "zvpy error: Could not find a device."
    assert hasattr(e, "err") and hasattr(e, "errstr")
    assert zvpy.NoDeviceError.__doc__ is None  # no docstring of its own
    assert "__init__" not in vars(zvpy.NoDeviceError)


def test_error_reads_the_library_state_in_a_fresh_process():
    code = textwrap.dedent("""
        import zvpy
        e = zvpy.Error()
        print(repr((e.err, e.errstr, str(e))))
    """)
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == repr((0, "", "libzv error (0): "))


@pytest.mark.parametrize("cls", [zvpy.Device, zvpy._DDevice])
def test_pickling_is_refused(cls):
    obj = cls(open=False)
    with pytest.raises(TypeError, match="no default __reduce__ due to non-trivial __cinit__"):
        pickle.dumps(obj)
    with pytest.raises(TypeError, match="no default __reduce__ due to non-trivial __cinit__"):
        obj.__setstate__(None)


def test_stream_pickling_is_refused():
    stream = zvpy.Stream.__new__(zvpy.Stream)
    with pytest.raises(TypeError, match="no default __reduce__ due to non-trivial __cinit__"):
        stream.__reduce__()


def test_second_import_returns_the_same_module_and_registers_exit_once():
    code = textwrap.dedent("""
        import atexit, importlib, sys
        before = atexit._ncallbacks()
        import zvpy
        after_first = atexit._ncallbacks()
        again = importlib.import_module("zvpy")
        import zvpy as third
        print(again is zvpy, third is zvpy, after_first - before, atexit._ncallbacks() - before)
    """)
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.split() == ["True", "True", "1", "1"]
