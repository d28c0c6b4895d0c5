#!/usr/bin/python3
"""Writes the seed corpus of the fuzz targets (fuzz/corpus/<target>/): the descriptors, identity
blocks and streams of a well-behaved detector and a few variations, so that every run starts
from inputs that reach deep into the code. Run it again after changing an input format."""
import pathlib
import random
import struct

HERE = pathlib.Path(__file__).resolve().parent


def u16(v):
    return struct.pack("<H", v)


def device_descriptor(bcd_usb, ep0, product=0x0080):
    return bytes([18, 1]) + u16(bcd_usb) + bytes([0, 0, 0, ep0]) + u16(0x2E9D) + u16(product) \
        + u16(0x0102) + bytes([1, 2, 3, 1])


def configuration_descriptor(w_max_packet, companion):
    d = bytearray([9, 2, 0, 0, 1, 1, 0, 0x80, 50])
    d += bytes([9, 4, 0, 0, 0, 0xFF, 0, 0, 0])
    d += bytes([9, 4, 0, 1, 1, 0xFF, 0, 0, 0])
    d += bytes([7, 5, 0x83, 0x01]) + u16(w_max_packet) + bytes([1])
    if companion:
        d += bytes([6, 48, 15, 2]) + u16(49152)
    d[2:4] = u16(len(d))
    return bytes(d)


def bos_descriptor():
    d = bytearray([5, 15, 0, 0, 3])
    d += bytes([7, 16, 2]) + struct.pack("<I", 2)
    d += bytes([10, 16, 3, 0]) + u16(0x0E) + bytes([1, 0x0A]) + u16(0x07FF)
    d += bytes([20, 16, 4, 0]) + bytes(range(16))
    d[2:4] = u16(len(d))
    return bytes(d)


def string_descriptor(text):
    return bytes([2 + 2 * len(text), 3]) + text.encode("utf-16-le")


LANGUAGES = bytes([4, 3]) + u16(0x0409)
SUPER = [(1, 0, device_descriptor(0x0300, 9)), (2, 0, configuration_descriptor(0x0400, True)),
         (15, 0, bos_descriptor()), (3, 0, LANGUAGES), (3, 1, string_descriptor("zv")),
         (3, 2, string_descriptor("HLM25 (simulated)")), (3, 3, string_descriptor("HLM25-S00001IC"))]
HIGH = [(1, 0, device_descriptor(0x0200, 64)), (2, 0, configuration_descriptor(0x1400, False))] \
    + SUPER[3:]


def overrides(which, descriptors):
    out = bytes([which])
    for kind, index, data in descriptors:
        out += bytes([kind, index]) + u16(len(data)) + data
    return out


def identity_block(serial, firmware=(1, 0, 2), adcbits=14, samplerate=80_000_000):
    block = bytes([0]) + bytes(firmware) + serial.encode().ljust(15, b"\0")[:15]
    block += bytes([adcbits]) + struct.pack("<I", samplerate)
    for pair in range(6):
        block += struct.pack("<ff", 0.001 * (pair + 1), -0.5 * pair)
    return block


def identity_input(block, unprogrammed=False, gain=b"\x01", wavelength=1550.0):
    return bytes([1 if unprogrammed else 0, len(gain)]) + gain + struct.pack("<d", wavelength) \
        + block


def write(target, name, data):
    folder = HERE / "corpus" / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data)


def main():
    for name, data in [("device-super", SUPER[0][2]), ("device-high", HIGH[0][2]),
                       ("configuration-super", SUPER[1][2]), ("configuration-high", HIGH[1][2]),
                       ("bos", bos_descriptor())]:
        write("fuzz_descriptors", name, data)

    write("fuzz_device_open", "super", overrides(0, SUPER))
    write("fuzz_device_open", "high", overrides(1, HIGH))
    write("fuzz_device_open", "no-strings", overrides(0, SUPER[:3] + [(3, 0, b"")]))

    write("fuzz_identity", "single-1550-fc", identity_input(identity_block("HLM25-S00001IC")))
    write("fuzz_identity", "balanced-760-fl",
          identity_input(identity_block("HLM25-D00002VL"), gain=b"\x00", wavelength=700.0))
    write("fuzz_identity", "900-fs-unset",
          identity_input(identity_block("HLM25-S00003NF", adcbits=255, samplerate=0xFFFFFFFF)))
    write("fuzz_identity", "full-serial", identity_input(identity_block("ABCDEFGHIJKLMNO")))
    write("fuzz_identity", "short-answer", identity_input(identity_block("HLM25-S1")[:20]))
    write("fuzz_identity", "unprogrammed", identity_input(b"", unprogrammed=True, gain=b""))

    # The remaining targets read their input through FuzzedDataProvider: varied bytes, and for
    # the packet checks words that form the data-loss marker.
    rng = random.Random(25)
    marker = bytes([0xF3, 0xFF, 0x03, 0x00]) * 16
    for target in ("fuzz_transfer_finish", "fuzz_packets", "fuzz_process_raw"):
        for size in (16, 64, 256, 1024):
            write(target, f"random-{size}", bytes(rng.randrange(256) for _ in range(size)))
    write("fuzz_packets", "marker-words", marker * 4 + bytes([0x40, 0xC0, 0x00, 0x80]) * 8)
    write("fuzz_packets", "port-edges", bytes([0x00, 0x40, 0x00, 0x00, 0x00, 0xC0] * 40))


if __name__ == "__main__":
    main()
