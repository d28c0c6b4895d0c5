"""Runs every benchmark of the build tree and prints its figures."""
import os
import subprocess
import sys

# (title, command); {build} is the build tree, {python} this interpreter, paths are relative to
# the repository.
BENCHMARKS = [
    ("dsp: filter kernels per state form and order, beside scipy.signal.sosfilt",
     ["{python}", "bench/dsp/run"]),
    ("acquisition: 100 million raw samples from the simulated detector",
     ["{python}", "bench/acquisition/run.py"]),
    ("stream: processing throughput beside numpy", ["{python}", "bench/stream/stream_bench.py"]),
    ("stream: acquisition from the simulated detector (C++)",
     ["{build}/bench/stream/stream_acquire_bench"]),
    ("stream: Stream.acquire of 100 million samples from the simulated detector",
     ["{python}", "bench/stream/acquire_bench.py"]),
    ("stream: continuous reads from Python (RawStream, Stream beside sosfilt, a counting thread)",
     ["{python}", "bench/stream/continuous_bench.py"]),
    ("recorder: a stream recorded and the writer alone (/dev/shm, local disk beside dd), zv plot "
     "of 10 GB",
     ["{python}", "bench/recorder/run.py"]),
    ("envelope: min/max columns per sample type, path and block shape",
     ["{build}/bench/envelope/envelope_bench"]),
    ("scope: frames per second, latency and processor time with the page in headless Chromium",
     ["{python}", "bench/scope/scope_bench.py"]),
]


def main():
    build = os.environ.get("ZV_BUILD_DIR", "build")
    failed = 0
    for title, command in BENCHMARKS:
        print(f"== {title}", flush=True)
        argv = [part.replace("{build}", build).replace("{python}", sys.executable) for part in command]
        failed |= subprocess.call(argv) != 0
    return failed


if __name__ == "__main__":
    sys.exit(main())
