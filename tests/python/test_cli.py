"""The zv command-line tool end to end against the simulated detector."""
import os
import pathlib
import signal
import subprocess
import sys
import textwrap
import time

import numpy
import pytest

from zvtool import capture_files, simulated
from zvtool.__main__ import build_parser, main

REPO = pathlib.Path(__file__).resolve().parents[2]


@pytest.fixture(autouse=True)
def no_simulated_detectors():
    import zvsim

    zvsim.detach_all()
    yield
    zvsim.detach_all()


def run(capsys, *argv):
    code = main(list(argv))
    out, err = capsys.readouterr()
    return code, out, err


def test_every_command_has_clear_help(capsys):
    with pytest.raises(SystemExit) as exit:
        main(["--help"])
    assert exit.value.code == 0
    out = capsys.readouterr().out
    for command in ("list", "info", "capture", "monitor", "scope", "show", "plot", "repair",
                    "bench", "setup"):
        assert command in out
        with pytest.raises(SystemExit):
            main([command, "--help"])
        text = capsys.readouterr().out
        assert "--simulate" in text and text.startswith("usage: zv " + command)


def test_list_shows_the_simulated_detector(capsys):
    code, out, _ = run(capsys, "list", "--simulate")
    assert code == 0
    header, row = out.strip().splitlines()
    assert header.split()[:2] == ["serial", "product"]
    assert row.split()[0] == simulated.SERIAL
    assert "80 MS/s" in row and "1.0.2" in row and row.endswith("super")


def test_list_without_detectors_says_so(capsys):
    code, out, _ = run(capsys, "list")
    assert code == 0 and "no HLM25 detector found" in out


def test_missing_detector_is_one_clear_line(capsys):
    code, _, err = run(capsys, "info")
    assert code == 1
    assert err.startswith("zv: no HLM25 detector found") and "--simulate" in err
    assert "Traceback" not in err


def test_info_has_what_a_bug_report_needs(capsys, project_version):
    code, out, _ = run(capsys, "info", "--simulate")
    assert code == 0
    for text in (f"serial            {simulated.SERIAL}", "product           HLM25 1550nm FC",
                 "sample rate       80000000 S/s", "firmware          1.0.2",
                 "peak wavelength   1550 nm", "digital highgain", "highgain", "antialias",
                 "libusb", "numpy", "python"):
        assert text in out, text
    assert any(line.split() == ["zv", project_version] for line in out.splitlines())
    # Balanced-only calibration types are not shown for a single-ended unit.
    assert "balanced digital" not in out


def test_raw_capture_to_npy_and_csv(tmp_path, capsys):
    npy, csv = tmp_path / "raw.npy", tmp_path / "raw.csv"
    code, out, _ = run(capsys, "capture", "5000", "--simulate", "--out", str(npy))
    assert code == 0
    samples = numpy.load(npy)
    assert samples.dtype == numpy.uint16 and len(samples) == 5000
    assert samples.max() <= 0x3FFF
    assert "5000 samples at 8e+07 S/s" in out and "mean ADC code" in out
    code, out, _ = run(capsys, "capture", "300", "--simulate", "--keep-port-bits",
                       "--out", str(csv))
    assert code == 0
    back = capture_files.read(csv)
    assert len(back) == 300 and back.dtype == numpy.float64
    assert csv.read_text().splitlines()[0] == "time_s,ADC code (code)"


def test_calibrated_capture_uses_the_stored_calibration(tmp_path, capsys):
    out_file = tmp_path / "power.npy"
    code, out, _ = run(capsys, "capture", "20000", "--simulate", "--calibrated",
                       "--out", str(out_file))
    assert code == 0
    power = numpy.load(out_file)
    assert power.dtype == numpy.float64
    gain, offset = simulated.CALIBRATIONS[1]  # low gain is the detector's default
    # The simulated signal swings around code 8000.
    assert abs(power.mean() - (8000 * gain + offset)) < 2500 * gain
    assert "µW" in out


def test_triggered_bursts_start_on_port_s_pulses(tmp_path, capsys):
    out_file = tmp_path / "bursts.npy"
    code, _, _ = run(capsys, "capture", "1000", "--simulate", "--trigger", "rising:S",
                     "--per-trigger", "100", "--keep-port-bits", "--out", str(out_file))
    assert code == 0
    bursts = numpy.load(out_file).reshape(10, 100)
    # Every burst starts at a rising edge of port S (bit 14 set on its first sample).
    assert numpy.all(bursts[:, 0] & 0x4000)


def test_contradictory_options_are_refused(capsys):
    for argv in (["capture", "10", "--simulate", "--filter", "rbj", "--calibrated"],
                 ["capture", "10", "--simulate", "--per-trigger", "5"],
                 ["capture", "0", "--simulate"],
                 ["capture", "10", "--simulate", "--trigger", "rising"],
                 ["capture", "10", "--simulate", "--out", "x.txt"]):
        code, _, err = run(capsys, *argv)
        assert code == 1 and err.startswith("zv: ") and "Traceback" not in err, argv


