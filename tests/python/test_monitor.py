"""zv monitor: its statistics against numpy, one reading for scripts, and the live view in a
terminal (tmux) with its keys and a narrow layout."""
import os
import re
import shlex
import shutil
import subprocess
import time

import numpy
import pytest

from zvtool.__main__ import main
from zvtool.live.power import Moments


@pytest.fixture(autouse=True)
def no_simulated_detectors():
    import zvsim

    zvsim.detach_all()
    yield
    zvsim.detach_all()


def test_statistics_joined_block_by_block_match_numpy():
    """A steady power with a small ripple, in single precision: mean, spread and extremes of
    blocks of every size joined one by one are those of all samples at once."""
    rng = numpy.random.default_rng(3)
    x = (1234.5 + rng.normal(0, 0.02, 3_000_001)).astype(numpy.float32)
    x[1_234_567] = 1300.0
    total = Moments()
    for start, stop in ((0, 1), (1, 1000), (1000, 2_000_000), (2_000_000, len(x))):
        total.add(Moments.of(x[start:stop]))
    exact = x.astype(numpy.float64)
    assert total.count == len(x)
    assert total.mean == pytest.approx(exact.mean(), rel=1e-12)
    assert total.std == pytest.approx(exact.std(), rel=1e-4)
    assert (total.low, total.high) == (x.min(), 1300.0)


def test_once_prints_one_reading(capsys):
    assert main(["monitor", "--simulate", "--once", "--interval", "0.05"]) == 0
    line, = capsys.readouterr().out.splitlines()
    fields = re.match(r"power (\S+) µW  min (\S+) µW  max (\S+) µW  std (\S+) µW  lost 0  "
                      r"\(4000000 samples\)$", line)
    assert fields, line
    power, low, high, std = map(float, fields.groups())
    assert low < power < high and 0 < std < high - low
    assert main(["monitor", "--simulate", "--once", "--units", "dBm"]) == 0
    assert re.match(r"power -\d+\.\d\d dBm  min ", capsys.readouterr().out)
    assert main(["monitor", "--simulate", "--once", "--interval", "20"]) == 1
    assert "--interval takes 0.01 to 10 seconds" in capsys.readouterr().err


def test_live_view_in_a_terminal(build_dir, tmp_path):
    if shutil.which("tmux") is None:
        pytest.skip("tmux is not installed (Debian package tmux)")
    # A preloaded sanitizer runtime (the sanitized test run's) goes to zv, not to tmux.
    preload = os.environ.get("LD_PRELOAD")
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}

    def tmux(*words):
        return subprocess.run(["tmux", "-S", str(tmp_path / "tmux.socket"), *words], env=env,
                              check=True, capture_output=True, text=True).stdout

    def wait_for(condition, what, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            screen = tmux("capture-pane", "-p", "-t", "monitor")
            if condition(screen):
                return screen
            time.sleep(0.1)
        raise AssertionError(f"no {what} on the screen:\n{screen}")

    def since_reset(text):
        found = re.search(r"since reset \(([\d.]+) s, ([\d.]+) M samples\)", text)
        return found and (float(found.group(1)), float(found.group(2)))

    command = (f"{'env LD_PRELOAD=' + shlex.quote(preload) + ' ' if preload else ''}"
               f"{build_dir / 'tools' / 'zv'} monitor --simulate; echo EXIT=$?; sleep 60")
    tmux("new-session", "-d", "-s", "monitor", "-x", "100", "-y", "16", command)
    try:
        first = wait_for(since_reset, "reading")
        assert "HLM25-SSIM01IC" in first and re.search(r"\d+\.\d+ µW", first)
        seconds, samples = since_reset(first)
        later = wait_for(lambda t: since_reset(t) and since_reset(t)[1] > samples + 10,
                         "changing reading")
        assert since_reset(later)[0] > seconds
        tmux("send-keys", "-t", "monitor", "r")
        wait_for(lambda t: since_reset(t) and since_reset(t)[0] < 0.5, "reset statistics")
        tmux("send-keys", "-t", "monitor", "h")
        wait_for(lambda t: "(held)" in t, "held scale")
        tmux("resize-window", "-t", "monitor", "-x", "30")
        narrow = wait_for(lambda t: t.startswith(tuple("-0123456789")) and "min " in t,
                          "narrow layout")
        assert max(map(len, narrow.splitlines())) <= 30
        tmux("send-keys", "-t", "monitor", "q")
        ended = wait_for(lambda t: "EXIT=" in t, "end")
        assert "EXIT=0" in ended and "Traceback" not in ended
    finally:
        subprocess.run(["tmux", "-S", str(tmp_path / "tmux.socket"), "kill-server"], env=env,
                       capture_output=True)
