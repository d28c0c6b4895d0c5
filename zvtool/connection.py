"""Opening the detector a command works on."""
import contextlib


def add_device_arguments(parser):
    parser.add_argument("--serial", metavar="TEXT",
                        help="use the detector whose serial number contains TEXT")


@contextlib.contextmanager
def open_device(args):
    """Opens the chosen detector (the simulated one with --simulate) and closes it afterwards."""
    import zvpy

    serial = getattr(args, "serial", None)
    if args.simulate:
        from zvtool import simulated

        simulated.attach()
        serial = serial or simulated.SERIAL
    device = zvpy.Device(serial=serial)
    try:
        yield device
    finally:
        device.close()
