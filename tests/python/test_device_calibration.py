"""zvpy.Device calibration and responsivity methods, with numpy.polyval as the oracle of the
responsivity curves."""
import numpy
import pytest

import zvpy

PAIRS = [(i + 1.5, -(i + 0.25)) for i in range(6)]

# The photodiode curves: (from nm, to nm, coefficients highest power first).
CURVES = {
    "I": [
        (900, 1130, [4.48121574262e-13, -2.66365071267e-09, 6.29382649657e-06,
                     -0.00739573512297, 4.32592370305, -1007.84958217]),
        (1130, 1600, [-5.09141056237e-14, 3.44519553726e-10, -9.29015537557e-07,
                      0.00124657642209, -0.830987745379, 220.608499441]),
        (1600, 1662.3, [-2.90627318776e-11, 2.3137828183e-07, -0.000736802781366,
                        1.17308693535, -933.807512026, 297318.767962]),
        (1662.3, 1700, [3.25734210186e-16, -1.79833322567e-12, 2.22758450781e-09,
                        3.33591989148e-06, -0.0055697313368, -10.7072300801, 24277.1067482,
                        -12412289.6104]),
    ],
    "V": [
        (400, 1000, [-2.64188075215e-19, 1.34660489246e-15, -2.76515698417e-12,
                     2.97453553526e-09, -1.82795781178e-06, 0.000650613391592,
                     -0.124099728835, 9.8999334189]),
    ],
    "N": [
        (400, 1070, [3.94247533e-21, -2.05953226e-17, 4.58402581e-14, -5.67407466e-11,
                     4.26972617e-08, -2.00015765e-05, 0.00570170307, -0.90458475, 61.2439072]),
    ],
}
PEAKS = {"I": 1550, "V": 760, "N": 900}


def open_unit(attach, serial, **kwargs):
    sim = attach(serial, calibrations=PAIRS, **kwargs)
    d = zvpy.Device()
    sim.clear_requests()
    return sim, d


def test_type_words_and_numbers(attach):
    sim, d = open_unit(attach, "HLM25-S00001IC")
    for number, word in enumerate(["digital highgain", "digital lowgain", "analog highgain",
                                   "analog lowgain"]):
        assert list(d.get_calibration(word)) == list(PAIRS[number])
        assert list(d.get_calibration(number)) == list(PAIRS[number])
    result = d.get_calibration(type="analog lowgain")
    assert isinstance(result, numpy.ndarray) and result.dtype == numpy.float64
    assert sim.requests == []


def test_auto_follows_the_gain_on_single_ended_units(attach):
    sim, d = open_unit(attach, "HLM25-S00001IC")
    d.highgain = True
    assert list(d.get_calibration()) == list(d.get_calibration("digital highgain"))
    assert list(d.get_calibration("auto")) == list(PAIRS[0])
    assert list(d.get_calibration(zvpy.CALIBRATION_DIGITAL_AUTO)) == list(PAIRS[0])
    d.highgain = False
    assert list(d.get_calibration()) == list(d.get_calibration("digital lowgain"))
    sim.clear_requests()
    d.get_calibration()
    assert sim.requests == [("in", 0xCD, 0, 0, b"\x00")]
    sim.fail_request(0xCD)
    with pytest.raises(zvpy.Error) as e:
        d.get_calibration("auto")
    assert (e.value.err, e.value.errstr) == (-1, "unable to read gain mode")


def test_balanced_types(attach):
    sim, d = open_unit(attach, "HLM25-D00001IC")
    expected = {"auto": 0, "balanced": 0, "balanced digital": 0, "balanced analog": 2,
                "p1 digital": 1, "p1 analog": 3, "p2 digital": 4, "p2 analog": 5}
    for word, pair in expected.items():
        assert list(d.get_calibration(word)) == list(PAIRS[pair]), word
    assert sim.requests == []
    with pytest.raises(zvpy.Error) as e:
        d.get_calibration("digital highgain")
    assert (e.value.err, e.value.errstr) == (48, "unsupported calibration type")


def test_type_checks(attach):
    sim, d = open_unit(attach, "HLM25-S00001IC")
    for bad in ("Digital highgain", 5, "p3 analog", None):
        with pytest.raises(zvpy.Error) as e:
            d.get_calibration(bad)
        assert str(e.value) == "zvpy error: Invalid calibration type"
    with pytest.raises(TypeError):
        d.get_calibration([])
    with pytest.raises(zvpy.Error) as e:
        d.get_calibration("balanced")
    assert (e.value.err, e.value.errstr) == (48, "unsupported calibration type")
    # The type is checked before the wavelength is looked at.
    with pytest.raises(zvpy.Error) as e:
        d.get_rel_calibration("not a number", "bad")
    assert str(e.value) == "zvpy error: Invalid calibration type"
    assert sim.requests == []


def test_unprogrammed_pair_is_the_identity_map(attach):
    pairs = list(PAIRS)
    pairs[1] = (0.0, 0.0)
    attach("HLM25-S00001IC", calibrations=pairs)
    d = zvpy.Device()
    assert list(d.get_calibration("digital lowgain")) == [1.0, 0.0]


