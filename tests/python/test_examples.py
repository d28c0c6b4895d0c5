"""The scripts in examples/ run as a user runs them (a separate interpreter, the build tree's
modules) and print what they promise, on the simulated detector."""
import os
import pathlib
import re
import subprocess
import sys

import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = REPO / "examples"
SIMULATED_NOTE = "(using a simulated HLM25"


def run_example(name, *args, cwd):
    env = dict(os.environ, PYTHONDONTWRITEBYTECODE="1")
    result = subprocess.run([sys.executable, str(EXAMPLES / name), *args], cwd=cwd, env=env,
                            capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "Traceback" not in result.stderr
    return result.stdout


def number_after(text, label):
    match = re.search(re.escape(label) + r"\s*([-0-9.]+)", text)
    assert match, f"{label!r} not in:\n{text}"
    return float(match.group(1))


def test_every_example_is_run_here():
    scripts = {p.name for p in EXAMPLES.glob("*.py")} - {"detector.py"}
    assert scripts == {"first_capture.py", "triggered_bursts.py", "decimated_stream.py",
                       "continuous_power.py", "ports_and_led.py", "test_without_hardware.py"}


@pytest.mark.parametrize("args", [(), ("--simulate",)], ids=["no detector attached", "--simulate"])
def test_first_capture(args, tmp_path):
    out = run_example("first_capture.py", *args, cwd=tmp_path)
    assert out.startswith(SIMULATED_NOTE)
    assert "sample rate 80 MS/s, photodiode peak at 1550 nm" in out
    assert "100000 samples = 1.250 ms of light" in out
    # The simulated laser: ADC code 8000 ± 2500 at 0.002 µW per code, offset -0.5 µW.
    assert abs(number_after(out, "mean") - 15.5) < 0.1
    assert abs(number_after(out, "max") - 20.5) < 0.5


def test_triggered_bursts_each_start_at_a_rising_edge(tmp_path):
    out = run_example("triggered_bursts.py", cwd=tmp_path)
    assert "10 bursts of 160 samples (2 µs each)" in out
    starts = re.findall(r"port S high at start: (\w+)", out)
    assert starts == ["True"] * 10
    assert "one triggered block of 1000 samples" in out


def test_decimated_stream_keeps_the_modulation(tmp_path):
    out = run_example("decimated_stream.py", cwd=tmp_path)
    assert "output rate 5 MS/s, filter butterworth4, cutoff 2 MHz" in out
    assert "dtype float32" in out
    assert abs(number_after(out, "mean") - 15.5) < 0.1
    # ±5 µW of modulation passes the 2 MHz filter; the settling samples are left out.
    assert 9 < number_after(out, "peak-to-peak") < 11
    assert "strongest frequency 1000.0 kHz" in out


def test_continuous_power_reads_joined_blocks(tmp_path):
    out = run_example("continuous_power.py", cwd=tmp_path)
    starts = [float(t) for t in re.findall(r"^\s*([0-9.]+) s  mean", out, re.MULTILINE)]
    assert starts == [round(0.1 * i, 2) for i in range(10)]  # joined: no gap, no overlap
    assert abs(number_after(out, "mean") - 15.5) < 0.2
    assert "1 s of power in 10 blocks, 0 samples lost" in out


def test_ports_and_led(tmp_path):
    out = run_example("ports_and_led.py", "--simulate", cwd=tmp_path)
    assert re.search(r"port S reads (high|low)", out)
    assert "ports A and B back low, LED off" in out


def test_the_test_without_hardware_passes_as_a_script_and_under_pytest(tmp_path):
    out = run_example("test_without_hardware.py", cwd=tmp_path)
    assert out.count(": passed") == 3
    assert "unplugged: libzv error (32)" in out
    env = dict(os.environ, PYTHONDONTWRITEBYTECODE="1")
    result = subprocess.run(
        [sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider",
         str(EXAMPLES / "test_without_hardware.py")],
        cwd=tmp_path, env=env, capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "3 passed" in result.stdout
