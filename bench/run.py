"""Runs every benchmark of the build tree and prints its figures."""
import os
import subprocess
import sys

BENCHMARKS = []  # (title, command relative to the repository or build tree)
BENCHMARKS.append(("acquisition: 100 million raw samples from the simulated detector",
                   ["{python}", "bench/acquisition/run.py"]))


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
