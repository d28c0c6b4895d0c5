"""Processing speed of the stream's filter mode "none" against numpy's forms of the same
calibration, (raw & 0x3FFF) * scale + offset into float32, measured in the same run.

Runs the C++ stream_bench (from $ZV_BUILD_DIR, default build/) for float32 and float64, then
times numpy on the same amount of data, and prints each figure and the ratio of the stream's
float32 speed to numpy's best. Every figure is the best of several rounds.
"""
import os
import re
import subprocess
import sys
import time

import numpy as np

SAMPLES = 100_000_000  # per round
ROUNDS = 7
SCALE = np.float32(0.0123)
OFFSET = np.float32(-4.5)


def best_rate(function, samples, rounds=ROUNDS):
    """Best rate in million samples per second of function(), which processes samples."""
    best = 0.0
    for _ in range(rounds):
        start = time.perf_counter()
        function()
        elapsed = time.perf_counter() - start
        best = max(best, samples / elapsed / 1e6)
    return best


def numpy_forms():
    """Million samples per second of numpy's forms, by name. Each form gets its inputs hot in the
    cache and reused, as the stream's benchmark reuses its raw block, at several sizes."""
    rng = np.random.default_rng(1)
    results = {}
    for size in (1 << 16, 1 << 20):
        raw = rng.integers(0, 1 << 16, size=size, dtype=np.uint16)
        repeats = max(1, SAMPLES // size)

        def expression():
            for _ in range(repeats):
                ((raw & 0x3FFF) * SCALE + OFFSET).astype(np.float32, copy=False)

        results[f"expression on {size}"] = best_rate(expression, repeats * size)
    for chunk in (16384, 65536, 262144):
        raw = rng.integers(0, 1 << 16, size=chunk, dtype=np.uint16)
        codes = np.empty(chunk, dtype=np.uint16)
        out = np.empty(chunk, dtype=np.float32)
        repeats = max(1, SAMPLES // chunk)

        def chunked():
            for _ in range(repeats):
                np.bitwise_and(raw, 0x3FFF, out=codes)
                np.multiply(codes, SCALE, out=out)
                np.add(out, OFFSET, out=out)

        results[f"out= arrays, chunks of {chunk}"] = best_rate(chunked, repeats * chunk)
    return results


def stream_rates(build, length):
    """Million samples per second of the filter mode "none" by element type, writing into an
    output block of length elements."""
    program = os.path.join(build, "bench", "stream", "stream_bench")
    command = [program, "--samples", str(SAMPLES), "--rounds", str(ROUNDS),
               "--length", str(length), "none"]
    output = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    rates = {}
    for line in output.splitlines():
        match = re.match(r"(\S+) (float32|float64) .*msps=([\d.]+)", line)
        if match:
            rates[match.group(2)] = float(match.group(3))
    return rates


def main():
    build = os.environ.get("ZV_BUILD_DIR", "build")
    # Output blocks of the size acquire's supply hands out.
    length = 131072
    stream = stream_rates(build, length)
    forms = numpy_forms()
    for type_name, rate in stream.items():
        print(f"stream none {type_name}, output block {length}: {rate:8.1f} M samples/s")
    for name, rate in forms.items():
        print(f"numpy {name}: {rate:8.1f} M samples/s")
    best_numpy = max(forms.values())
    ratio = stream["float32"] / best_numpy
    print(f"stream float32 / best numpy: {ratio:.2f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())
