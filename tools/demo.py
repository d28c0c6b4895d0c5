"""Prints the zvpy version and the module's lookup tables."""
import zvpy


def main():
    print("zvpy", ".".join(map(str, zvpy.version())))
    for name in ("usb_speed_lookup", "port_lookup", "calibrationtype_lookup"):
        print(f"{name}:")
        for key, value in getattr(zvpy, name).items():
            print(f"  {key!r:24} -> {value!r}")


if __name__ == "__main__":
    main()
