"""zvpy.Device settings, test patterns, ports and reset, witnessed by the simulated detector."""
import pytest

import zvpy

FEATURES = ("highgain", "antialias", "powerdown", "adcclock")


def port_record(mode, level=0, period=0, threshold=0):
    return (bytes([mode, level]) + period.to_bytes(4, "little")
            + threshold.to_bytes(4, "little"))


@pytest.fixture
def dev(opened):
    return opened()


def test_feature_properties(sim, dev):
    dev.highgain = True
    assert dev.highgain == 1 and type(dev.highgain) is int
    dev.antialias = True
    assert dev.antialias is True
    dev.adcclock = False
    assert dev.read_adcclock() is False
    assert sim.features == {"highgain": 1, "antialias": 1, "powerdown": 0, "adcclock": 0}
    assert sim.requests[0] == ("out", 0xCC, 1, 0, b"")
    assert ("out", 0xCC, 0, 3, b"") in sim.requests
    for name in FEATURES:
        prop = getattr(zvpy.Device, name)
        assert isinstance(prop, property)
        assert prop.__doc__ == getattr(zvpy.Device, "read_" + name).__doc__
        assert prop.__doc__.rstrip().endswith("Readable and Writeable.")
        with pytest.raises(AttributeError):
            delattr(dev, name)


def test_setters_take_the_truth_value(sim, dev):
    for on in (1, [0], "x", object()):
        dev.set_powerdown(on)
        assert sim.features["powerdown"] == 1
        dev.set_powerdown(0)
    for off in (0, None, [], ""):
        dev.set_powerdown(True)
        dev.set_powerdown(off)
        assert sim.features["powerdown"] == 0
    with pytest.raises(TypeError):
        dev.set_highgain(on=True)


def test_feature_failures(sim, dev):
    sim.respond(0xCD, b"\x80")
    with pytest.raises(zvpy.Error) as e:
        dev.read_antialias()
    assert (e.value.err, e.value.errstr) == (48, "requested feature invalid")
    sim.fail_request(0xCC)
    with pytest.raises(zvpy.Error) as e:
        dev.highgain = True
    assert (e.value.err, e.value.errstr) == (32, "usb out request error")
    sim.fail_request(0xCD)
    with pytest.raises(zvpy.Error) as e:
        dev.highgain
    assert (e.value.err, e.value.errstr) == (32, "usb in request error")


def test_test_patterns(sim, dev):
    dev.test_checkerboard()
    assert sim.test_pattern == 4
    dev.test_pn9()
    assert sim.test_pattern == 6
    assert dev.test_normal() is None
    assert sim.test_pattern == 0
    sim.clear_requests()
    assert dev.test_user(16383) is None
    assert [(r[2], r[3]) for r in sim.requests] == [
        (0xFC, 25), (0xFF, 26), (0xFC, 27), (0xFF, 28), (8, 13), (1, 255)]
    assert sim.test_pattern == 8
    sim.clear_requests()
    with pytest.raises(OverflowError) as e:
        dev.test_user(65536)
    assert str(e.value) == "value too large to convert to uint16_t"
    with pytest.raises(OverflowError) as e:
        dev.test_user(-1)
    assert str(e.value) == "can't convert negative value to uint16_t"
    assert sim.requests == []
    # The device reports nothing for test patterns: a failed write is not an error.
    sim.fail_request(0xC0, None)
    dev.test_user(5)


def test_ports(sim, dev):
    dev.port_drive("LEDG", True)
    dev.port_drive(port=zvpy.PORT_T, value=0)
    dev.port_pwm("A", 3, 9)
    dev.port_pwm(port="B", threshold=1, period=2)
    dev.port_pulse("S", 40)
    assert sim.requests == [
        ("out", 0xC8, 5, 0, port_record(1, 1)),
        ("out", 0xC8, 3, 0, port_record(1, 0)),
        ("out", 0xC8, 0, 0, port_record(4, 0, 9, 3)),
        ("out", 0xC8, 1, 0, port_record(4, 0, 2, 1)),
        ("out", 0xC8, 2, 5, port_record(5, 0, 0, 40)),
    ]
    sim.set_port_input(1, 1)
    assert dev.port_read("B") is True
    sim.set_port_input(1, 0)
    assert dev.port_read(zvpy.PORT_B) is False


def test_old_firmware_square_wave(attach):
    sim = attach(firmware=(1, 0, 1))
    d = zvpy.Device()
    sim.clear_requests()
    d.port_pwm("A", 1, 100)
    d.port_pwm("A", 100, 100)
    assert [r[4] for r in sim.requests] == [port_record(1, 0), port_record(1, 1)]


def test_port_checks(sim, dev):
    for port in ("a", "s", "C", 4, 7, -1, "LEDW"):
        for call in (lambda: dev.port_drive(port, 1), lambda: dev.port_pulse(port, 1),
                     lambda: dev.port_read(port)):
            with pytest.raises(zvpy.Error) as e:
                call()
            assert str(e.value) == "zvpy error: invalid port"
        with pytest.raises(ValueError) as e:
            dev.port_pwm(port, 1, 2)
        assert type(e.value) is ValueError and str(e.value) == "invalid port"
    with pytest.raises(TypeError):
        dev.port_read([])
    # The port is checked before the times are converted.
    with pytest.raises(ValueError):
        dev.port_pwm("X", -1, 2)
    with pytest.raises(OverflowError) as e:
        dev.port_pwm("A", -1, 2)
    assert str(e.value) == "can't convert negative value to uint32_t"
    with pytest.raises(OverflowError) as e:
        dev.port_pulse("A", -5)
    assert str(e.value) == "can't convert negative value to uint32_t"
    with pytest.raises(OverflowError):
        dev.port_pwm("A", 1, 2 ** 32)
    with pytest.raises(TypeError):
        dev.port_drive("A")
    with pytest.raises(TypeError):
        dev.port_read(port="A")
    assert sim.requests == []


def test_port_read_failures(sim, dev):
    sim.respond(0xC9, b"\xfe")
    with pytest.raises(zvpy.Error) as e:
        dev.port_read("T")
    assert (e.value.err, e.value.errstr) == (54, "error occured in firmware on the device")
    sim.fail_request(0xC9)
    with pytest.raises(zvpy.Error) as e:
        dev.port_read("T")
    assert (e.value.err, e.value.errstr) == (32, "usb in request error")


def test_reset(sim, dev):
    dev.highgain = True
    sim.clear_requests()
    assert dev.reset() is None
    assert sim.requests == [("out", 0x21, 0, 0, b"")]
    assert sim.features["highgain"] == 0
    assert dev.isopen()


def test_closed_device(sim):
    d = zvpy.Device(open=False)
    calls = [d.read_highgain, d.read_antialias, d.read_powerdown, d.read_adcclock,
             lambda: d.set_highgain(1), lambda: d.set_adcclock(0), lambda: d.port_drive("A", 1),
             lambda: d.port_pwm("A", 1, 2), lambda: d.port_pulse("A", 1),
             lambda: d.port_read("S"), d.reset, lambda: d.antialias]
    for call in calls:
        with pytest.raises(zvpy.Error) as e:
            call()
        assert (e.value.err, e.value.errstr) == (50, "invalid device")
    for quiet in (d.test_normal, d.test_checkerboard, d.test_pn9, lambda: d.test_user(1)):
        assert quiet() is None
    assert sim.requests == []
