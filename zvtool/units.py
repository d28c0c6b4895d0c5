"""Names of the power units a stream can deliver (watts times a power of ten)."""

POWER_UNITS = {-12: "pW", -9: "nW", -6: "µW", -3: "mW", 0: "W"}


def power_unit(exponent):
    return POWER_UNITS.get(exponent, f"W×1e{exponent}")


def exponent_of(unit):
    for exponent, name in POWER_UNITS.items():
        if unit in (name, name.replace("µ", "u")):
            return exponent
    raise ValueError(f"unknown power unit {unit!r}; use one of pW, nW, uW, mW, W")
