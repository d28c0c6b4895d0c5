"""Recordings end to end: files written by libzv's writer (through the test program
write_recording, which writes a ramp whose every sample is its stream position) read back with
zvpy.Recording and, as an independent oracle, h5py; followed while they grow; killed mid-write and
repaired; shown and plotted by zv; and every bad file or range refused in one line."""
import argparse
import os
import signal
import subprocess

import h5py
import numpy
import pytest

import zvpy
from zvtool.__main__ import main
from zvtool.commands import record
from zvtool.errors import UsageError

RAW_PERIOD, FLOAT_PERIOD = 1 << 14, 1 << 24
# The test program's detector: pair i = (0.001 (i + 1) µW per code, -0.5 i µW), at the peak.
PAIRS = numpy.array([[0.001 * (i + 1), -0.5 * i] for i in range(6)])


@pytest.fixture
def writer(build_dir):
    """Runs write_recording with arguments; returns its Popen (stdout lines: "flushed N")."""
    started = []

    def start(*argv):
        process = subprocess.Popen([str(build_dir / "tests/cpp/recorder/write_recording"),
                                    *map(str, argv)], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True)
        started.append(process)
        return process

    yield start
    for process in started:
        if process.poll() is None:
            process.kill()
        process.wait()


def flushed(process, at_least=1):
    """Reads the writer's output until it has flushed at least `at_least` samples."""
    for line in process.stdout:
        if line.startswith("flushed") and int(line.split()[1]) >= at_least:
            return int(line.split()[1])
    raise AssertionError(f"the writer stopped: {process.stderr.read()}")


def expected_positions(length, block, gap_every, gap_lost):
    """Stream position of each stored sample when every gap_every-th block of `block` samples
    follows gap_lost lost ones."""
    stored = numpy.arange(length, dtype=numpy.int64)
    blocks = stored // block
    return stored + (blocks + 1) // gap_every * gap_lost


def run_zv(capsys, *argv):
    code = main([str(a) for a in argv])
    out, err = capsys.readouterr()
    return code, out, err


@pytest.mark.parametrize("kind", ["raw", "float32"])
def test_a_ramp_reads_back_exactly_with_its_attributes_tables_and_power(tmp_path, writer, kind):
    path = tmp_path / f"{kind}.h5"
    process = writer(path, "--kind", kind, "--samples", 2_500_000, "--block", 30_001,
                     "--gap-every", 4, "--gap-lost", 17, "--change-every", 5)
    assert process.wait() == 0, process.stderr.read()
    positions = expected_positions(2_500_000, 30_001, 4, 17)
    with zvpy.Recording(path) as recording, h5py.File(path, "r") as oracle:
        group = oracle["recording"]
        assert len(recording) == 2_500_000 == group["samples"].shape[0]
        assert recording.state == "closed" and recording.samplerate == 80e6
        values = recording.raw()
        if kind == "raw":
            assert values.dtype == numpy.uint16
            assert numpy.array_equal(values, positions % RAW_PERIOD)
        else:
            assert values.dtype == numpy.float32 and recording.kind == "processed"
            assert numpy.array_equal(values, (positions % FLOAT_PERIOD).astype(numpy.float32))
        assert numpy.array_equal(values, group["samples"][:])
        assert numpy.array_equal(numpy.concatenate(list(recording.chunks(1 << 20))), values)
        assert numpy.array_equal(recording.raw(1_048_575, 1_048_577), values[1_048_575:1_048_577])

        # Attributes: what the writer was given, as h5py reads them too.
        attrs = recording.attrs
        assert attrs["serial"] == group.attrs["serial"] == "HLM25-STEST1IC"
        assert attrs["adc_bits"] == 14 and attrs["format"] == "zv recording"
        assert numpy.array_equal(attrs["calibrations"], PAIRS)
        assert numpy.array_equal(group.attrs["calibrations"], PAIRS)
        assert attrs["units"] == "uW" and attrs["start_utc"] == "2023-11-14T22:13:20.000000Z"

        # Gaps sit before the first sample after them; h5py names their kinds from the file.
        gaps = recording.gaps
        starts = [4 * 30_001 * (k + 1) - 30_001 for k in range(len(gaps))]
        assert [g[0] for g in gaps] == starts and {g[1] for g in gaps} == {17}
        assert [g[2] for g in gaps[:2]] == ["device", "overflow"]
        assert numpy.array_equal(group["gaps"]["index"], starts)
        kinds = h5py.check_enum_dtype(group["gaps"].dtype["kind"])
        assert kinds == {"unknown": 0, "device": 1, "overflow": 2}
        changes = recording.changes
        assert changes[0] == (4 * 30_001 + 15_000, "highgain", 0.0)
        assert changes[1][1:] == ("highgain", 1.0)

        # Power: each stored pair, following the gain, applied in float32 as a stream does.
        power = recording.power(units="mW")
        high = numpy.ones(len(values), dtype=bool)
        for index, _, value in changes:
            high[index:] = value != 0
        if kind == "raw":
            for on, pair in ((True, 0), (False, 1)):
                scale, offset = (numpy.float32(v * numpy.float32(1e-3)) for v in PAIRS[pair])
                codes = values[high == on].astype(numpy.float32)
                assert numpy.array_equal(power[high == on], codes * scale + offset)
        else:  # stored values are already power, in µW
            assert numpy.array_equal(power, values * numpy.float32(1e-3))


