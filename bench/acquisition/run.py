#!/usr/bin/python3
"""Collection throughput from the simulated detector, end to end and part by part.

Collects 100 million raw samples (by default) and prints million samples per second for:
  - the simulator's own generation (bench_sim_generate, the simulator's benchmark);
  - zv_collect with a counting sink and zv_get_raw_data in C++ (bench_raw_data);
  - Device.get_raw_data from Python, with the default mask, without it, and without it followed
    by an in-place mask (what the default would cost if the mask did not allocate a new array).
The target is 400 MS/s end to end on one core (five times the detector's 80 MS/s).

    ZV_BUILD_DIR=build PYTHONPATH=build bench/acquisition/run.py [--samples N] [--repeats R]
"""
import argparse
import os
import pathlib
import subprocess
import sys
import time

import numpy

TARGET_MSPS = 400.0


def run_program(build, name, *args):
    program = pathlib.Path(build) / "bench" / "acquisition" / name
    if not program.exists():
        print(f"{name}: not built ({program})")
        return 1
    return subprocess.call([str(program), *map(str, args)])


def best_seconds(repeats, collect):
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        collect()
        best = min(best, time.perf_counter() - start)
    return best


def report(what, samples, seconds):
    rate = samples / seconds / 1e6
    verdict = "meets" if rate >= TARGET_MSPS else "below"
    print(f"{what:<44} {seconds:8.3f} s  {rate:8.1f} MS/s  ({verdict} {TARGET_MSPS:.0f})")


def python_figures(samples, repeats):
    import zvpy
    import zvsim

    zvsim.detach_all()
    zvsim.attach()
    try:
        with zvpy.Device() as device:
            device.get_raw_data(1000)  # opened and warmed up
            print(f"Python, {samples} samples per call, best of {repeats}")
            report("Device.get_raw_data (mask=True, default)", samples,
                   best_seconds(repeats, lambda: device.get_raw_data(samples)))
            report("Device.get_raw_data(mask=False)", samples,
                   best_seconds(repeats, lambda: device.get_raw_data(samples, mask=False)))

            def masked_in_place():
                data = device.get_raw_data(samples, mask=False)
                numpy.bitwise_and(data, 0x3FFF, out=data)

            report("  same + in-place mask (for reference)", samples,
                   best_seconds(repeats, masked_in_place))
    finally:
        zvsim.detach_all()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--samples", type=int, default=100_000_000)
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()
    build = os.environ.get("ZV_BUILD_DIR", "build")

    print("-- simulator generation (bench_sim_generate)", flush=True)
    failed = run_program(build, "bench_sim_generate") != 0
    print("-- C++ (bench_raw_data)", flush=True)
    failed |= run_program(build, "bench_raw_data", args.samples, args.repeats) != 0
    print("-- Python", flush=True)
    python_figures(args.samples, args.repeats)
    return int(failed)


if __name__ == "__main__":
    sys.exit(main())