def test_a_pair_that_is_not_a_number_is_refused_by_calibrated_collections(attach):
    pairs = list(PAIRS)
    pairs[1] = (float("nan"), 0.0)  # digital low gain, in force after power-up
    attach("HLM25-S00001IC", calibrations=pairs)
    d = zvpy.Device()
    assert numpy.isnan(d.get_calibration("digital lowgain")[0])  # read back as stored
    message = "stored calibration for its gain mode is not a finite number"
    for collect in (lambda: d.get_calibrated_data(10), lambda: d.get_calibrated_data(10, 1300),
                    lambda: d.open_stream().acquire(10)):
        with pytest.raises(zvpy.Error, match=message) as e:
            collect()
        assert e.value.err == 52
    stream = d.open_stream()
    stream.calibration_mode = "none"
    assert len(stream.acquire(10)) == len(d.get_raw_data(10)) == 10
    d.highgain = True  # the high-gain pair is a number
    assert numpy.isfinite(d.get_calibrated_data(10)).all()


def test_relative_calibration(attach):
    sim, d = open_unit(attach, "HLM25-S00001IC")
    assert list(d.get_rel_calibration(1550, "analog highgain")) == list(PAIRS[2])
    assert list(d.get_rel_calibration(wavelength="1550", type=2)) == list(PAIRS[2])
    r = float(numpy.float32(d.get_rel_responsivity(1300.0)))
    assert list(d.get_rel_calibration(1300.0, "analog highgain")) == [
        PAIRS[2][0] / r, PAIRS[2][1] / r]
    with pytest.raises(zvpy.Error) as e:
        d.get_rel_calibration(2000, "analog highgain")
    assert (e.value.err, e.value.errstr) == (48, "wavelength out of range")
    with pytest.raises(TypeError):
        d.get_rel_calibration(None)
    with pytest.raises(ValueError):
        d.get_rel_calibration("red")


def test_responsivity_at_the_peaks_and_outside_the_curves(attach):
    for code, curve in CURVES.items():
        sim, d = open_unit(attach, "HLM25-S00001%sC" % code)
        assert d.peak_responsivity == PEAKS[code]
        assert d.get_rel_responsivity(PEAKS[code]) == 1.0
        first, last = curve[0][0], curve[-1][1]
        assert d.get_rel_responsivity(first - 0.1) == 0.0
        assert d.get_rel_responsivity(last) == 0.0
        assert d.get_rel_responsivity(float("nan")) == 0.0
        sim.detach()


def test_responsivity_follows_the_curves(attach):
    for code, curve in CURVES.items():
        sim, d = open_unit(attach, "HLM25-S00001%sC" % code)
        for low, high, coefficients in curve:
            points = list(numpy.linspace(low, high, 9)[:-1]) + [numpy.nextafter(high, 0)]
            for nm in points:
                nm = float(nm)
                if nm == PEAKS[code]:
                    continue
                powers = numpy.array([nm ** k for k in range(len(coefficients) - 1, -1, -1)])
                # Tolerance from the size of the terms: the high sub-ranges cancel heavily.
                scale = numpy.sum(numpy.abs(numpy.array(coefficients) * powers))
                expected = numpy.polyval(coefficients, nm)
                got = d.get_rel_responsivity(nm)
                assert abs(got - expected) <= 1e-15 * scale + 1e-12 * abs(expected), (code, nm)
        sim.detach()
    # Sub-range boundaries belong to the upper piece, and the pieces meet.
    sim, d = open_unit(attach, "HLM25-S00001IC")
    assert d.get_rel_responsivity(1130) == pytest.approx(
        numpy.polyval(CURVES["I"][1][2], 1130.0), rel=1e-12)
    assert d.get_rel_responsivity(1662.3) == pytest.approx(
        numpy.polyval(CURVES["I"][3][2], 1662.3), rel=1e-7)
    for edge in (1130, 1600, 1662.3):
        assert d.get_rel_responsivity(edge) == pytest.approx(
            d.get_rel_responsivity(numpy.nextafter(edge, 0)), abs=0.02)


def test_responsivity_call_forms(sim):
    d = zvpy.Device()
    with pytest.raises(TypeError):
        d.get_rel_responsivity(wavelength=1550)
    with pytest.raises(TypeError):
        d.get_rel_responsivity()
    assert d.get_rel_responsivity("2000") == 0.0
    d.close()
    with pytest.raises(zvpy.Error) as e:
        d.get_rel_responsivity(1550)
    assert (e.value.err, e.value.errstr) == (50, "invalid device")
    for call in (d.get_calibration, lambda: d.get_rel_calibration(1550)):
        with pytest.raises(zvpy.Error) as e:
            call()
        assert (e.value.err, e.value.errstr) == (50, "invalid device")


def test_unknown_photodiode(attach):
    sim, d = open_unit(attach, "HLM25-S00001XC")
    not_configured = (52, "settings stored on the device are not configured correctly")
    with pytest.raises(zvpy.Error) as e:
        d.get_rel_responsivity(1550)
    assert (e.value.err, e.value.errstr) == not_configured
    with pytest.raises(zvpy.Error) as e:
        d.get_rel_calibration(1550, "digital highgain")
    assert (e.value.err, e.value.errstr) == not_configured
    assert list(d.get_calibration("digital highgain")) == list(PAIRS[0])