def test_a_reader_follows_the_file_while_it_grows(tmp_path, writer):
    path = tmp_path / "growing.h5"
    process = writer(path, "--forever", "--rate", 2e6, "--block", 20_000)
    flushed(process, 100_000)
    with zvpy.Recording(path) as recording:
        assert recording.state == "writing"
        first = len(recording)
        assert first >= 100_000
        flushed(process, first + 200_000)
        assert recording.refresh() >= first + 200_000
        values = recording.raw(first - 10, len(recording))
        assert numpy.array_equal(values, numpy.arange(first - 10, len(recording)) % RAW_PERIOD)
        # A repair while the writer runs would corrupt the file: refused.
        with pytest.raises(zvpy.Error, match="a recording is writing it now"):
            zvpy.repair_recording(path)


def test_a_killed_writer_leaves_every_flushed_sample_and_zv_repair_opens_it_to_all(
        tmp_path, writer, capsys):
    path = tmp_path / "killed.h5"
    process = writer(path, "--forever", "--rate", 2e7, "--block", 100_000, "--gap-every", 9,
                     "--gap-lost", 5)
    held = flushed(process, 3_000_000)
    process.send_signal(signal.SIGKILL)
    process.wait()

    with pytest.raises(OSError, match="already open for write"):
        h5py.File(path, "r")  # what every HDF5 tool without SWMR meets
    positions = None
    with h5py.File(path, "r", swmr=True) as oracle:
        values = oracle["recording/samples"][:]
        assert len(values) >= held
        positions = expected_positions(len(values), 100_000, 9, 5)
        assert numpy.array_equal(values, positions % RAW_PERIOD)
    with zvpy.Recording(path) as recording:
        assert recording.state == "unclosed" and len(recording) == len(values)
        assert len(recording.gaps) == len(values) // 900_000

    code, out, _ = run_zv(capsys, "show", path)
    assert code == 0 and "not closed" in out and "zv repair" in out
    code, out, _ = run_zv(capsys, "repair", path)
    assert code == 0 and f"repaired {path}: {len(values)} samples" in out
    with h5py.File(path, "r") as repaired:
        assert numpy.array_equal(repaired["recording/samples"][:], positions % RAW_PERIOD)
    code, out, _ = run_zv(capsys, "repair", path)
    assert code == 0 and "nothing to repair" in out


def test_zv_show_and_plot_describe_and_draw_a_recording(tmp_path, writer, capsys):
    path = tmp_path / "run.h5"
    assert writer(path, "--samples", 1_000_000, "--gap-every", 30, "--gap-lost", 4,
                  "--change-every", 40).wait() == 0
    code, out, _ = run_zv(capsys, "show", path)
    assert code == 0
    for text in ("closed by its writer", "1000000 samples at 8e+07 S/s = 0.0125 s",
                 "HLM25-STEST1IC", "2023-11-14T22:13:20.000000Z", "3, 12 samples lost",
                 "at sample 290000 (0.003625 s): 4 lost (device)", "highgain = 0",
                 "µW = 0.001 × code + 0, at 1550 nm", "stored pair 5: 0.006 µW/code"):
        assert text in out, text
    import matplotlib.image

    for name, stretch in (("whole.png", ()), ("detail.png", ("--start", 0.001, "--stop", 0.0011))):
        png = tmp_path / name
        code, out, _ = run_zv(capsys, "plot", path, "--out", png, *stretch)
        assert code == 0 and out.strip() == f"wrote {png}"
        assert matplotlib.image.imread(png).shape[:2] == (1000, 900)


