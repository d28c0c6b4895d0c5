"""zv list: every attached detector, real and simulated."""
NAME = "list"
HELP = "list the attached detectors (real and simulated) without disturbing any"


def add_arguments(parser):
    pass


def run(args):
    import zvpy

    if args.simulate:
        from zvtool import simulated

        simulated.attach()
    devices = zvpy.list_devices()
    if not devices:
        print("no HLM25 detector found (try 'zv setup' for USB permissions, or --simulate)")
        return 0
    header = ("serial", "product", "sample rate", "firmware", "usb")
    rows = [(d["serial"], d["product"], f"{d['samplerate'] / 1e6:g} MS/s",
             ".".join(map(str, d["firmware"])), d["usb_speed"]) for d in devices]
    widths = [max(len(str(r[i])) for r in rows + [header]) for i in range(len(header))]
    for row in [header] + rows:
        print("  ".join(str(cell).ljust(width) for cell, width in zip(row, widths)).rstrip())
    return 0
