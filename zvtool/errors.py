"""Turning exceptions into one line a user can act on."""


def describe(error):
    import zvpy

    if isinstance(error, zvpy.NoDeviceError):
        return ("no HLM25 detector found. Check the USB cable, run 'zv list', run 'zv setup' if "
                "the detector is attached but not accessible, or add --simulate to use a "
                "simulated detector.")
    if isinstance(error, zvpy.Error):
        return f"{error} (error code {error.err})"
    if isinstance(error, OSError) and error.filename:
        return f"{error.strerror}: {error.filename}"
    return f"{type(error).__name__}: {error}"
