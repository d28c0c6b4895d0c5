#!/usr/bin/python3
"""Recording benchmarks, with their targets:
  - recording a stream: RawStream.record from a simulated detector without a clock (it sends
    samples as fast as they are read), so the figure is the whole recorder's (acquisition thread,
    ring, recorder thread, writer, file system): to /dev/shm (at least 400 MB/s) and to the local
    disk (until on disk), there beside dd's figure for the same disk in the same run;
  - the writer's throughput (synthetic raw blocks, bench/recorder/recorder_bench) to /dev/shm
    (at least 400 MB/s) and to the local disk, there beside dd's figure for the same disk in the
    same run (both timed until the data is on the disk: dd conv=fdatasync, the writer + fsync);
  - zv plot of a large raw recording (10 GB in under a minute, peak memory under 500 MB). The
    recording is written (by recorder_bench) and deleted by the benchmark; right after writing it
    is largely still in the page cache, as a recording just made would be.
Each size shrinks, with a message, when df shows too little free space for it.

    ZV_BUILD_DIR=build PYTHONPATH=build:. bench/recorder/run.py [--shm-gb G] [--disk-gb G]
        [--plot-gb G] [--disk-dir DIR] [--stream-only]
"""
import argparse
import os
import pathlib
import re
import resource
import shutil
import subprocess
import sys
import tempfile
import time

SHM_TARGET_MBPS = 400.0
PLOT_TARGET_SECONDS, PLOT_TARGET_MB = 60.0, 500.0
GB = 1e9
# Free space left untouched on a file system the benchmark writes to.
MARGIN = 2 * GB


def free_bytes(folder):
    usage = shutil.disk_usage(folder)
    return usage.free


def fitted(folder, wanted_gb, what):
    """Bytes to write for `what` in folder: the wanted size, or what fits beside the margin."""
    wanted = wanted_gb * GB
    room = free_bytes(folder) - MARGIN
    if room >= wanted:
        return wanted
    scaled = max(0.0, room)
    print(f"  {what}: only {free_bytes(folder) / GB:.1f} GB free in {folder} (df); writing "
          f"{scaled / GB:.2f} GB instead of {wanted_gb:g} GB")
    return scaled


