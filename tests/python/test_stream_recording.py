"""Recording continuous streams: Stream.record, RawStream.record, start_recording and zv record,
on simulated detectors whose samples say where they came from. Read back sample-exact across
chunks, with the attributes, calibration, gaps and changes the stream had; ended by Ctrl-C,
SIGKILL and a full disk; every bad input refused with nothing left behind."""
import os
import re
import signal
import subprocess
import sys
import threading
import time
import warnings

import h5py
import numpy
import pytest

import zvpy
import zvsim
from zvtool import simulated

PACKETS_DISCARDED_AT_START = 4 * 16  # the engine discards its first four transfers
WORDS = 1 << 16
CODES = 1 << 14
CHUNK = 1 << 20  # the writer's chunk at 80 MS/s
MOUNT = "/bin/mount"


def first_word(sim):
    """Loop index of the first sample a stream started now delivers."""
    return sim.position + PACKETS_DISCARDED_AT_START * sim.packet_size // 2


def mount_tmpfs(folder, options):
    """Mounts a tmpfs on folder (root only); False when this process may not."""
    done = subprocess.run([MOUNT, "-t", "tmpfs", "-o", options, "tmpfs", str(folder)],
                          capture_output=True)
    return done.returncode == 0


def unmount(folder):
    subprocess.run(["/bin/umount", str(folder)], capture_output=True)


@pytest.fixture
def zv_record():
    """Starts `zv record ARGS --simulate` in a process of its own (the build tree's modules) and
    returns it once it says it records; kills what is left at the end of the test."""
    processes = []

    def start(*argv):
        process = subprocess.Popen([sys.executable, "-m", "zvtool", "record", *map(str, argv),
                                    "--simulate"], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True)
        processes.append(process)
        for line in process.stderr:  # a note on the disk's room may come first
            if line.startswith("zv: recording"):
                return process
        raise AssertionError(f"zv record ended without recording: {process.communicate()}")

    yield start
    for process in processes:
        if process.poll() is None:
            process.kill()
        process.communicate()