def test_plot_is_a_valid_png(tmp_path, capsys):
    png = tmp_path / "trace.png"
    code, _, _ = run(capsys, "capture", "50000", "--simulate", "--calibrated", "--plot", str(png))
    assert code == 0
    data = png.read_bytes()
    assert data.startswith(b"\x89PNG\r\n\x1a\n") and len(data) > 10_000
    import matplotlib.image

    image = matplotlib.image.imread(png)
    assert image.shape[0] > 300 and image.shape[1] > 500


def test_power_spectrum_finds_the_modulation():
    from zvtool.plotting import power_spectrum

    words = simulated.signal()[:200_000] & 0x3FFF
    frequencies, density = power_spectrum(words, simulated.SAMPLERATE)
    peak = frequencies[numpy.argmax(density[1:]) + 1]
    assert abs(peak - simulated.MODULATION_HZ) < simulated.SAMPLERATE / 4096
    # Parseval: the density integrates to the signal's variance.
    variance = numpy.var(words.astype(float))
    assert abs(density.sum() * (frequencies[1] - frequencies[0]) / variance - 1) < 0.05


def test_setup_installs_the_rule_into_a_chosen_directory(tmp_path, capsys):
    code, out, _ = run(capsys, "setup", "--yes", "--rules-dir", str(tmp_path))
    assert code == 0
    installed = tmp_path / "60-zv-hlm25.rules"
    assert installed.read_text() == (REPO / "udev" / "60-zv-hlm25.rules").read_text()
    assert "replug" in out
    code, out, _ = run(capsys, "setup", "--yes", "--rules-dir", str(tmp_path))
    assert code == 0 and "up to date" in out


def test_setup_asks_before_installing(tmp_path, capsys, monkeypatch):
    monkeypatch.setattr(sys, "stdin", open(os.devnull))
    code, out, _ = run(capsys, "setup", "--rules-dir", str(tmp_path))
    assert code == 1 and "--yes" in out
    assert not (tmp_path / "60-zv-hlm25.rules").exists()


# Under the sanitizers (ZV_SANITIZED: tests/reliability) allocating the 4 GB capture alone takes
# longer than the fixed delay before Ctrl-C.
@pytest.mark.skipif(bool(os.environ.get("ZV_SANITIZED")), reason="too slow under the sanitizers")
def test_ctrl_c_keeps_the_samples_and_leaves_a_usable_device():
    script = textwrap.dedent("""
        import sys
        from zvtool.__main__ import main
        print("starting", flush=True)
        code = main(["capture", "2000000000", "--simulate"])
        import zvpy
        from zvtool import simulated
        with zvpy.Device(serial=simulated.SERIAL) as device:
            print("after", code, len(device.get_raw_data(1000)), flush=True)
    """)
    env = dict(os.environ)
    child = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True, env=env)
    assert child.stdout.readline().strip() == "starting"
    time.sleep(1.5)
    child.send_signal(signal.SIGINT)
    out, err = child.communicate(timeout=60)
    assert "interrupted; keeping the" in err
    lines = out.strip().splitlines()
    assert lines[-1] == "after 130 1000"
    kept = int(lines[-2].split()[0])
    assert 0 < kept < 2_000_000_000


def test_help_shows_examples_and_units(capsys):
    for command, texts in (("capture", ("examples:", "zv capture 1000000 --out codes.npy", "µW",
                                        "Hz")),
                           ("setup", ("MODE 0666", "sudo zv setup --yes")),
                           ("bench", ("MS/s",))):
        with pytest.raises(SystemExit):
            main([command, "--help"])
        text = capsys.readouterr().out
        for expected in texts:
            assert expected in text, (command, expected)


def test_options_are_checked_before_the_detector_is_touched(capsys):
    for argv, message in (
            (["--trigger", "rising:A"], "PORT S or T, e.g. rising:S (not 'rising:A')"),
            (["--trigger", "up:S"], "MODE one of rising, falling, high, low"),
            # A partial last burst would stay zero in the file.
            (["--trigger", "rising:S", "--per-trigger", "300"], "divide the number of samples"),
            (["--trigger", "rising:S", "--per-trigger", "0"], "must be positive")):
        code, out, err = run(capsys, "capture", "1000", "--simulate", *argv)
        assert code == 1 and message in err and out == "", argv
    with pytest.raises(SystemExit):
        main(["capture", "10", "--simulate", "--filter", "bogus"])
    assert "invalid choice: 'bogus'" in capsys.readouterr().err


