"""Opens the detector the examples work on: a real HLM25 when one is attached, otherwise (or
with --simulate on the command line) a simulated one with a realistic signal: a laser modulated
at 1 MHz, with noise, and a pulse train on port S."""
import sys

import zvpy


def open_detector() -> zvpy.Device:
    """An open zvpy.Device; close it when done (or use it in a `with` block)."""
    if "--simulate" not in sys.argv[1:] and zvpy.list_devices():
        return zvpy.Device()  # the first real detector
    # zvtool, installed with zvpy, holds the simulated detector the `zv` tool uses.
    from zvtool import simulated

    simulated.attach()
    print(f"(using a simulated HLM25, serial {simulated.SERIAL})")
    return zvpy.Device(serial=simulated.SERIAL)