def writer(build, path, nbytes, *flags):
    """recorder_bench's line: (MB/s, MS/s, seconds)."""
    program = pathlib.Path(build) / "bench" / "recorder" / "recorder_bench"
    out = subprocess.run([str(program), str(path), str(int(nbytes // 2)), *flags],
                         capture_output=True, text=True)
    if out.returncode != 0:
        raise RuntimeError(out.stderr.strip())
    numbers = re.search(r"([\d.]+) s, ([\d.]+) MB/s, ([\d.]+) MS/s", out.stdout)
    return float(numbers.group(2)), float(numbers.group(3)), float(numbers.group(1))


def dd_figure(path, nbytes):
    """dd's MB/s writing nbytes of zeros to path, until they are on the disk."""
    count = max(1, int(nbytes // (4 << 20)))
    start = time.perf_counter()
    subprocess.run(["dd", "if=/dev/zero", f"of={path}", "bs=4M", f"count={count}",
                    "conv=fdatasync", "status=none"], check=True)
    seconds = time.perf_counter() - start
    os.unlink(path)
    return count * (4 << 20) / seconds / 1e6


def recorded(path, nbytes, sync):
    """(MB/s, MS/s) of RawStream.record of nbytes of raw samples to path, from before the
    recording starts until its file is closed (and with sync, on the disk)."""
    import zvpy
    import zvsim

    zvsim.detach_all()
    zvsim.attach()
    samples = int(nbytes // 2)
    try:
        with zvpy.Device() as device, device.open_raw_stream() as stream:
            start = time.perf_counter()
            recorder = stream.record(path, nsamples=samples, overwrite=True)
            if sync:
                descriptor = os.open(path, os.O_RDONLY)
                os.fsync(descriptor)
                os.close(descriptor)
            seconds = time.perf_counter() - start
        if recorder.lost_total:
            raise RuntimeError(f"{recorder.lost_total} samples lost from a detector that waits")
    finally:
        zvsim.detach_all()
        if os.path.exists(path):
            os.unlink(path)
    return 2 * samples / seconds / 1e6, samples / seconds / 1e6


def shm_and_disk(what, measure, shm_gb, disk_dir, disk_gb):
    """Prints measure(path, nbytes, sync)'s best (MB/s, MS/s) writing to /dev/shm, and to the
    local disk until on disk beside dd's figure for the same disk, taken in turns (a shared
    disk's speed drifts)."""
    shm = pathlib.Path("/dev/shm")
    if shm.is_dir():
        nbytes = fitted(shm, shm_gb, "/dev/shm")
        best = max(measure(shm / "zv-bench.h5", nbytes, False) for _ in range(3))
        verdict = "meets" if best[0] >= SHM_TARGET_MBPS else "below"
        print(f"{what} to /dev/shm, {nbytes / GB:.1f} GB raw, best of 3: {best[0]:8.1f} MB/s "
              f"{best[1]:8.1f} MS/s  ({verdict} {SHM_TARGET_MBPS:.0f} MB/s)")
    nbytes = fitted(disk_dir, disk_gb, "local disk")
    if nbytes < 0.1 * GB:
        print("local disk: too little free space to measure")
        return
    dd, best = 0.0, (0.0, 0.0)
    for _ in range(2):
        dd = max(dd, dd_figure(disk_dir / "dd.bin", nbytes))
        best = max(best, measure(disk_dir / "zv-bench.h5", nbytes, True))
    print(f"{what} to the local disk ({disk_dir}), {nbytes / GB:.1f} GB raw, until on disk, "
          f"best of 2: {best[0]:8.1f} MB/s {best[1]:8.1f} MS/s;  dd (conv=fdatasync) to the same "
          f"disk in turns with it: {dd:8.1f} MB/s")


def plot_benchmark(build, disk_dir, plot_gb):
    nbytes = fitted(disk_dir, plot_gb, "zv plot's recording")
    if nbytes < 0.1 * GB:
        print("zv plot: too little free space for a recording")
        return
    recording, png = disk_dir / "zv-plot-bench.h5", disk_dir / "zv-plot-bench.png"
    try:
        mbps, _, seconds = writer(build, recording, nbytes, "--keep")
        print(f"zv plot: wrote a {nbytes / GB:.1f} GB raw recording in {seconds:.1f} s "
              f"({mbps:.0f} MB/s, to the page cache and the disk)")
        start = time.perf_counter()
        subprocess.run([str(pathlib.Path(build) / "tools" / "zv"), "plot", str(recording),
                        "--out", str(png)], check=True, stdout=subprocess.DEVNULL)
        seconds = time.perf_counter() - start
        peak_mb = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024
        scaled = seconds * (10 * GB / nbytes)
        fast = "meets" if scaled < PLOT_TARGET_SECONDS else "below"
        small = "meets" if peak_mb < PLOT_TARGET_MB else "above"
        print(f"zv plot of {nbytes / GB:.1f} GB: {seconds:.1f} s ({scaled:.1f} s per 10 GB: "
              f"{fast} {PLOT_TARGET_SECONDS:.0f} s), peak memory {peak_mb:.0f} MB "
              f"({small} {PLOT_TARGET_MB:.0f} MB)")
    finally:
        for path in (recording, png):
            if path.exists():
                path.unlink()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--shm-gb", type=float, default=2.0)
    parser.add_argument("--disk-gb", type=float, default=2.0)
    parser.add_argument("--plot-gb", type=float, default=10.0)
    parser.add_argument("--stream-only", action="store_true",
                        help="only the recording of a stream (not the writer alone, not zv plot)")
    parser.add_argument("--disk-dir", type=pathlib.Path,
                        help="a folder on the local disk (default: a temporary one in the build "
                        "tree)")
    args = parser.parse_args()
    build = pathlib.Path(os.environ.get("ZV_BUILD_DIR", "build")).resolve()
    with tempfile.TemporaryDirectory(dir=args.disk_dir or build, prefix="bench-recorder-") as d:
        disk_dir = pathlib.Path(d)
        shm_and_disk("recording a stream", recorded, args.shm_gb, disk_dir, args.disk_gb)
        if not args.stream_only:
            shm_and_disk("writer alone",
                         lambda path, nbytes, sync: writer(build, path, nbytes,
                                                           *(["--fsync"] if sync else []))[:2],
                         args.shm_gb, disk_dir, args.disk_gb)
            plot_benchmark(build, disk_dir, args.plot_gb)
    return 0


if __name__ == "__main__":
    sys.exit(main())
