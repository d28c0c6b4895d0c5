"""The README's demo: a processed capture with a plot, on the simulated detector when no real
one is attached."""
import sys

import zvpy
from zvtool.__main__ import main as zv


def main():
    print(f"zvpy {'.'.join(map(str, zvpy.version()))}")
    simulate = not zvpy.list_devices()
    if simulate:
        print("no detector attached: using a simulated HLM25 (a 1 MHz modulated laser with noise)")
    argv = ["capture", "200000", "--filter", "butterworth4", "--cutoff", "5e6",
            "--decimate", "4", "--dtype", "float32", "--units", "uW",
            "--out", "capture.npy", "--plot", "capture.png"]
    # --decimate sets its own filter; the explicit filter and cutoff above refine it.
    if simulate:
        argv.append("--simulate")
    return zv(argv)


if __name__ == "__main__":
    sys.exit(main())