def wait_for_samples(path, at_least, seconds=30):
    """Follows a recording another process writes until it holds at_least samples."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if os.path.exists(path):
            try:
                with zvpy.Recording(path) as recording:
                    if len(recording) >= at_least:
                        return len(recording)
            except zvpy.Error:
                pass  # created but not yet a recording
        time.sleep(0.1)
    raise AssertionError(f"{path} did not reach {at_least} samples")


def test_raw_and_processed_streams_read_back_sample_exact_across_chunks(attach, tmp_path):
    sim = attach(samples=numpy.arange(WORDS, dtype=numpy.uint16))
    nsamples = 3 * CHUNK + 12345
    with zvpy.Device() as device:
        # Raw words with the port bits: each is its own position in the loop.
        with device.open_raw_stream(mask=False) as stream:
            start = first_word(sim)
            recorder = stream.record(tmp_path / "raw.h5", nsamples=nsamples)
            assert not stream.running  # record started it, and stopped it
        assert (recorder.samples_written, recorder.lost_total, recorder.running) == (
            nsamples, 0, False)
        expected = (start + numpy.arange(nsamples)) % WORDS
        with h5py.File(tmp_path / "raw.h5", "r") as oracle:
            samples = oracle["recording/samples"]
            assert samples.dtype == numpy.uint16 and samples.chunks == (CHUNK,)
            assert numpy.array_equal(samples[:], expected)
            assert len(oracle["recording/gaps"]) == 0

        # Processed, float32 and float64 streams (the latter stored as float32), downsampled by
        # 3 with a calibration that leaves the codes as they are.
        for dtype in ("float32", "float64"):
            with device.open_stream(dtype) as stream:
                stream.set_custom_calibration((1.0, 0.0))
                stream.set_downsampling(3)
                start = first_word(sim)
                stream.record(tmp_path / f"{dtype}.h5", nsamples=nsamples)
            with zvpy.Recording(tmp_path / f"{dtype}.h5") as recording:
                assert recording.kind == "processed" and recording.dtype == numpy.float32
                assert len(recording) == nsamples and recording.samplerate == 80e6 / 3
                assert recording.attrs["downsampling"] == 3 and recording.attrs["decimation"] == 1
                assert recording.attrs["calibration_pair"] == -1
                codes = (start + 3 * numpy.arange(nsamples)) % WORDS % CODES
                assert numpy.array_equal(recording.raw(), codes.astype(numpy.float32))


def test_the_file_carries_the_detector_and_gives_the_power_the_live_stream_gives(
        attach, tmp_path):
    loop = 4099  # random codes, a loop no multiple of anything the stream uses
    codes = numpy.random.default_rng(3).integers(0, CODES, loop, dtype=numpy.uint16)
    sim = attach(serial=simulated.SERIAL, calibrations=simulated.CALIBRATIONS, samples=codes)
    nsamples = 2 * loop + 100
    with zvpy.Device() as device:
        with device.open_raw_stream() as stream:
            raw_first = first_word(sim) % loop
            stream.record(tmp_path / "raw.h5", nsamples=nsamples)
        with device.open_stream("float32") as stream:
            live_first = first_word(sim) % loop
            stream.start()
            live = stream.read(nsamples, timeout=10).samples
            stream.stop()
        with device.open_stream("float32") as stream:
            stream.set_decimation(8)
            stream.set_calibration_units(-3)
            stream.record(tmp_path / "processed.h5", nsamples=1000)
        serial, product, firmware = device.serial, device.product, device.fwversion

    with zvpy.Recording(tmp_path / "raw.h5") as recording:
        a = recording.attrs
        assert (a["kind"], a["serial"], a["product"]) == ("raw", serial, product)
        assert a["firmware"] == "%d.%d.%d" % firmware and a["zv_version"] == "%d.%d.%d" % (
            zvpy.version())
        assert (a["samplerate"], a["device_samplerate"], a["adc_bits"]) == (80e6, 80e6, 14)
        assert (a["high_gain"], a["calibration_pair"], a["calibration_follows_gain"]) == (0, 1, 1)
        # The identity block stores them in single precision.
        assert numpy.array_equal(a["calibrations"], numpy.float32(simulated.CALIBRATIONS))
        assert (a["wavelength"], a["units"], a["filter"], a["port_bits_masked"]) == (
            1550, "uW", "none", 1)
        assert abs(a["first_sample_time"] - time.time()) < 60
        assert a["start_utc"].endswith("Z") and abs(a["start_time"] - time.time()) < 60
        # The same codes through the file's calibration and through a float32 stream.
        power = recording.power()
        shift = (live_first - raw_first) % loop
        numpy.testing.assert_allclose(power[shift:shift + len(live) - loop], live[:-loop],
                                      rtol=2e-7)
    with zvpy.Recording(tmp_path / "processed.h5") as recording:
        a = recording.attrs
        assert (a["filter"], a["decimation"], a["downsampling"], a["units"]) == (
            "butterworth4", 8, 1, "mW")
        assert recording.samplerate == 10e6 and a["cutoff"] == pytest.approx(4e6)
        numpy.testing.assert_allclose(recording.power(units="uW"), recording.raw() * 1000,
                                      rtol=1e-6)


def test_a_loss_marker_and_a_setting_change_land_at_their_stored_samples(attach, tmp_path):
    sim = attach(samples=numpy.arange(WORDS, dtype=numpy.uint16))
    packet = sim.packet_size // 2
    sim.inject("data_loss", transfer=PACKETS_DISCARDED_AT_START // 16 + 3, packet=2)
    with zvpy.Device() as device, device.open_raw_stream(mask=False) as stream:
        start = first_word(sim)
        with warnings.catch_warnings():
            warnings.simplefilter("error")  # a recording warns nothing: the file says it
            stream.record(tmp_path / "loss.h5", nsamples=2 * CHUNK)
    at = 3 * 16 * packet + 2 * packet
    with zvpy.Recording(tmp_path / "loss.h5") as recording:
        assert recording.gaps == [(at, packet, "device")]
        words = recording.raw().astype(numpy.int64)
    positions = numpy.arange(len(words)) + numpy.where(numpy.arange(len(words)) >= at, packet, 0)
    assert numpy.array_equal(words, (start + positions) % WORDS)

    # A detector in real time, its gain switched from another thread while the main thread
    # waits for the recording to end.
    # (Its first samples come after the four transfers the engine discards, 0.16 s.)
    zvsim.detach_all()
    attach(samplerate=10_000_000, realtime=True, fifo_samples=1 << 24)
    with zvpy.Device() as device, device.open_raw_stream() as stream:
        recorder = stream.start_recording(tmp_path / "gain.h5", seconds=1.0)
        switch = threading.Timer(0.6, device.set_highgain, (True,))
        switch.start()
        assert recorder.wait(timeout=30)
        switch.join()
        recorder.stop()
        # A stream stopped from another thread ends a recording before its limit: record says
        # so, and the file is closed with what came.
        threading.Timer(0.5, stream.stop).start()
        with pytest.raises(zvpy.Error, match="the stream was stopped before the recording was "
                           "complete; the recording .* holds its first"):
            stream.record(tmp_path / "cut.h5", seconds=600)
    with zvpy.Recording(tmp_path / "cut.h5") as recording:
        assert recording.state == "closed" and 0 < len(recording) < 10_000_000
    with zvpy.Recording(tmp_path / "gain.h5") as recording:
        assert len(recording) + sum(gap[1] for gap in recording.gaps) == 10_000_000
        (index, name, value), = recording.changes
        assert name == "highgain" and value == 1.0
        assert 0.1 * 1e7 < index < 0.9 * 1e7


def test_a_full_disk_stops_the_recording_with_the_file_whole_and_the_stream_stopped(
        attach, tmp_path):
    folder = tmp_path / "small"
    folder.mkdir()
    if not mount_tmpfs(folder, "size=24m"):
        pytest.skip("mounting a small tmpfs needs root (CAP_SYS_ADMIN)")
    try:
        sim = attach(samples=numpy.arange(WORDS, dtype=numpy.uint16))
        with zvpy.Device() as device, device.open_raw_stream(mask=False) as stream:
            # A stream the recording starts is stopped with it.
            start = first_word(sim)
            path = folder / "full.h5"
            with pytest.raises(zvpy.Error, match=re.escape(f"cannot write {path}: no space left")):
                stream.record(path, seconds=60)
            assert not stream.running
            with zvpy.Recording(path) as recording:
                assert recording.state == "closed" and len(recording) > 4 * CHUNK
                assert numpy.array_equal(recording.raw(),
                                         (start + numpy.arange(len(recording))) % WORDS)
            # A stream that was running before stays running, and readable once the recording
            # has given it back.
            os.unlink(path)
            (folder / "ballast").write_bytes(bytes(12 << 20))
            stream.start()
            recorder = stream.start_recording(folder / "again.h5")
            with pytest.raises(zvpy.Error, match="no space left on device"):
                recorder.wait(timeout=30)
            with pytest.raises(zvpy.Error, match="no space left on device"):
                recorder.stop()  # the failure stays
            assert stream.running and len(stream.read(1000, timeout=5)) == 1000
    finally:
        unmount(folder)


def test_every_bad_input_is_refused_and_leaves_nothing_behind(attach, tmp_path):
    attach()
    existing = tmp_path / "old.h5"
    existing.write_text("precious")
    with zvpy.Device() as device, device.open_raw_stream() as stream:
        with pytest.raises(FileExistsError, match=re.escape(f"cannot create {existing}: the file")):
            stream.record(existing, nsamples=10)
        missing = tmp_path / "no" / "such"
        with pytest.raises(zvpy.Error, match=re.escape(f"the folder {missing} does not exist")):
            stream.record(missing / "run.h5", nsamples=10)
        for limits, message in (({}, "needs seconds or nsamples"),
                                ({"nsamples": 0}, "positive"), ({"seconds": -1}, "positive")):
            with pytest.raises(ValueError, match=message):
                stream.record(tmp_path / "bad.h5", **limits)
        # A NUL would end the name early on the C side: "old.h5" here.
        with pytest.raises(ValueError, match="path must not contain a NUL character"):
            stream.record(f"{existing}\0.txt", nsamples=10, overwrite=True)
        assert not stream.running

        # One recorder per stream; the stream's own reads wait for it.
        with stream.start_recording(tmp_path / "first.h5") as recorder:
            assert not recorder.wait(timeout=0.2)  # no limit: it records until stopped
            with pytest.raises(zvpy.Error, match="one recorder per stream"):
                stream.start_recording(tmp_path / "second.h5")
            with pytest.raises(zvpy.Error, match="the stream is being recorded"):
                stream.read(10)
            with pytest.raises(zvpy.Error, match="the stream is being recorded"):
                next(stream.blocks(10))
            assert recorder.running and stream.running
        assert not recorder.running and not stream.running and recorder.samples_written > 0

        with device.open_stream() as processed:
            processed.set_calibration_mode("none")
            with pytest.raises(zvpy.Error, match="a processed recording stores power"):
                processed.record(tmp_path / "codes.h5", nsamples=10)
            assert not processed.running
    assert existing.read_text() == "precious"
    assert sorted(os.listdir(tmp_path)) == ["first.h5", "old.h5"]

    # A folder that cannot be written: read-only for root, no permission for others.
    locked = tmp_path / "locked"
    locked.mkdir()
    mounted = mount_tmpfs(locked, "ro,size=1m")
    if not mounted:
        locked.chmod(0o500)
    try:
        with zvpy.Device() as device, device.open_raw_stream() as stream:
            with pytest.raises(zvpy.Error, match=re.escape(f"cannot create {locked / 'run.h5'}")):
                stream.record(locked / "run.h5", nsamples=10)
        assert os.listdir(locked) == []
    finally:
        if mounted:
            unmount(locked)
        locked.chmod(0o700)


def test_zv_record_ends_cleanly_at_ctrl_c_and_a_killed_one_leaves_its_flushed_samples(
        tmp_path, zv_record):
    words = simulated.signal() & 0x3FFF
    # Ctrl-C: the file is closed with every sample recorded, the exit status 130. (A limit of
    # 20 s bounds the file should the signal go astray.)
    path = tmp_path / "interrupted.h5"
    process = zv_record(path, "--seconds", 20)
    wait_for_samples(path, 8_000_000)
    process.send_signal(signal.SIGINT)
    out, err = process.communicate(timeout=30)
    assert process.returncode == 130, err
    assert f"interrupted; {path} holds the" in err and f"wrote {path}" in out
    with zvpy.Recording(path) as recording:
        assert recording.state == "closed" and len(recording) >= 8_000_000
        assert f"{len(recording)} samples" in out

    # SIGKILL: the file holds every sample up to the last flush, for SWMR readers and after
    # zv repair for all.
    path = tmp_path / "killed.h5"
    process = zv_record(path, "--seconds", 20)
    seen = wait_for_samples(path, 16_000_000)
    process.send_signal(signal.SIGKILL)
    process.communicate(timeout=30)
    with h5py.File(path, "r", swmr=True) as oracle:
        samples = oracle["recording/samples"][:]
        gaps = oracle["recording/gaps"]["index"]
    assert len(samples) >= seen
    # Every sample up to the first loss (a real-time detector on a busy machine may lose some)
    # continues the simulated signal's loop from where the first one is.
    whole = samples[:gaps[0]] if len(gaps) else samples
    offset = next(o for o in numpy.flatnonzero(words == samples[0])
                  if numpy.array_equal(numpy.resize(numpy.roll(words, -o), 4096), samples[:4096]))
    assert numpy.array_equal(whole, numpy.resize(numpy.roll(words, -offset), len(whole)))
    with zvpy.Recording(path) as recording:
        assert recording.state == "unclosed" and len(recording) == len(samples)
    zvpy.repair_recording(path)
    with h5py.File(path, "r") as repaired:
        assert len(repaired["recording/samples"]) == len(samples)
