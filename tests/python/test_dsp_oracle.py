"""Cross-check of the Dsp filter designs against scipy.signal.

The C++ probe tests/cpp/dsp/dsp_probe (in the build tree named by ZV_BUILD_DIR) prints the
stages and responses of our designs and filters samples; scipy designs the same filters
independently (bilinear transform prewarped to the cutoff, digital design at fs = 1).
"""
import math
import os
import pathlib
import subprocess

import numpy as np
import pytest
from scipy import signal

BUILD_DIR = pathlib.Path(os.environ.get("ZV_BUILD_DIR", "build")).resolve()
PROBE = BUILD_DIR / "tests" / "cpp" / "dsp" / "dsp_probe"

ORDERS = range(1, 9)
CUTOFFS = [0.002, 0.03, 0.1, 0.25, 0.4, 0.49]
FREQUENCIES = np.concatenate([np.linspace(0.0, 0.5, 501), np.geomspace(1e-5, 0.01, 50)])


def probe(*args, stdin=b""):
    if not PROBE.exists():
        pytest.fail(f"{PROBE} is missing: build the tree named by ZV_BUILD_DIR with its tests")
    done = subprocess.run([str(PROBE), *map(str, args)], input=stdin, capture_output=True,
                          check=True, timeout=60)
    return done.stdout


def stages(*design):
    rows = [line.split() for line in probe("stages", *design).decode().splitlines()]
    return np.array(rows, dtype=float).reshape(-1, 6)


def response(*design):
    text = "\n".join(repr(float(f)) for f in FREQUENCIES).encode()
    values = np.array(probe("response", *design, stdin=text).decode().split(), dtype=float)
    return values[0::2] + 1j * values[1::2]


def scipy_response(sos):
    _, h = signal.sosfreqz(sos, worN=FREQUENCIES, fs=1.0)
    return h


def filtered(form, samples, *design):
    out = probe("filter", form, *design, stdin=np.asarray(samples, "<f8").tobytes())
    return np.frombuffer(out, dtype="<f8")


@pytest.mark.parametrize("order", ORDERS)
@pytest.mark.parametrize("cutoff", CUTOFFS)
def test_butterworth_response_matches_scipy(order, cutoff):
    ours = response("butterworth", order, cutoff)
    theirs = scipy_response(signal.butter(order, cutoff, output="sos", fs=1.0))
    assert np.max(np.abs(ours - theirs)) < 1e-9
    assert stages("butterworth", order, cutoff).shape[0] == (order + 1) // 2


@pytest.mark.parametrize("order", ORDERS)
@pytest.mark.parametrize("cutoff", CUTOFFS)
@pytest.mark.parametrize("ripple", [0.05, 1.0])
def test_chebyshev_response_matches_scipy(order, cutoff, ripple):
    ours = response("chebyshev", order, cutoff, ripple)
    theirs = scipy_response(signal.cheby1(order, ripple, cutoff, output="sos", fs=1.0))
    assert np.max(np.abs(ours - theirs)) < 1e-9


@pytest.mark.parametrize("cutoff", [0.01, 0.1, 0.25, 0.3, 0.45])
@pytest.mark.parametrize("q", [0.5, 1.0, 4.0])
def test_rbj_coefficients_follow_the_cookbook(cutoff, q):
    w0 = 2 * math.pi * cutoff
    alpha = math.sin(w0) / (2 * q)
    a0 = 1 + alpha
    expected = np.array([(1 - math.cos(w0)) / 2 / a0, (1 - math.cos(w0)) / a0,
                         (1 - math.cos(w0)) / 2 / a0, a0, -2 * math.cos(w0) / a0,
                         (1 - alpha) / a0])
    np.testing.assert_allclose(stages("rbj", cutoff, q)[0], expected, rtol=1e-14, atol=1e-15)


@pytest.mark.parametrize("max_order", [2, 4, 6, 8])
@pytest.mark.parametrize("order", [1, 2, 3, 8])
def test_parameterised_design_matches_scipy_at_cutoff_over_sample_rate(max_order, order):
    sample_rate, cutoff = 48000.0, 3000.0
    ours = response("params", max_order, sample_rate, order, cutoff)
    used_order = min(order, max_order)
    theirs = scipy_response(
        signal.butter(used_order, cutoff / sample_rate, output="sos", fs=1.0))
    assert np.max(np.abs(ours - theirs)) < 1e-9


def noise(count, seed=3):
    return np.random.default_rng(seed).standard_normal(count)


def test_transposed_direct_form_i_filters_like_sosfilt():
    # This form adds no denormal constant, so it equals sosfilt up to rounding.
    x = noise(20000)
    for design in (["butterworth", 8, 0.05], ["chebyshev", 5, 0.2, 0.05], ["rbj", 0.1, 1.0]):
        sos = stages(*design)
        sos[:, 3:] = [[1.0, a1, a2] for a1, a2 in sos[:, 4:]]
        np.testing.assert_allclose(filtered("tdf1", x, *design), signal.sosfilt(sos, x),
                                   rtol=0, atol=1e-12)


@pytest.mark.parametrize("form", ["df1", "df2", "tdf2"])
def test_forms_with_the_denormal_constant_stay_within_its_scale_of_sosfilt(form):
    x = noise(20000)
    theirs = signal.sosfilt(signal.butter(4, 0.1, output="sos", fs=1.0), x)
    ours = filtered(form, x, "butterworth", 4, 0.1)
    difference = np.max(np.abs(ours - theirs))
    assert difference < 1e-7
    assert np.max(np.abs(theirs)) > 0.5


def test_silence_through_direct_form_ii_is_tiny_but_not_all_zero():
    y = filtered("df2", np.zeros(1000), "butterworth", 2, 0.1)
    assert np.max(np.abs(y)) < 1e-8
    assert np.count_nonzero(y) > 0
    assert not np.any(filtered("tdf1", np.zeros(1000), "butterworth", 2, 0.1))
