"""Testing your own analysis code without a detector.

zvsim attaches a simulated HLM25 inside the library: zvpy finds and drives it exactly like a
real one, and it streams the samples you give it. Run this file with pytest, or directly:
python3 test_without_hardware.py
"""
import numpy

import zvpy
import zvsim

SERIAL = "HLM25-STEST1IC"  # single-ended (S), 1550 nm photodiode (I), FC connector (C)


def mean_power(device: zvpy.Device, nsamples: int) -> float:
    """The code under test: mean optical power in µW."""
    return float(device.get_calibrated_data(nsamples).mean())


def test_mean_power_of_a_known_signal() -> None:
    # Every stored calibration is 0.001 µW per ADC code with no offset; the detector streams a
    # constant ADC code of 5000, so the power is 5 µW.
    sim = zvsim.attach(SERIAL, calibrations=[(1e-3, 0.0)] * 6, samples=numpy.full(1000, 5000))
    try:
        with zvpy.Device(serial=SERIAL) as device:
            # The identity block stores calibrations in single precision: allow for rounding.
            assert abs(mean_power(device, 10_000) - 5.0) < 1e-6
    finally:
        sim.detach()


def test_port_s_levels_arrive_in_bit_14() -> None:
    # A square wave on port S: 100 samples low, 100 high (bit 14 of the raw word).
    words = numpy.where(numpy.arange(200) < 100, 2000, 2000 | 0x4000)
    sim = zvsim.attach(SERIAL, samples=words)
    try:
        with zvpy.Device(serial=SERIAL) as device:
            raw = device.get_raw_data(1000, mask=False, trig_mode="rising", trig_port="S")
            assert raw[0] & 0x4000  # the capture starts at the rising edge
            assert set(raw & 0x3FFF) == {2000}
    finally:
        sim.detach()


def test_an_unplugged_detector_raises_an_error() -> None:
    sim = zvsim.attach(SERIAL)
    with zvpy.Device(serial=SERIAL) as device:
        sim.detach()  # as if the cable were pulled
        try:
            device.get_raw_data(1000)
        except zvpy.Error as error:
            print(f"unplugged: {error} (code {error.err})")
        else:
            raise AssertionError("reading an unplugged detector did not fail")


if __name__ == "__main__":
    for test in (test_mean_power_of_a_known_signal, test_port_s_levels_arrive_in_bit_14,
                 test_an_unplugged_detector_raises_an_error):
        test()
        print(f"{test.__name__}: passed")
