"""Opening the detector a command works on."""
import contextlib

from zvtool.errors import UsageError


def add_device_arguments(parser):
    parser.add_argument("--serial", metavar="TEXT",
                        help="use the detector whose serial number contains TEXT (default: the "
                        "first one 'zv list' shows)")


@contextlib.contextmanager
def open_device(args, realtime=False):
    """Opens the chosen detector (the simulated one with --simulate, sampling in wall-clock time
    when realtime) and closes it afterwards."""
    import zvpy

    serial = getattr(args, "serial", None)
    if args.simulate:
        from zvtool import simulated

        simulated.attach(realtime=realtime)
        serial = serial or simulated.SERIAL
    try:
        device = zvpy.Device(serial=serial)
    except zvpy.NoDeviceError:
        if getattr(args, "serial", None):
            raise UsageError(f"no HLM25 detector whose serial number contains {serial!r}; "
                             "'zv list' shows the attached ones") from None
        raise
    try:
        yield device
    finally:
        device.close()