def test_outputs_and_contradictions_are_refused_before_the_detector_is_touched(tmp_path, capsys):
    import zvsim

    missing, folder = tmp_path / "missing", tmp_path / "taken.npy"
    folder.mkdir()
    # A billion samples: refused at once, not after seconds of capture thrown away.
    for argv, message in (
            (["--out", str(missing / "x.npy")], f"the folder {missing} does not exist"),
            (["--out", str(tmp_path / "data.txt")], "use a file name ending in .npy or .csv"),
            (["--out", str(folder)], "is a folder"),
            (["--out", ""], "--out needs a file name"),
            (["--plot", str(tmp_path / "p.txt")], "use a file name ending in .png"),
            (["--plot", str(missing / "p.png")], "does not exist"),
            (["--cutoff", "2e6"], "--cutoff needs a filter"),
            (["--filter", "none", "--cutoff", "2e6"], "--cutoff needs a filter"),
            (["--decimate", "1", "--cutoff", "2e6"], "--cutoff needs a filter"),
            (["--keep-port-bits", "--calibrated"], "--keep-port-bits applies to raw captures"),
            (["--keep-port-bits", "--units", "mW"], "--keep-port-bits applies to raw captures")):
        code, out, err = run(capsys, "capture", "1000000000", "--simulate", *argv)
        assert code == 1 and message in err and out == "", (argv, err)
        assert zvsim.devices() == [], argv
    # zv plot checks its picture's name before it reads the recording.
    code, _, err = run(capsys, "plot", str(tmp_path / "absent.h5"), "--out", "p.txt")
    assert code == 1 and "use a file name ending in .png" in err, err
    assert os.listdir(tmp_path) == ["taken.npy"]


def test_a_serial_that_matches_nothing_is_named(capsys):
    code, _, err = run(capsys, "info", "--simulate", "--serial", "NOPE")
    assert code == 1
    assert err.strip() == ("zv: no HLM25 detector whose serial number contains 'NOPE'; "
                           "'zv list' shows the attached ones")


def test_library_errors_show_their_code_once(capsys):
    code, _, err = run(capsys, "capture", "10", "--simulate", "--decimate", "-2")
    assert code == 1 and err.strip() == "zv: libzv error (48): invalid decimation factor"


def test_long_traces_are_drawn_as_an_envelope_that_keeps_every_spike():
    from zvtool.plotting import envelope

    samples = numpy.zeros(1_000_003)
    samples[777_777] = 5.0
    samples[12] = -3.0
    samples[-1] = -4.0
    low, high = envelope(samples, 2000)
    assert len(low) == 2000 and high.max() == 5.0 and low.min() == -4.0 and low[0] == -3.0
    width = len(samples) // 2000  # the last run takes the remainder
    assert numpy.argmax(high) * width <= 777_777 < (numpy.argmax(high) + 1) * width


def test_a_cutoff_outside_the_filters_range_is_refused_with_the_range(tmp_path, capsys):
    # The filter runs at the detector's 80 MS/s whatever the decimation.
    for argv, shown in ((["--filter", "rbj", "--cutoff", "0"], "0"),
                        (["--filter", "butterworth4", "--cutoff", "-1e6"], "-1e+06"),
                        (["--filter", "chebyI4", "--cutoff", "nan"], "nan"),
                        (["--filter", "fir", "--cutoff", "4e7"], "4e+07"),
                        (["--decimate", "8", "--cutoff", "1e12"], "1e+12")):
        code, out, err = run(capsys, "capture", "1000", "--simulate", "--out",
                             str(tmp_path / "f.npy"), *argv)
        assert code == 1 and out == "", (argv, err)
        assert err.startswith(f"zv: --cutoff {shown} Hz ") and "8e+07 S/s" in err, err
        assert "above 0 and below 4e+07 Hz" in err, err
    code, _, err = run(capsys, "record", str(tmp_path / "r.h5"), "--seconds", "1", "--simulate",
                       "--filter", "rbj", "--cutoff", "-1e6")
    assert code == 1 and "above 0 and below 4e+07 Hz" in err, err
    assert os.listdir(tmp_path) == []


def test_info_reports_what_the_detector_leaves_unset_or_stores_unusable(tmp_path, capsys):
    import zvsim

    nan, inf = float("nan"), float("inf")
    zvsim.attach(serial=simulated.SERIAL, firmware=(255, 255, 255), samplerate=0xFFFFFFFF,
                 adcbits=255, calibrations=((nan, 0.0), (2e-3, -inf), (0.8, -0.01), (8.0, -0.1),
                                            (0.0, 0.0), (0.0, 0.0)))
    code, out, err = run(capsys, "info", "--simulate")
    assert code == 0, err
    lines = out.splitlines()
    for label in ("sample rate", "ADC bits", "firmware"):
        assert f"{label:17} not set" in lines, label
    high, low = (line for line in lines if line.startswith("  digital"))
    assert high.split()[2] == "unusable:" and "gain nan," in high, high
    assert low.split()[2] == "unusable:" and "offset -inf " in low, low
    assert "analog highgain    gain 0.8  offset -0.01" in out
    # Nothing is captured from such a detector: it has no rate, and its calibration is unusable.
    code, out, err = run(capsys, "capture", "100", "--simulate", "--out", str(tmp_path / "x.csv"))
    assert code == 1 and "reports no sample rate" in err and out == "", err
    zvsim.detach_all()
    zvsim.attach(serial=simulated.SERIAL, calibrations=((0.0, 0.0), (2e-3, -inf), (0.8, -0.01),
                                                        (8.0, -0.1), (0.0, 0.0), (0.0, 0.0)))
    code, out, err = run(capsys, "capture", "100", "--simulate", "--calibrated")
    assert code == 1 and "calibration for its gain mode is not a finite number" in err, err
    assert out == ""
