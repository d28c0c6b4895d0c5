#!/usr/bin/python3
"""Soak run of the recorder: a lab's long recording, for a given time.

A real-time simulated detector at 80 MS/s streams raw words, which RawStream.record writes to a
file on the local disk (160 MB/s) while the main thread waits and reports each minute: samples
written against what the sample rate gives, loss events, processor time of the whole process
(the simulated detector sampling in real time, the acquisition thread and the recorder's
thread) as a share of one core, and resident memory, which must stay flat after the first second
(the ring buffer, the recorder's read buffer and HDF5's caches fill in it; the file's length must
not show in it). The time shrinks, with a message, when the disk has too little free space; the
file is deleted at the end. Exits non-zero on any loss, a failure, or memory that grows.

    ZV_BUILD_DIR=build PYTHONPATH=build tests/reliability/soak_record.py [seconds] [folder]
"""
import os
import shutil
import sys
import tempfile
import time

import zvpy
import zvsim
from soak import MEMORY_SLACK_MIB, REPORT_EVERY_SECONDS, MemoryWatch, cpu_seconds, priority_note

SAMPLERATE = 80_000_000
BYTES_PER_SAMPLE = 2
# Free space left on the disk beside the recording (others may need the disk meanwhile): a tenth
# of the file system, at least 10 GB.
MARGIN_FRACTION, MARGIN_BYTES = 0.1, 10 * 10**9
# Check-ins with the recording, in seconds.
POLL_SECONDS = 1.0


def fitted_seconds(seconds, folder):
    """The seconds whose recording fits on folder's disk beside the margin."""
    usage = shutil.disk_usage(folder)
    free = usage.free
    margin = max(MARGIN_BYTES, MARGIN_FRACTION * usage.total)
    room = max(0, free - margin) / (SAMPLERATE * BYTES_PER_SAMPLE)
    if room >= seconds:
        return seconds
    print(f"soak-record: {seconds:g} s at {SAMPLERATE * BYTES_PER_SAMPLE / 1e6:g} MB/s need "
          f"{seconds * SAMPLERATE * BYTES_PER_SAMPLE / 1e9:.1f} GB and {folder} has "
          f"{free / 1e9:.1f} GB free, of which {margin / 1e9:.0f} GB stay free: recording "
          f"{room:.0f} s instead", flush=True)
    return float(int(room))


def main(argv):
    seconds = float(argv[1]) if len(argv) > 1 else 600.0
    parent = argv[2] if len(argv) > 2 else os.environ.get("ZV_BUILD_DIR", ".")
    folder = tempfile.mkdtemp(prefix="soak-record-", dir=parent)
    path = os.path.join(folder, "soak.h5")
    try:
        seconds = fitted_seconds(seconds, folder)
        if seconds < 10:
            print("soak-record: too little free space for a meaningful run", flush=True)
            return 1
        return soak(path, seconds)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def soak(path, seconds):
    print(f"soak-record: {seconds:g} s, real-time detector at {SAMPLERATE / 1e6:g} MS/s, raw, to "
          f"{path}; {priority_note()}", flush=True)
    zvsim.detach_all()
    sim = zvsim.attach(realtime=True, samplerate=SAMPLERATE)
    with zvpy.Device() as device, device.open_raw_stream() as stream:
        start = time.monotonic()
        cpu_start = cpu_seconds()
        recorder = stream.start_recording(path, seconds=seconds)
        watch = MemoryWatch()
        next_report = REPORT_EVERY_SECONDS
        losses_seen = 0
        while not recorder.wait(timeout=POLL_SECONDS):
            elapsed = time.monotonic() - start
            memory = watch.sample(elapsed)
            if recorder.lost_total != losses_seen:
                losses_seen = recorder.lost_total
                print(f"  {elapsed:8.1f} s: {losses_seen} samples lost so far", flush=True)
            if elapsed >= next_report:
                written = recorder.samples_written
                share = written / (elapsed * SAMPLERATE)
                cpu = (cpu_seconds() - cpu_start) / elapsed
                print(f"  {elapsed:8.1f} s: {written} samples written ({share:.1%} of the rate), "
                      f"{recorder.lost_total} lost, processor {cpu:.0%} of a core, memory "
                      f"{memory:.1f} MiB", flush=True)
                next_report += REPORT_EVERY_SECONDS
        recorder.stop()
        elapsed = time.monotonic() - start
        cpu = (cpu_seconds() - cpu_start) / elapsed
    with zvpy.Recording(path) as recording:
        stored, gaps = len(recording), recording.gaps
    complete = stored + sum(gap[1] for gap in gaps) == int(seconds * SAMPLERATE)
    kinds = ", ".join(f"{sum(g[2] == kind for g in gaps)} {kind}"
                      for kind in sorted({g[2] for g in gaps}))
    print(f"soak-record: {stored} samples ({stored * BYTES_PER_SAMPLE / 1e9:.1f} GB) in "
          f"{elapsed:.1f} s; {len(gaps)} loss events{f' ({kinds})' if gaps else ''} "
          f"({recorder.lost_total} samples); detector "
          f"dropped {sim.dropped}; the file {'covers' if complete else 'does NOT cover'} "
          f"{seconds:g} s of stream; processor {cpu:.0%} of one core (the simulated detector's "
          f"sampling included); {watch.summary()}; {priority_note()}", flush=True)
    zvsim.detach_all()
    failed = bool(gaps) or not complete or watch.growth > MEMORY_SLACK_MIB
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
