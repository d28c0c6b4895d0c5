"""Turning exceptions into one line a user can act on."""


class UsageError(Exception):
    """A problem with the command's options or its surroundings; the text says what to do."""


def describe(error):
    import zvpy

    if isinstance(error, zvpy.NoDeviceError):
        return ("no HLM25 detector found. Check the USB cable, run 'zv list', run 'zv setup' if "
                "the detector is attached but not accessible, or add --simulate to use a "
                "simulated detector.")
    if isinstance(error, (zvpy.Error, UsageError, ValueError)):
        return str(error)  # a libzv error's text carries its code: "libzv error (53): ..."
    if isinstance(error, OSError) and error.filename:
        return f"{error.strerror}: {error.filename}"
    return f"{type(error).__name__}: {error}"
