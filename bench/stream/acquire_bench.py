#!/usr/bin/python3
"""Stream.acquire end to end from the simulated detector: speed and peak memory.

Each case runs in a fresh process (a clean peak-memory mark, and a first call that meets fresh
memory as a user's first acquisition does) which opens the simulated detector, makes a stream with
the case's settings and collects 100 million input samples (by default) per call. Printed per
case: the first call and the best of the following calls in seconds and million input samples
per second against the case's target, and how far the process's peak resident memory (VmHWM)
rose beyond the result array during the calls.

    ZV_BUILD_DIR=build PYTHONPATH=build bench/stream/acquire_bench.py [--samples N] [--rounds R]
"""
import argparse
import subprocess
import sys
import time

# (filter mode, dtype, decimation factor or 0, target in million input samples per second)
CASES = [
    ("none", "float32", 0, 400.0),
    ("butterworth4", "float64", 0, 140.0),
    ("none", "float32", 10, 140.0),
    ("none", "float64", 10, 140.0),
]


def peak_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    raise RuntimeError("no VmHWM in /proc/self/status")


def run_case(mode, dtype, decimation, target, samples, rounds):
    """Runs one case in this process and prints its line."""
    import zvpy
    import zvsim

    zvsim.detach_all()
    zvsim.attach()
    try:
        with zvpy.Device() as device, device.open_stream(dtype) as stream:
            stream.filter = mode
            if decimation:
                stream.set_decimation(decimation)
            outputs = samples // stream.downsampling
            stream.acquire(1000)  # warmed up: opened, calibration read
            before = peak_kib()
            times = []
            for _ in range(rounds):
                start = time.perf_counter()
                data = stream.acquire(outputs)
                times.append(time.perf_counter() - start)
                array_kib = data.nbytes / 1024
                del data
            extra_kib = peak_kib() - before - array_kib
    finally:
        zvsim.detach_all()
    first, best = times[0], min(times[1:] or times)
    rate = samples / best / 1e6
    name = f"{mode} {dtype}" + (f" decimation={decimation}" if decimation else "")
    verdict = "meets" if rate >= target else "below"
    print(f"{name:<32} first {first:6.3f} s {samples / first / 1e6:7.1f} MS/s | "
          f"best {best:6.3f} s {rate:7.1f} MS/s ({verdict} {target:.0f}) | "
          f"peak: array {array_kib / 1024:6.1f} MiB + {extra_kib / 1024:5.1f} MiB", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--samples", type=int, default=100_000_000)
    parser.add_argument("--rounds", type=int, default=4)
    parser.add_argument("--case", type=int, help=argparse.SUPPRESS)  # run one case here
    args = parser.parse_args()
    if args.case is not None:
        run_case(*CASES[args.case], args.samples, args.rounds)
        return 0
    print(f"Stream.acquire, {args.samples} input samples per call, {args.rounds} calls per case "
          "(the first on fresh memory)", flush=True)
    failed = 0
    for index in range(len(CASES)):
        failed |= subprocess.call([sys.executable, __file__, "--case", str(index),
                                   "--samples", str(args.samples),
                                   "--rounds", str(args.rounds)]) != 0
    return failed


if __name__ == "__main__":
    sys.exit(main())