def write_bad_files(folder):
    """Files zv must refuse to read, by what is wrong with them."""
    text = folder / "notes.h5"
    text.write_text("not HDF5 at all\n")
    foreign = folder / "foreign.h5"
    with h5py.File(foreign, "w") as f:
        f["data"] = numpy.arange(10)
    return {"not HDF5": text, "HDF5 without a recording": foreign, "a folder": folder}


def test_every_bad_file_and_range_is_refused_in_one_line(tmp_path, writer, capsys):
    good = tmp_path / "good.h5"
    assert writer(good, "--samples", 100_000).wait() == 0
    truncated = tmp_path / "truncated.h5"
    truncated.write_bytes(good.read_bytes()[:os.path.getsize(good) // 2])
    bad = write_bad_files(tmp_path)
    expected = {"not HDF5": "is not a zv recording: it is not an HDF5 file",
                "HDF5 without a recording": "is not a zv recording: it has no group 'recording'",
                "a folder": "it is a folder"}
    bad["truncated"], expected["truncated"] = truncated, "the file is damaged or truncated"
    for what, path in bad.items():
        with pytest.raises(zvpy.Error, match=expected[what]) as error:
            zvpy.Recording(path)
        assert str(path) in str(error.value) and "\n" not in str(error.value), what
        for command in (("show", path), ("plot", path, "--out", tmp_path / "x.png")):
            code, out, err = run_zv(capsys, *command)
            assert code == 1 and err.count("\n") == 1 and err.startswith("zv: ") and out == ""
            assert expected[what] in err and str(path) in err, (what, err)
    with pytest.raises(FileNotFoundError):
        zvpy.Recording(tmp_path / "missing.h5")
    code, _, err = run_zv(capsys, "show", tmp_path / "missing.h5")
    assert code == 1 and err == f"zv: no such file: {tmp_path / 'missing.h5'}\n"
    assert not (tmp_path / "x.png").exists()

    with zvpy.Recording(good) as recording:
        with pytest.raises(zvpy.Error, match=f"samples 99999 to 100001 are outside {good}"):
            recording.raw(99_999, 100_001)
        with pytest.raises(ValueError, match="0 <= start <= stop"):
            recording.power(10, 5)
        with pytest.raises(zvpy.Error, match="unknown power unit 'kW'"):
            recording.power(0, 10, units="kW")
    for stretch, message in ((("--start", 0.5), "--start 0.5 s is outside the recording, which "
                              "lasts 0.00125 s"), (("--start", 1e-4, "--stop", 1e-4),
                                                   "fewer than 2 samples"),
                             (("--units", "kW"), "unknown power unit 'kW'")):
        code, _, err = run_zv(capsys, "plot", good, "--out", tmp_path / "y.png", *stretch)
        assert code == 1 and message in err and err.count("\n") == 1, err
    assert not (tmp_path / "y.png").exists()


def test_record_refuses_what_cannot_become_a_recording_before_touching_anything(tmp_path):
    parser = argparse.ArgumentParser()
    record.add_arguments(parser)
    existing = tmp_path / "old.h5"
    existing.write_text("precious")
    refused = {
        (str(existing), "--seconds", "1"): "exists; add --force",
        (str(tmp_path / "no" / "run.h5"), "--seconds", "1"): "does not exist",
        (str(tmp_path), "--samples", "5"): "is a folder",
        (str(tmp_path / "a.h5"), "--seconds", "0"): "--seconds must be positive",
        (str(tmp_path / "a.h5"), "--samples", "9", "--units", "kW"): "unknown power unit",
        (str(tmp_path / "a.h5"), "--seconds", "1", "--filter", "none", "--cutoff", "2e6"):
            "--cutoff needs a filter",
    }
    for argv, message in refused.items():
        with pytest.raises((UsageError, ValueError), match=message):
            record.check(parser.parse_args(argv))
    assert existing.read_text() == "precious" and sorted(os.listdir(tmp_path)) == ["old.h5"]
    assert record.check(parser.parse_args([str(existing), "--seconds", "1", "--force"])) == "raw"
    assert record.check(parser.parse_args([str(tmp_path / "b.h5"), "--samples", "9",
                                           "--decimate", "8"])) == "processed"
    with pytest.raises(SystemExit):  # one of --seconds and --samples, never both
        parser.parse_args([str(tmp_path / "c.h5"), "--seconds", "1", "--samples", "5"])
