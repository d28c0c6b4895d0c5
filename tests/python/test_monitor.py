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


class ScriptedTerminal:
    """Stands in for the terminal of the live view: keeps what is drawn and calls `step` with
    each picture; step returns the keys to press."""

    def __init__(self, step):
        self.step, self.keys_due = step, ""

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        return False

    def width(self):
        return 100

    def draw(self, lines):
        self.keys_due = self.step("\n".join(lines))

    def keys(self):
        return self.keys_due


def test_live_view_waits_for_an_unplugged_detector_and_goes_on(monkeypatch):
    """Unplugged while the view runs: the screen says so, and readings go on (with the gain set
    before) once the detector is plugged in again."""
    import zvpy
    from zvtool import simulated
    from zvtool.commands import monitor
    from zvtool.live.meter import Meter
    from zvtool.live.source import StreamSource

    detectors = [simulated.attach(realtime=True)]
    source = StreamSource(zvpy.Device(serial=simulated.SERIAL))
    source.configure("highgain", True)
    source.start()
    meter = Meter(since=time.monotonic())
    seen = {}
    deadline = time.monotonic() + 60

    def step(screen):
        if time.monotonic() > deadline:
            return "q"  # the assertions below say what never happened
        if "unplugged" not in screen and "count_before" not in seen and meter.reading:
            seen["count_before"] = meter.total.count
            detectors[0].detach()
        elif "waiting for it" in screen and "waiting" not in seen:
            seen["waiting"] = screen
            detectors.append(simulated.attach(realtime=True))
        elif "waiting" in seen and "unplugged" not in screen and (
                meter.total.count > seen["count_before"] + 10_000_000):
            seen["back"] = True
            return "q"
        return ""

    monkeypatch.setattr(monitor, "Terminal", lambda: ScriptedTerminal(step))
    try:
        monitor.take_reading(source, meter, 0.05)
        monitor.watch(source, meter, 0.05, "zv monitor  ")
    finally:
        source.close()
    assert "HLM25-SSIM01IC unplugged or not answering" in seen["waiting"]
    assert seen.get("back") and detectors[1].features["highgain"] == 1
